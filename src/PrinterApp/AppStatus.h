// The printer's state as IPP clients see it: printer-state-reasons, the
// ribbon as a supply and the ready media, from what the printer answers.
#pragma once

#include <pappl/pappl.h>

#include "PrinterConnection.h"

namespace qzm::app {

// Every reason this application sets and clears.
inline constexpr pappl_preason_t kManagedReasons =
    PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_EMPTY |
    PAPPL_PREASON_MARKER_SUPPLY_LOW | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_JAM |
    PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE;

// A ribbon level at or below this (and above 0) is low.
inline constexpr int kRibbonLowLevel = 10;

// The reasons for a reading: the backend's reasons for the status code
// ("other-error" is "other", "offline-report" is "offline") and
// marker-supply-low for a ribbon level from 1 to kRibbonLowLevel.
pappl_preason_t _ReasonsOf(const backend::Reading& reading);

// Brings the printer's reasons, its ribbon supply and its ready media in
// line with a reading.
void _ApplyReading(pappl_printer_t* printer, const backend::Reading& reading);

// The printer is not attached: offline, the ribbon level unknown.
void _ApplyOffline(pappl_printer_t* printer);

// PAPPL's status callback: asks the printer when no job holds it.
bool _StatusCallback(pappl_printer_t* printer);

}  // namespace qzm::app
