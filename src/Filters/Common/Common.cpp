// Option values, firmware version and the job's print-status file.
#include "Common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Paths.h"

namespace {

// Every printer of this model reports this firmware version.
constexpr double kFirmwareVersion = 1.53;

// Lines of the print-status file are read in pieces of up to 255 characters.
constexpr int kStatusLine = 256;

// Opens the print-status file for reading. The cache folder is world-writable,
// so only a regular file is accepted: a FIFO or device there must not block
// or steer the filter, and a symbolic link is not followed.
FILE* OpenStatusFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    FILE* file = ::fdopen(fd, "r");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

}  // namespace

const char* _GetCupsValue(const char* name, int numOptions, cups_option_t* options,
                          ppdfile_s* ppd) {
    if (name == nullptr) {
        return nullptr;
    }
    if (const char* value = cupsGetOption(name, numOptions, options)) {
        return value;
    }
    if (std::strcmp(name, "PageSize") == 0) {
        if (const char* media = cupsGetOption("media", numOptions, options)) {
            return media;
        }
    }
    return wrappedPpdFindDefChoice(ppd, name);
}

int32_t _OptionToInt(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    // strtol reads what atoi reads and saturates at the long limits.
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int _GetFirmwVersion(void* /*printer*/, double* version) {
    if (version == nullptr) {
        return 3;
    }
    *version = kFirmwareVersion;
    return 0;
}

void _MakePrintStatusPath(const char* jobId, char (&path)[128]) {
    std::snprintf(path, sizeof path, "%s/Print_%s.log", qzm::paths::kCacheFolder,
                  jobId != nullptr ? jobId : "");
}

int _GetValuePrInfoFile(const char* key, const char* jobId, char* out, int outSize) {
    if (key == nullptr || key[0] == '\0') {
        return 0;
    }
    char designed[128];
    _MakePrintStatusPath(jobId, designed);
    FILE* file = OpenStatusFile(qzm::paths::Rooted(designed));
    if (file == nullptr) {
        return 0;
    }
    char line[kStatusLine];
    const char* found = nullptr;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        found = std::strstr(line, key);
        if (found != nullptr) {
            break;
        }
    }
    std::fclose(file);
    if (found == nullptr) {
        return 0;
    }
    // The value is what remains of the line once every character of the key,
    // every double quote and every line feed is taken out.
    std::string value;
    for (const char* p = found; *p != '\0'; ++p) {
        if (std::strchr(key, *p) == nullptr && *p != '"' && *p != '\n') {
            value.push_back(*p);
        }
    }
    if (out != nullptr && outSize > 0 && value.size() < static_cast<size_t>(outSize)) {
        std::memcpy(out, value.c_str(), value.size() + 1);
    }
    return 0;
}
