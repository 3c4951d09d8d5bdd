// The test build of the printer application: the same program, but its
// printers are the emulated ones served on the Unix socket named by
// QZM480_EMULATOR_SOCKET. It is never installed.
#include <cstdlib>
#include <string>

#include "EmulatorSocket.h"
#include "PrinterApp.h"

int main(int argc, char* argv[]) {
    const char* socket = std::getenv("QZM480_EMULATOR_SOCKET");
    const std::string path = socket ? socket : "";
    return qzm::app::PrinterAppMain(argc, argv, [path]() -> std::unique_ptr<qzm::usb::UsbBus> {
        if (path.empty()) {
            return nullptr;
        }
        return qzm::emu::CreateSocketBus(path);
    });
}
