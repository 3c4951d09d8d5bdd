// The installed backend: the printers on the USB bus, through libusb.
#include "Backend.h"
#include "UsbLibusb.h"

int main(int argc, char** argv) {
    return qzm::backend::BackendMain(argc, argv, [] { return qzm::usb::CreateLibusbBus(); });
}
