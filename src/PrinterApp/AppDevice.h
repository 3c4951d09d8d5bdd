// The printer application's way to the printer: the device scheme "qzm480"
// on the project's USB layer and printer lock.
//
// A device URI is "qzm480://usb/QZ-M480?serial=" followed by the printer's
// escaped serial. Opening a device takes the printer lock that the status
// daemon and the CUPS backend share, then the printer itself; the lock is
// held until the device is closed. Written bytes are cut at their packet
// boundaries and sent the way the backend sends a job.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>

#include "PrinterConnection.h"
#include "StreamSender.h"

namespace qzm::app {

inline constexpr char kDeviceScheme[] = "qzm480";
inline constexpr char kDeviceUriPrefix[] = "qzm480://usb/QZ-M480?serial=";

// The device URI of the printer with this escaped serial.
std::string _AppDeviceUri(std::string_view serial);

// The escaped serial of a device URI of this scheme; false for any other URI
// or a serial that cannot name a lock.
bool _SerialFromAppDeviceUri(std::string_view uri, std::string* serial);

// Registers the scheme with PAPPL; bus makes the USB bus for every look at
// the printers. Call once, before the system starts.
void _RegisterDeviceScheme(backend::BusFactory bus);

// True when the last attempt to open the device of this URI found no such
// printer attached (rather than one in use by another program).
bool _PrinterMissing(std::string_view uri);

// The interface of an open device of this scheme, or null for a device of
// another scheme. Used between writes, by the thread that writes.
usb::UsbInterface* _DeviceInterface(pappl_device_t* device);

// True when a write to an open device of this scheme could not be completed
// (the printer went away, or the wait after a sheet was cancelled).
bool _DeviceFailed(pappl_device_t* device);

// Hooks of an open device: what runs after each sheet, and the cancel test of
// the waits there. Cleared when the job ends.
void _SetDeviceHooks(pappl_device_t* device, StreamSender::Hooks hooks);

}  // namespace qzm::app
