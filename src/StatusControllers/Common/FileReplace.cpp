#include "FileReplace.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNameAttempts = 16;

// A hidden name beside the target that no request-file prefix can match.
std::string AsideName(const std::string& name) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string aside = "." + name + ".";
    for (int i = 0; i < 10; ++i) {
        aside += kDigits[random() % (sizeof kDigits - 1)];
    }
    return aside;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

bool _ReplaceFile(const std::string& folder, const std::string& name, const std::string& text,
                  mode_t mode) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    std::string aside;
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        aside = AsideName(name);
        fd = ::openat(dir, aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        ::close(dir);
        return false;
    }
    bool ok = WriteAll(fd, text);
    ok = ::fchmod(fd, mode) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(dir, aside.c_str(), dir, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir, aside.c_str(), 0);
    }
    ::close(dir);
    return ok;
}
