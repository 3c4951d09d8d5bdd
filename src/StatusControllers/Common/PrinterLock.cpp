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
// folder that is a link, that a user other than root or this one owns, or
// that others can write to is not used: its locks could be taken or replaced
// by that user. The package may share the folder with the printer
// application's group: it is then group-writable with the set-group-ID bit
// (new locks belong to that group) and the sticky bit (nobody removes
// another's lock). shared tells whether it is.
int OpenLockFolder(bool* shared) {
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
    if (::fstat(dir, &info) != 0) {
        ::close(dir);
        return -1;
    }
    const bool owner = info.st_uid == ::geteuid() || info.st_uid == 0;
    const mode_t sharedBits = S_ISGID | S_ISVTX | 0020;
    *shared = (info.st_mode & sharedBits) == sharedBits;
    if (!owner || (info.st_mode & 0002) != 0 || ((info.st_mode & 0020) != 0 && !*shared)) {
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
    bool shared = false;
    const int dir = OpenLockFolder(&shared);
    if (dir < 0) {
        return kLockUnavailable;
    }
    // A lock needs no more than reading: its group reads it in a shared folder.
    const std::string name = serial_ + ".lock";
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                            shared ? 0640 : 0600);
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
