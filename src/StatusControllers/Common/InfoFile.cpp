#include "InfoFile.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "CacheFolder.h"
#include "FileReplace.h"
#include "Paths.h"
#include "PhotoPrinterDevice.h"
#include "SerialNumber.h"
#include "StatusQueries.h"

namespace {

constexpr size_t kLineSize = 64;  // each line, line feed included, fits 63 bytes
constexpr mode_t kFileMode = 0666;
constexpr int kStatusGone = 99999;
constexpr int kStatusNoCounter = 900;

constexpr char kDisconnected[] =
    "#PRINTER_INFORMATION\n"
    "MODEL=\"\"\n"
    "PRINTER_STATUS=\"99999\"\n"
    "PRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\n"
    "PRINTER_SERIAL_NO=\"\"\n"
    "\n"
    "#MEDIA_INFORMATION\n"
    "MEDIA_SIZE=\"\"\n"
    "MEDIA_INITIAL=\"\"\n"
    "MEDIA_REMAIN=\"\"\n"
    "MEDIA_REMAIN_HALF=\"\"\n"
    "\n"
    "#COUNTER_INFORMATION\n"
    "TOTAL_COUNT=\"\"\n"
    "\n";

std::string Number(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", value);
    return text;
}

std::string FileName(std::string_view serial) {
    return std::string(qzm::paths::kModelWord) + "_" + std::string(serial) + ".log";
}

// A NUL-terminated field of at most size bytes.
std::string_view FieldText(const char* field, size_t size) {
    return std::string_view(field, ::strnlen(field, size));
}

// Makes sure the folder exists, then replaces the serial's information file.
void Publish(std::string_view serial, const std::string& text) {
    CheckAndMake_CacheFolder();
    _ReplaceFile(qzm::paths::Rooted(qzm::paths::kCacheFolder), FileName(serial), text, kFileMode);
}

// One text query whose answer is kept only when the exchange succeeded.
template <typename Query>
std::optional<std::string> Ask(Query query, qzm::usb::UsbInterface* interface) {
    char text[kQueryFieldSize];
    if (query(interface, text, sizeof text) < 0) {
        return std::nullopt;
    }
    return std::string(text);
}

bool StartsWith(std::string_view name, std::string_view prefix) {
    return name.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string _KeyLine(std::string_view key, std::string_view value) {
    const size_t frame = key.size() + 4;  // =, two quotes, line feed
    const size_t room = kLineSize - 1 > frame ? kLineSize - 1 - frame : 0;
    const std::string shortened = _CutUtf8(std::string(value), room);
    return std::string(key) + "=\"" + shortened + "\"\n";
}

std::string _SkipPrefix(std::string_view text, size_t skip) {
    return text.size() > skip ? std::string(text.substr(skip)) : std::string();
}

void WriteFile(qzm::usb::UsbInterface* interface, thdata* record) {
    if (!interface || !record) {
        return;
    }
    const std::string_view serial = FieldText(record->serialNo, sizeof record->serialNo);
    if (!_IsSerialUsableAsName(serial)) {
        return;
    }
    if (interface->OpenSeize() != 0) {
        return;
    }
    const int32_t flags = record->requestFlags;
    std::optional<std::string> counter;
    if (flags & kRequestTc) {
        counter = Ask(GetTotalCount, interface);
    }
    int status = GetStatus(interface);
    if (status == kStatusUnknown) {
        status = kStatusGone;
    }
    if (!counter && status != kStatusNoCounter && (flags & kRequestStart)) {
        counter = Ask(GetTotalCount, interface);
    }
    const int message = GetMessage(status);

    std::string text = "#PRINTER_INFORMATION\n";
    text += _KeyLine("MODEL", FieldText(record->modelName, sizeof record->modelName));
    text += _KeyLine("PRINTER_STATUS", Number(status));
    text += _KeyLine("PRINTER_MESSAGE", message == -1 ? std::string() : Number(message));
    text += _KeyLine("PRINTER_VERSION", Ask(GetFirmVersion, interface).value_or(""));
    text += _KeyLine("PRINTER_SERIAL_NO", serial);
    text += "\n#MEDIA_INFORMATION\n";
    text += _KeyLine("MEDIA_SIZE", _SkipPrefix(Ask(GetMediaSize, interface).value_or(""), 2));
    text += _KeyLine("MEDIA_INITIAL", _SkipPrefix(Ask(GetMediaInitial, interface).value_or(""), 4));
    text += _KeyLine("MEDIA_REMAIN", _SkipPrefix(Ask(GetMediaRemain, interface).value_or(""), 4));
    text += "\n#COUNTER_INFORMATION\n";
    text += _KeyLine("TOTAL_COUNT", counter ? _SkipPrefix(*counter, 2) : std::string());
    text += "\n";

    interface->Close();
    Publish(serial, text);
}

void WriteFile(const char* serial) {
    if (!serial) {
        return;
    }
    const std::string_view name = FieldText(serial, kQueryFieldSize);
    if (!_IsSerialUsableAsName(name)) {
        return;
    }
    Publish(name, kDisconnected);
}

int pdeFileCheck(const char* serial) {
    if (!serial) {
        return 0;
    }
    const std::string_view name = FieldText(serial, kQueryFieldSize);
    if (!_IsSerialUsableAsName(name)) {
        return 0;
    }
    const std::string base = std::string(qzm::paths::kModelWord) + "_" + std::string(name);
    const std::string util = base + "_UTIL";
    const std::string tc = base + "_TC_UTIL";
    const std::string start = base + "_START_UTIL";

    // Every user can replace the cache folder by a link: the scan, which
    // removes files, never follows one there.
    const int opened = ::open(qzm::paths::Rooted(qzm::paths::kCacheFolder).c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0) {
        return 0;
    }
    DIR* folder = ::fdopendir(opened);
    if (!folder) {
        ::close(opened);
        return 0;
    }
    const int dir = ::dirfd(folder);
    int flags = 0;
    // A name matches by its start, so a suffixed request counts too; the file
    // removed is always the one of exactly the request name. unlinkat removes
    // a link itself, never what it points to.
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view found = entry->d_name;
        if (StartsWith(found, util)) {
            flags |= kRequestUtil;
        }
        if (StartsWith(found, tc)) {
            flags |= kRequestTc;
            ::unlinkat(dir, tc.c_str(), 0);
        }
        if (StartsWith(found, start)) {
            flags |= kRequestStart;
            ::unlinkat(dir, start.c_str(), 0);
        }
    }
    ::closedir(folder);
    return flags;
}
