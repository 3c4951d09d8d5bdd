// The QZ-M480 print queues among the print system's printers, for the menu
// entry that opens the status window: the user picks a queue, the status
// launcher is started for it.
#pragma once

#include <string>
#include <vector>

#include "PrinterList.h"

namespace qzm::statuschooser {

// True when the device URI is one the status launcher accepts: it holds
// "M480", "Orvane" and "ovbackend", and at least one character after its
// first "serial=".
bool IsModelDeviceUri(const std::string& deviceUri);

// The printers of the list whose device URI passes IsModelDeviceUri, in list
// order.
std::vector<platform::PrinterEntry> ModelQueues(const std::vector<platform::PrinterEntry>& list);

// The text shown for a queue in the chooser: its printer name, and the queue
// name in brackets when they differ.
std::string QueueLabel(const platform::PrinterEntry& entry);

}  // namespace qzm::statuschooser
