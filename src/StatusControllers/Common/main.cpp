// infoqzm480: the printer's status daemon.
//
// Without arguments it watches the USB bus for the printer until SIGINT ends
// it. "--once" lists the attached printers and their information files, then
// exits.
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "CacheFolder.h"
#include "DeviceMonitor.h"
#include "DiagnosticReport.h"
#include "UsbLibusb.h"

namespace {

constexpr uint16_t kVendorId = QZM480_USB_VENDOR_ID;
constexpr uint16_t kProductId = QZM480_USB_PRODUCT_ID;

// SIGINT ends the daemon at once with status 0: no worker is told and no file
// is written. Only async-signal-safe calls here.
void SignalHandler(int) {
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0) {
        std::unique_ptr<qzm::usb::UsbBus> bus = qzm::usb::CreateLibusbBus();
        if (!bus) {
            std::cout << "USB cannot be used here.\n";
            return 1;
        }
        if (_ReportAttachedPrinters(*bus, kVendorId, kProductId, std::cout) != 0) {
            std::cout << "The USB bus cannot be watched here.\n";
            return 1;
        }
        return 0;
    }

    struct sigaction action {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    CheckAndMake_CacheFolder();

    std::unique_ptr<qzm::usb::UsbBus> bus = qzm::usb::CreateLibusbBus();
    if (!bus) {
        return -1;
    }
    DeviceMonitor monitor(*bus);
    if (monitor.Start(kVendorId, kProductId) != 0) {
        return -1;
    }
    monitor.Run();
}
