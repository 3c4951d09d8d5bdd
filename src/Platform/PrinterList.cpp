#include "PrinterList.h"

#include <cups/cups.h>

namespace qzm::platform {

std::optional<std::vector<PrinterEntry>> GetPrinterList() {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    if (count <= 0) {
        cupsFreeDests(count, dests);
        // A server without printers answers "not found"; that is an empty
        // list, not a missing one.
        const ipp_status_t error = cupsLastError();
        if (error > IPP_STATUS_OK_EVENTS_COMPLETE && error != IPP_STATUS_ERROR_NOT_FOUND) {
            return std::nullopt;
        }
        return std::vector<PrinterEntry>{};
    }

    std::vector<PrinterEntry> list;
    list.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        // Instances (queue/instance) are option sets of the same printer.
        if (dest.instance != nullptr) {
            continue;
        }
        PrinterEntry entry;
        entry.queueName = dest.name ? dest.name : "";
        const char* info = cupsGetOption("printer-info", dest.num_options, dest.options);
        entry.name = (info && *info) ? info : entry.queueName;
        const char* uri = cupsGetOption("device-uri", dest.num_options, dest.options);
        entry.deviceUri = uri ? uri : "";
        list.push_back(std::move(entry));
    }
    cupsFreeDests(count, dests);
    return list;
}

}  // namespace qzm::platform
