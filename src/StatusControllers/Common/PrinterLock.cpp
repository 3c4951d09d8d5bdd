#include "PrinterLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Paths.h"
#include "SerialNumber.h"

namespace {

// Opens the lock folder, creating it for root alone when it is missing. A
// folder that is a link, or that another user owns or can write to, is not
// used: its locks could be taken or replaced by that user.
int OpenLockFolder() {
    const std::string folder = qzm::paths::Rooted(kPrinterLockFolder);
    // "/run" is always there on a running system; under a test root it is
    // made first.
    const std::string parent = folder.substr(0, folder.rfind('/'));
    if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) {
        return -1;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(dir, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 0022) != 0) {
        ::close(dir);
        return -1;
    }
    return dir;
}

}  // namespace

PrinterLock::PrinterLock(std::string_view serial) : serial_(serial) {}

PrinterLock::~PrinterLock() {
    Unlock();
}

PrinterLock::Result PrinterLock::TryLock() {
    if (fd_ >= 0) {
        return kLockTaken;
    }
    // The serial comes from the device; it names a file only when it is safe.
    if (serial_.empty() || !_IsSerialUsableAsName(serial_)) {
        return kLockUnavailable;
    }
    const int dir = OpenLockFolder();
    if (dir < 0) {
        return kLockUnavailable;
    }
    const std::string name = serial_ + ".lock";
    const int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(dir);
    if (fd < 0) {
        return kLockUnavailable;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? kLockBusy : kLockUnavailable;
    }
    fd_ = fd;
    return kLockTaken;
}

void PrinterLock::Unlock() {
    if (fd_ >= 0) {
        // The file stays: removing it could let two holders lock two files.
        ::close(fd_);
        fd_ = -1;
    }
}
