// A mocked USB bus for tests of the libusb layer: emulated printers appear
// to libusb as real devices (a udev record, sysfs attributes and descriptors,
// and a usbfs device node whose ioctls are answered here).
//
// The usbfs requests libusb makes are served on umockdev's own thread: bulk
// and control URBs go to the emulated printer, and what it answers is handed
// back when libusb reaps the URB. A read that finds nothing to read stays
// pending, so libusb's own time-out ends it, as on a real bus. Unplugging a
// printer (Unplug, or a fault that removes it in the middle of a transfer)
// ends its pending URBs as the kernel does, fails every later request with
// ENODEV, and sends the "remove" uevent that libusb's hotplug monitor reads.
//
// The program must run with umockdev's preload library (LD_PRELOAD or
// umockdev-wrapper); Available() says whether it does.
#pragma once

#include <memory>
#include <string>

#include "EmulatedPrinter.h"

namespace qzm::test {

// What the mocked kernel holds of one plugged printer.
struct MockUsbCounters {
    int pending = 0;             // URBs submitted and not reaped yet
    bool driverAttached = true;  // the kernel's printer driver holds the interface
    bool claimed = false;
};

class MockUsbBus {
  public:
    // Whether umockdev's preload library is active; why not, otherwise.
    static bool Available(std::string* why);

    // An empty bus. Create it before the libusb context, so libusb sees the
    // mocked /sys and /dev.
    MockUsbBus();
    ~MockUsbBus();
    MockUsbBus(const MockUsbBus&) = delete;
    MockUsbBus& operator=(const MockUsbBus&) = delete;

    // Plugs a printer in and returns its sysfs path. With announce, an "add"
    // uevent tells hotplug monitors; without it, the printer is simply there
    // (as for a printer attached before the program starts).
    std::string Plug(std::shared_ptr<emu::EmulatedPrinter> printer, bool announce = true);
    // Unplugs it: pending URBs end with ESHUTDOWN, later requests fail with
    // ENODEV, a "remove" uevent is sent and the device leaves sysfs.
    void Unplug(const std::string& syspath);

    MockUsbCounters Counters(const std::string& syspath) const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace qzm::test
