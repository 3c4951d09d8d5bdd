#include "SafeRemove.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Paths.h"

namespace qzm::uninstall {

namespace {

// Owns one open descriptor.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

// Where the walk down to a designed path's last component ended.
enum class Walk {
    kOpened,   // the parent folder is open and the leaf name is known
    kMissing,  // a folder on the way does not exist: nothing stands at the path
    kBlocked,  // a link or an unreadable folder stands on the way
};

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the folder holding the designed path's last component. The
// QZM480_ROOT prefix is opened as given; each designed component below it
// is opened without following a link.
Walk OpenParent(std::string_view designed, UniqueFd* parent, std::string* leaf) {
    const std::string root = qzm::paths::Root();
    const char* top = root.empty() ? "/" : root.c_str();
    UniqueFd dir(::open(top, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid())
        return errno == ENOENT || errno == ENOTDIR ? Walk::kMissing : Walk::kBlocked;

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= designed.size()) {
        size_t end = designed.find('/', start);
        if (end == std::string_view::npos)
            end = designed.size();
        if (end > start)
            parts.emplace_back(designed.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty())
        return Walk::kBlocked;
    for (const std::string& part : parts) {
        if (part == "." || part == "..")
            return Walk::kBlocked;
    }

    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        UniqueFd next(::openat(dir.Get(), parts[i].c_str(), kDirFlags));
        if (!next.Valid()) {
            struct stat st {};
            if (::fstatat(dir.Get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                return errno == ENOENT ? Walk::kMissing : Walk::kBlocked;
            }
            if (S_ISLNK(st.st_mode))
                return Walk::kBlocked;
            // A file where a folder belongs: nothing can stand below it.
            return S_ISDIR(st.st_mode) ? Walk::kBlocked : Walk::kMissing;
        }
        dir = std::move(next);
    }
    *parent = std::move(dir);
    *leaf = parts.back();
    return Walk::kOpened;
}

bool RemoveAt(int dirFd, const char* name, dev_t parentDev);

// Removes everything inside the open folder.
bool RemoveContents(int dirFd, dev_t dev) {
    int listFd = ::dup(dirFd);
    if (listFd < 0)
        return false;
    DIR* list = ::fdopendir(listFd);
    if (list == nullptr) {
        ::close(listFd);
        return false;
    }
    // Names are collected first so that removing does not disturb the listing.
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(list)) {
        std::string_view name(entry->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    bool listed = errno == 0;
    ::closedir(list);
    if (!listed)
        return false;

    for (const std::string& name : names) {
        if (!RemoveAt(dirFd, name.c_str(), dev))
            return false;
    }
    return true;
}

// Removes the entry `name` of the open folder, never following a link. A
// folder on another file system (a mount) is not entered.
bool RemoveAt(int dirFd, const char* name, dev_t parentDev) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(dirFd, name, 0) == 0 || errno == ENOENT;

    if (st.st_dev != parentDev)
        return false;
    UniqueFd child(::openat(dirFd, name, kDirFlags));
    if (!child.Valid())
        return false;
    struct stat opened {};
    // The folder opened must be the one examined, not something swapped in.
    if (::fstat(child.Get(), &opened) != 0 || opened.st_ino != st.st_ino ||
        opened.st_dev != st.st_dev) {
        return false;
    }
    if (!RemoveContents(child.Get(), st.st_dev))
        return false;
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

bool RemoveItem(std::string_view designed) {
    UniqueFd parent;
    std::string leaf;
    switch (OpenParent(designed, &parent, &leaf)) {
        case Walk::kMissing:
            return true;
        case Walk::kBlocked:
            return false;
        case Walk::kOpened:
            break;
    }
    struct stat st {};
    if (::fstat(parent.Get(), &st) != 0)
        return false;
    return RemoveAt(parent.Get(), leaf.c_str(), st.st_dev);
}

void RemoveFolderIfEmpty(std::string_view designed) {
    UniqueFd parent;
    std::string leaf;
    if (OpenParent(designed, &parent, &leaf) != Walk::kOpened)
        return;
    struct stat st {};
    if (::fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode))
        return;
    // Removing a folder fails while anything (hidden entries too) is inside.
    ::unlinkat(parent.Get(), leaf.c_str(), AT_REMOVEDIR);
}

}  // namespace qzm::uninstall
