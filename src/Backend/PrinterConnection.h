// One QZ-M480 found by its serial and held open, and what it says about
// itself: shared by the backend and the printer application.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PrinterAccess.h"
#include "StatusReport.h"
#include "UsbBus.h"

namespace qzm::backend {

// Makes the USB bus; called afresh for every look at the printers.
using BusFactory = std::function<std::unique_ptr<usb::UsbBus>()>;

// The bus and the printer found on it, kept together: a device must not
// outlive its bus.
struct Connection {
    std::unique_ptr<usb::UsbBus> bus;
    std::unique_ptr<OpenedPrinter> printer;  // destroyed first

    void Reset() {
        printer.reset();
        bus.reset();
    }
};

// Looks for the printer with this escaped serial among the attached ones and
// keeps it open. busy is set when some printer could not be opened because
// another client holds it (it may be the one looked for).
Connection FindPrinter(const BusFactory& factory, const std::string& serial, bool* busy);

// What the printer says about itself between sheets and before a job.
struct Reading {
    int status = kStatusOffline;
    std::string media;  // answers as they came, empty when not read
    std::string initial;
    std::string remain;
};

// Asks the printer for its status, loaded media and ribbon counts.
Reading ReadPrinter(usb::UsbInterface* interface);

// The ribbon level (0 to 100, -1 unknown) of a reading: _MarkerLevel of the
// answers as the information file keeps them.
int ReadingLevel(const Reading& reading);

// The media answer as the information file keeps it: from its 3rd character.
std::string MediaCode(const Reading& reading);

}  // namespace qzm::backend
