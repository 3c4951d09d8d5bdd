// The USB service on libusb-1.0.
//
// Arrivals and removals come from hotplug callbacks registered with
// enumeration (so the printers already attached arrive first); a device opens
// with libusb_open; an interface is taken from the kernel's printer driver and
// claimed, then released and given back; pipe 1 and pipe 2 are the first and
// second endpoint of the interface's alternate setting 0; a bulk transfer is
// submitted and the calling thread handles libusb events until it completed.
#pragma once

#include <memory>

#include "UsbBus.h"

namespace qzm::usb {

// A bus on a libusb context of its own, or null when libusb cannot start.
std::unique_ptr<UsbBus> CreateLibusbBus();

}  // namespace qzm::usb
