// qzm480-printer-app: the QZ-M480 as an IPP Everywhere printer, on PAPPL's
// main loop with its usual sub-commands and one driver, "qzm480".
#pragma once

#include <pappl/pappl.h>

#include "PrinterConnection.h"

namespace qzm::app {

inline constexpr char kDriverName[] = "qzm480";

// PAPPL's driver callback: media, resolutions, colour, vendor attributes and
// the raster callbacks of the driver.
bool _DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                     const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes,
                     void* context);

// The program: registers the device scheme on bus and runs the main loop.
int PrinterAppMain(int argc, char* argv[], backend::BusFactory bus);

}  // namespace qzm::app
