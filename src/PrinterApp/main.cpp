// qzm480-printer-app: the QZ-M480 as an IPP Everywhere printer.
//
//   qzm480-printer-app server [-o server-port=N] [-o listen-hostname=HOST]
//       [-o state-file=FILE] [-o spool-directory=DIR] ...
//   qzm480-printer-app add|delete|devices|drivers|printers|status|submit|...
#include "PrinterApp.h"
#include "UsbLibusb.h"

int main(int argc, char* argv[]) {
    return qzm::app::PrinterAppMain(argc, argv, [] { return qzm::usb::CreateLibusbBus(); });
}
