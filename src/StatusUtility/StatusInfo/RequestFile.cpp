#include "RequestFile.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CacheFolder.h"
#include "Paths.h"

namespace qzm::statusinfo {

bool _FormatRequestPath(const char* format, const std::string& serial, std::string& path) {
    path.clear();
    // A serial holding a slash would name a file outside the cache folder.
    if (serial.find('/') != std::string::npos) {
        return false;
    }
    char buffer[kRequestPathSize] = {};
    const int length = std::snprintf(buffer, sizeof(buffer), format, paths::kCacheFolder,
                                     paths::kModelWord, serial.c_str());
    if (length < 0 || static_cast<size_t>(length) >= sizeof(buffer)) {
        return false;
    }
    path.assign(buffer, static_cast<size_t>(length));
    return true;
}

bool _MakeRequestFile(const char* format, const std::string& serial) {
    CheckAndMake_CacheFolder();
    std::string designed;
    if (!_FormatRequestPath(format, serial, designed)) {
        return false;
    }
    const std::string path = paths::Rooted(designed);
    // The folder is world-writable: never follow a link planted at the name,
    // never block on a planted pipe, and only ever empty a plain file.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    ok = ok && ::ftruncate(fd, 0) == 0;
    if (ok) {
        // Every user's daemon pass and window must be able to remove it.
        ::fchmod(fd, 0666);
    }
    ::close(fd);
    return ok;
}

void _RemoveRequestFile(const char* format, const std::string& serial) {
    std::string designed;
    if (_FormatRequestPath(format, serial, designed)) {
        ::unlink(paths::Rooted(designed).c_str());
    }
}

}  // namespace qzm::statusinfo
