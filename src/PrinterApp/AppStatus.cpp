#include "AppStatus.h"

#include <cstdio>

#include "AppDevice.h"
#include "AppMedia.h"
#include "StatusReport.h"

namespace qzm::app {

namespace {

constexpr char kRollSource[] = "main-roll";

void SetRibbon(pappl_printer_t* printer, int level) {
    pappl_supply_t supply{};
    supply.color = PAPPL_SUPPLY_COLOR_MULTIPLE;
    std::snprintf(supply.description, sizeof supply.description, "Ribbon");
    supply.is_consumed = true;
    supply.level = level;
    supply.type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
    papplPrinterSetSupplies(printer, 1, &supply);
}

// Offers the roll's first size as ready media when it changed; a roll that
// is not known leaves the ready media as they are.
void SetReadyMedia(pappl_printer_t* printer, const AppMedia* media) {
    if (media == nullptr) {
        return;
    }
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    if (media->pwgName == data.media_ready[0].size_name) {
        return;
    }
    pappl_media_col_t ready = data.media_ready[0];
    ready.size_width = media->width;
    ready.size_length = media->length;
    std::snprintf(ready.size_name, sizeof ready.size_name, "%s", media->pwgName.c_str());
    std::snprintf(ready.source, sizeof ready.source, "%s", kRollSource);
    papplPrinterSetReadyMedia(printer, 1, &ready);
}

}  // namespace

pappl_preason_t _ReasonsOf(const backend::Reading& reading) {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    for (const std::string& reason : _StateReasons(reading.status)) {
        if (reason == "media-empty") reasons |= PAPPL_PREASON_MEDIA_EMPTY;
        if (reason == "marker-supply-empty") reasons |= PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
        if (reason == "cover-open") reasons |= PAPPL_PREASON_COVER_OPEN;
        if (reason == "media-jam") reasons |= PAPPL_PREASON_MEDIA_JAM;
        if (reason == "other-error") reasons |= PAPPL_PREASON_OTHER;
        if (reason == "offline-report") reasons |= PAPPL_PREASON_OFFLINE;
    }
    const int level = backend::ReadingLevel(reading);
    if (level > 0 && level <= kRibbonLowLevel) {
        reasons |= PAPPL_PREASON_MARKER_SUPPLY_LOW;
    }
    return reasons;
}

void _ApplyReading(pappl_printer_t* printer, const backend::Reading& reading) {
    const pappl_preason_t reasons = _ReasonsOf(reading);
    papplPrinterSetReasons(printer, reasons, kManagedReasons & ~reasons);
    SetRibbon(printer, backend::ReadingLevel(reading));
    SetReadyMedia(printer, _ReadyMediaForRoll(backend::MediaCode(reading)));
}

void _ApplyOffline(pappl_printer_t* printer) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE,
                           kManagedReasons & ~PAPPL_PREASON_OFFLINE);
    SetRibbon(printer, -1);
}

bool _StatusCallback(pappl_printer_t* printer) {
    // A printer busy with a job is followed by the job itself.
    if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) {
        return true;
    }
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (device == nullptr) {
        const char* uri = papplPrinterGetDeviceURI(printer);
        if (uri != nullptr && _PrinterMissing(uri)) {
            _ApplyOffline(printer);
        }
        return true;
    }
    if (usb::UsbInterface* interface = _DeviceInterface(device)) {
        _ApplyReading(printer, backend::ReadPrinter(interface));
    }
    papplPrinterCloseDevice(printer);
    return true;
}

}  // namespace qzm::app
