// Every fixed path of the package, and the QZM480_ROOT prefix.
//
// The designed paths stay exactly as the package uses them on every platform.
// When the environment variable QZM480_ROOT is set (tests and staged
// installs), its value is put in front of every path that our programs open,
// create, list or remove. Texts handed to other programs (lpadmin arguments,
// device URIs) never carry the prefix.
#pragma once

#include <string>
#include <string_view>

namespace qzm::paths {

// Cache folder shared by the daemon, the status window and the filter.
inline constexpr char kCacheParent[] = "/Library/Caches/Orvane";
inline constexpr char kCacheFolder[] = "/Library/Caches/Orvane/QZ-M480";
inline constexpr char kCacheStrayFile[] = "/Library/Caches/Orvane/.DS_Store";

// Model word used in cache file names.
inline constexpr char kModelWord[] = "QZ-M480";

// Colour profiles.
inline constexpr char kProfileFolder[] = "/Library/ColorSync/Profiles/";
inline constexpr char kProfileM480[] = "/Library/ColorSync/Profiles/M480_0100.icc";
inline constexpr char kProfileOV480[] = "/Library/ColorSync/Profiles/ov-480-mac-251126-5.icc";

// Printer files.
inline constexpr char kPpd[] = "/Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
inline constexpr char kPpdModelLink[] =
    "/usr/share/cups/model/Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
inline constexpr char kOrvaneFolder[] = "/Library/Printers/Orvane";
inline constexpr char kFiltersFolder[] = "/Library/Printers/Orvane/Filters";
inline constexpr char kFilter[] = "/Library/Printers/Orvane/Filters/rastertoqzm480";
inline constexpr char kIconsFolder[] = "/Library/Printers/Orvane/Icons";
inline constexpr char kIcon[] = "/Library/Printers/Orvane/Icons/orvane-qzm480.icns";
inline constexpr char kUtilitiesFolder[] = "/Library/Printers/Orvane/Utilities";
inline constexpr char kStatusUtility[] =
    "/Library/Printers/Orvane/Utilities/StatusUtilityQZ-M480.app";
inline constexpr char kStatusControllersFolder[] = "/Library/Printers/Orvane/StatusControllers";
inline constexpr char kDaemon[] = "/Library/Printers/Orvane/StatusControllers/infoqzm480";

// Service manager and privileged helper (Linux forms of the designed job files).
inline constexpr char kDaemonUnitName[] = "com.orvane.infoqzm480.service";
inline constexpr char kDaemonUnit[] = "/etc/systemd/system/com.orvane.infoqzm480.service";
inline constexpr char kHelperPolicy[] =
    "/usr/share/polkit-1/actions/com.orvane.UninstallHelperQZM480.policy";
inline constexpr char kHelper[] = "/Library/PrivilegedHelperTools/com.orvane.UninstallHelperQZM480";

// The CUPS backend lives in CUPS's program folder; see ServerBin().
inline constexpr char kBackendName[] = "ovbackend";

// Value of QZM480_ROOT, or empty when it is unset.
std::string Root();

// QZM480_ROOT followed by the designed path.
std::string Rooted(std::string_view designed);

// CUPS's program folder ("cups-config --serverbin"; /usr/lib/cups on Debian).
std::string ServerBin();

// Designed path of the CUPS backend: <serverbin>/backend/ovbackend.
std::string BackendPath();

}  // namespace qzm::paths
