// The daemon's diagnostic mode: what the attached printers say about
// themselves, and their information files, as text for a person.
#pragma once

#include <cstdint>
#include <ostream>

#include "UsbBus.h"

// Lists the printers attached to bus (serial number and model, read from
// each printer) and the content of their information files. Writes no file
// and creates no queue. Returns 0, or non-zero when the bus cannot be
// watched.
int _ReportAttachedPrinters(qzm::usb::UsbBus& bus, uint16_t vendorId, uint16_t productId,
                            std::ostream& out);
