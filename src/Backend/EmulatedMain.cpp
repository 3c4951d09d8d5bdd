// The test build of the backend: the same program, but its printers are the
// emulated ones served on the Unix socket named by QZM480_EMULATOR_SOCKET.
// It is never installed; the end-to-end tests put it in a private CUPS
// server's program folder, whose configuration passes the variable.
#include <cstdlib>

#include "Backend.h"
#include "EmulatorSocket.h"

int main(int argc, char** argv) {
    const char* socket = std::getenv("QZM480_EMULATOR_SOCKET");
    const std::string path = socket ? socket : "";
    return qzm::backend::BackendMain(argc, argv, [path]() -> std::unique_ptr<qzm::usb::UsbBus> {
        if (path.empty()) {
            return nullptr;
        }
        return qzm::emu::CreateSocketBus(path);
    });
}
