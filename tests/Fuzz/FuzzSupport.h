// Small helpers shared by the fuzz targets: splitting the input into parts,
// a private QZM480_ROOT for the process, and files the code under test reads.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qzm::fuzz {

// Reads an input front to back: a few selector bytes, then the rest.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next byte, or 0 when the input is used up.
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Everything not read yet.
    std::string_view Rest() {
        const std::string_view rest(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        at_ = size_;
        return rest;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Splits text at every occurrence of separator (at most maxParts parts; the
// last part keeps any further separators).
inline std::vector<std::string_view> Split(std::string_view text, std::string_view separator,
                                           size_t maxParts) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < maxParts) {
        const size_t at = text.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        parts.push_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.push_back(text);
    return parts;
}

// A fresh QZM480_ROOT for the whole fuzzing process: in QZM480_FUZZ_TMP when
// set (scripts/fuzz.sh removes it afterwards), else in memory when /dev/shm
// exists. libFuzzer ends the process without running destructors, so the
// folder is left behind; it is tiny.
inline std::string MakeProcessRoot() {
    const char* tmp = std::getenv("QZM480_FUZZ_TMP");
    const std::string base = tmp && *tmp ? std::string(tmp)
                             : std::filesystem::exists("/dev/shm")
                                 ? std::string("/dev/shm")
                                 : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(base);
    std::string pattern = base + "/qzm480-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    ::setenv("QZM480_ROOT", pattern.c_str(), 1);
    return pattern;
}

// Replaces the file at path with exactly these bytes (folders created).
inline void WriteWholeFile(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::abort();
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) {
            std::abort();
        }
        done += static_cast<size_t>(wrote);
    }
    ::close(fd);
}

// True when text is valid UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF).
inline bool IsUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<uint8_t>(text[at]);
        size_t length = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) {
            const auto next = static_cast<uint8_t>(text[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        at += length;
    }
    return true;
}

}  // namespace qzm::fuzz
