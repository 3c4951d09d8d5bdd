#include "PrintStatusFile.h"

#include <fcntl.h>
#include <unistd.h>

#include "CacheFolder.h"
#include "FileReplace.h"
#include "InfoFile.h"
#include "Paths.h"

namespace {

constexpr size_t kLongestJobId = 10;
// The filter only reads the file; nobody but its writer may change it.
constexpr mode_t kFileMode = 0644;

// The media answer comes from the device: a line feed or another control
// character in it would break the line the filter reads.
std::string Printable(std::string_view text) {
    std::string kept;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            kept += c;
        }
    }
    return kept;
}

}  // namespace

bool _IsJobId(std::string_view jobId) {
    if (jobId.empty() || jobId.size() > kLongestJobId) {
        return false;
    }
    for (const char c : jobId) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::string _PrintStatusFileName(std::string_view jobId) {
    return "Print_" + std::string(jobId) + ".log";
}

std::string _PrintStatusText(std::string_view mediaAnswer) {
    return "#MEDIA_INFORMATION\n" + _KeyLine("MEDIA_SIZE", Printable(_SkipPrefix(mediaAnswer, 2))) +
           "\n";
}

bool PrintStatusFile::Write(std::string_view mediaAnswer) {
    if (!_IsJobId(jobId_)) {
        return false;
    }
    CheckAndMake_CacheFolder();
    // Written aside and renamed into place: the folder is writable by
    // everybody, so the name may already be a link planted there.
    if (_ReplaceFile(qzm::paths::Rooted(qzm::paths::kCacheFolder), _PrintStatusFileName(jobId_),
                     _PrintStatusText(mediaAnswer), kFileMode)) {
        written_ = true;
    }
    return written_;
}

void PrintStatusFile::Remove() {
    if (!written_) {
        return;
    }
    written_ = false;
    const std::string folder = qzm::paths::Rooted(qzm::paths::kCacheFolder);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        ::unlinkat(dir, _PrintStatusFileName(jobId_).c_str(), 0);
        ::close(dir);
    }
}
