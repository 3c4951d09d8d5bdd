// The print system's list of printers: for each queue its printer name and
// device URI.
//
// The list comes from the local CUPS server (CUPS_SERVER and the client
// configuration decide which one). A printer's name is its "printer-info"
// text, or the queue name when that is empty.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qzm::platform {

// One printer of the list.
struct PrinterEntry {
    std::string name;       // "printer-info", or the queue name when empty
    std::string deviceUri;  // "device-uri"; empty when the queue has none
    std::string queueName;  // the destination name
};

// Returns the printers of the local server in the server's order, or nothing
// when the list is not available (no destinations and the server gave an
// error). A server that answers with no printers gives an empty list.
std::optional<std::vector<PrinterEntry>> GetPrinterList();

}  // namespace qzm::platform
