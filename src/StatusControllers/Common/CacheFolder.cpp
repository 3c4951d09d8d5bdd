#include "CacheFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Paths.h"

namespace {

constexpr mode_t kSharedMode = 0777;
constexpr mode_t kAncestorMode = 0755;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Creates a world-writable folder; the mode is set again explicitly because
// the process umask trims the mode given to mkdir. It is set through the new
// folder itself: the folder above is writable by everybody, so by now the
// name may stand for a link to somewhere else, which must not become 0777.
bool MakeShared(const std::string& path) {
    if (::mkdir(path.c_str(), kSharedMode) != 0) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::fchmod(fd, kSharedMode);
        ::close(fd);
    }
    return true;
}

// Linux has no "/Library/Caches": create the missing ancestors of the
// parent folder as ordinary root-owned folders.
void MakeAncestors(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string ancestor = path.substr(0, slash);
        if (!Exists(ancestor)) {
            ::mkdir(ancestor.c_str(), kAncestorMode);
        }
    }
}

}  // namespace

void CheckAndMake_CacheFolder() {
    const std::string parent = qzm::paths::Rooted(qzm::paths::kCacheParent);
    if (!Exists(parent)) {
        MakeAncestors(parent);
        if (!MakeShared(parent)) {
            return;
        }
    }
    CheckAndMake_CacheSubFolder();
}

void CheckAndMake_CacheSubFolder() {
    const std::string folder = qzm::paths::Rooted(qzm::paths::kCacheFolder);
    if (!Exists(folder)) {
        MakeShared(folder);
    }
}
