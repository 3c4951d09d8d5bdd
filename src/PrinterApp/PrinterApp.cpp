#include "PrinterApp.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "AppDevice.h"
#include "AppJob.h"
#include "AppMedia.h"
#include "AppImages.h"
#include "AppStatus.h"
#include "JobSettings.h"

namespace qzm::app {

namespace {

constexpr char kVersion[] = "1.0.0";
constexpr char kBaseName[] = "qzm480-printer-app";
constexpr int kDefaultPort = 8480;
// The printer's own command stream as a document format.
constexpr char kDriverFormat[] = "application/vnd.orvane-qzm480";

pappl_pr_driver_t gDrivers[] = {
    {kDriverName, "Orvane QZ-M480", "MFG:Orvane;MDL:QZ-M480;", nullptr},
};

const char* AutoAdd(const char*, const char* uri, const char* deviceId, void*) {
    if (uri != nullptr && std::strncmp(uri, kDeviceUriPrefix, std::strlen(kDeviceUriPrefix)) == 0) {
        return kDriverName;
    }
    return deviceId != nullptr && std::strstr(deviceId, "MDL:QZ-M480;") ? kDriverName : nullptr;
}

// A document in the printer's own format is not taken: only the filter's
// image path may write to the printer.
bool _PrintRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    papplJobSetMessage(job, "Documents in the printer's own format are not accepted.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

void Identify(pappl_printer_t*, pappl_identify_actions_t, const char*) {
    // The printer has no light, sound or display to show.
}

// Where the printers and their settings are kept between runs.
std::string StateFile(int numOptions, cups_option_t* options) {
    if (const char* file = cupsGetOption("state-file", numOptions, options)) {
        return file;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
        return std::string(config) + "/" + kBaseName + ".state";
    }
    if (const char* home = std::getenv("HOME")) {
        return std::string(home) + "/.config/" + kBaseName + ".state";
    }
    return std::string("/tmp/") + kBaseName + std::to_string(::getuid()) + ".state";
}

std::string gStateFile;

bool SaveState(pappl_system_t* system, void*) {
    return papplSystemSaveState(system, gStateFile.c_str());
}

pappl_system_t* MakeSystem(int numOptions, cups_option_t* options, void*) {
    const char* value = cupsGetOption("server-port", numOptions, options);
    const int port = value ? std::atoi(value) : kDefaultPort;
    const char* listen = cupsGetOption("listen-hostname", numOptions, options);
    const char* spool = cupsGetOption("spool-directory", numOptions, options);
    const char* log = cupsGetOption("log-file", numOptions, options);
    const char* level = cupsGetOption("log-level", numOptions, options);
    const char* auth = cupsGetOption("auth-service", numOptions, options);
    const char* adminGroup = cupsGetOption("admin-group", numOptions, options);
    pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_WARN;
    if (level != nullptr) {
        if (!std::strcmp(level, "debug")) logLevel = PAPPL_LOGLEVEL_DEBUG;
        else if (!std::strcmp(level, "info")) logLevel = PAPPL_LOGLEVEL_INFO;
        else if (!std::strcmp(level, "error")) logLevel = PAPPL_LOGLEVEL_ERROR;
    }
    const pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                      PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY |
                                      PAPPL_SOPTIONS_NO_TLS;
    pappl_system_t* system = papplSystemCreate(soptions, "QZ-M480 Printer Application", port,
                                               "_print,_universal", spool, log ? log : "-",
                                               logLevel, auth, false);
    if (system == nullptr) {
        return nullptr;
    }
    // Localhost only unless another name (or "*" for every address) is given.
    const std::string hosts = listen ? listen : "localhost";
    if (hosts == "*") {
        papplSystemAddListeners(system, nullptr);
    } else {
        papplSystemAddListeners(system, hosts.c_str());
    }
    // JPEG and PNG go through filters of their own, found before PAPPL's
    // because they lead to the driver's format.
    papplSystemAddMIMEFilter(system, "image/jpeg", kDriverFormat, _FilterJpeg, nullptr);
    papplSystemAddMIMEFilter(system, "image/png", kDriverFormat, _FilterPng, nullptr);
    if (adminGroup != nullptr) {
        papplSystemSetAdminGroup(system, adminGroup);
    }
    papplSystemSetPrinterDrivers(system, static_cast<int>(sizeof gDrivers / sizeof gDrivers[0]),
                                 gDrivers, AutoAdd, nullptr, _DriverCallback, nullptr);
    papplSystemSetFooterHTML(system, "QZ-M480 Printer Application");
    pappl_version_t version{};
    std::snprintf(version.name, sizeof version.name, "%s", kBaseName);
    std::snprintf(version.sversion, sizeof version.sversion, "%s", kVersion);
    version.version[0] = 1;
    papplSystemSetVersions(system, 1, &version);
    gStateFile = StateFile(numOptions, options);
    papplSystemLoadState(system, gStateFile.c_str());
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    return system;
}

}  // namespace

bool _DriverCallback(pappl_system_t*, const char* driverName, const char*, const char*,
                     pappl_pr_driver_data_t* data, ipp_t** attributes, void*) {
    if (driverName == nullptr || std::strcmp(driverName, kDriverName) != 0) {
        return false;
    }
    data->identify_cb = Identify;
    data->rstartjob_cb = _StartJob;
    data->rstartpage_cb = _StartPage;
    data->rwriteline_cb = _WriteLine;
    data->rendpage_cb = _EndPage;
    data->rendjob_cb = _EndJob;
    data->status_cb = _StatusCallback;
    data->printfile_cb = _PrintRaw;
    data->format = kDriverFormat;
    std::snprintf(data->make_and_model, sizeof data->make_and_model, "Orvane QZ-M480");
    data->ppm = 1;
    data->ppm_color = 1;
    data->kind = PAPPL_KIND_PHOTO | PAPPL_KIND_ROLL;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->color_supported = PAPPL_COLOR_MODE_COLOR;
    data->color_default = PAPPL_COLOR_MODE_COLOR;
    data->content_default = PAPPL_CONTENT_PHOTO;
    // draft, normal and high are 300, 300 x 600 and 600 dpi; draft is the
    // PPD's default resolution.
    data->quality_default = IPP_QUALITY_DRAFT;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_SRGB_8;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_NONE;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_NONE;

    data->num_resolution = 3;
    data->x_resolution[0] = 300;
    data->y_resolution[0] = 300;
    data->x_resolution[1] = 300;
    data->y_resolution[1] = 600;
    data->x_resolution[2] = 600;
    data->y_resolution[2] = 600;
    data->x_default = 300;
    data->y_default = 300;

    // Every size is the printer's whole print area: no margins.
    data->borderless = true;
    data->left_right = 0;
    data->bottom_top = 0;
    const auto& media = _AppMediaList();
    data->num_media = static_cast<int>(media.size());
    for (size_t i = 0; i < media.size(); ++i) {
        data->media[i] = media[i].pwgName.c_str();
    }
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->num_type = 1;
    data->type[0] = "photographic-glossy";
    pappl_media_col_t& ready = data->media_ready[0];
    const AppMedia& first = media[6];  // 6 x 4 in, the PPD's default
    ready.size_width = first.width;
    ready.size_length = first.length;
    std::snprintf(ready.size_name, sizeof ready.size_name, "%s", first.pwgName.c_str());
    std::snprintf(ready.source, sizeof ready.source, "main-roll");
    std::snprintf(ready.type, sizeof ready.type, "photographic-glossy");
    data->media_default = ready;

    const auto& vendor = _VendorSettings();
    data->num_vendor = static_cast<int>(vendor.size());
    for (size_t i = 0; i < vendor.size(); ++i) {
        data->vendor[i] = vendor[i].name;
    }
    *attributes = ippNew();
    _AddVendorAttributes(*attributes);
    // The colour transform takes each profile's own rendering intent; pages
    // are one-sided, so a back side never turns.
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
                 nullptr, "auto");
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD,
                 "print-rendering-intent-supported", nullptr, "auto");
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
                 nullptr, "normal");
    ippAddBoolean(*attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    return true;
}

int PrinterAppMain(int argc, char* argv[], backend::BusFactory bus) {
    _RegisterDeviceScheme(std::move(bus));
    return papplMainloop(argc, argv, kVersion, nullptr,
                         static_cast<int>(sizeof gDrivers / sizeof gDrivers[0]), gDrivers, AutoAdd,
                         _DriverCallback, nullptr, nullptr, MakeSystem, nullptr, nullptr);
}

}  // namespace qzm::app
