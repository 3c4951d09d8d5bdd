// The empty request files that the status window leaves in the cache folder
// for the daemon: the open marker, the start request and the update request.
#pragma once

#include <string>

namespace qzm::statusinfo {

// Name patterns of the request files (cache folder, model word, serial).
inline constexpr char kOpenMarkerFormat[] = "%s/%s_%s_UTIL";
inline constexpr char kStartRequestFormat[] = "%s/%s_%s_START_UTIL";
inline constexpr char kUpdateRequestFormat[] = "%s/%s_%s_TC_UTIL";

// The paths are built in 128-byte buffers.
inline constexpr size_t kRequestPathSize = 128;

// Formats the designed path of a request file for the serial (without the
// QZM480_ROOT prefix). Returns false, and leaves path empty, when the path
// does not fit the 128-byte buffer or the serial would leave the folder.
bool _FormatRequestPath(const char* format, const std::string& serial, std::string& path);

// Makes the cache folders and an empty request file with mode 0666. A link or
// anything but a plain file planted at the name is refused, as is a path that
// does not fit. Returns true when the file exists empty afterwards.
bool _MakeRequestFile(const char* format, const std::string& serial);

// Removes a request file; failures are ignored.
void _RemoveRequestFile(const char* format, const std::string& serial);

}  // namespace qzm::statusinfo
