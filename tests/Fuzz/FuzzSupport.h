// Helpers of the fuzz targets: the input in parts, a private QZM480_ROOT,
// files for the code under test, and the check that ends a run as a crash.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qzm::fuzz {

// A property the code under test must keep; libFuzzer reports the input,
// and the line of the property that failed is printed first.
inline void Require(bool holds, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (!holds) {
        std::fprintf(stderr, "property failed at %s:%d\n", file, line);
        std::abort();
    }
}

// An input read front to back: selector bytes (0 when used up), the rest.
struct Input {
    Input(const uint8_t* data, size_t size) : text(reinterpret_cast<const char*>(data), size) {}
    explicit Input(std::string_view all) : text(all) {}
    uint8_t Byte() { return text.empty() ? 0 : std::exchange(text, text.substr(1)).front(); }
    std::string_view Rest() { return std::exchange(text, {}); }
    std::string_view text;
};

// Splits text at every separator into at most maxParts parts.
inline std::vector<std::string_view> Split(std::string_view text, std::string_view separator,
                                           size_t maxParts) {
    std::vector<std::string_view> parts;
    for (size_t at; parts.size() + 1 < maxParts && (at = text.find(separator)) != text.npos;) {
        parts.push_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.push_back(text);
    return parts;
}

// A fresh QZM480_ROOT in the temporary folder, which the script removes.
inline std::string MakeProcessRoot() {
    std::string root = (std::filesystem::temp_directory_path() / "qzm480-fuzz-XXXXXX").string();
    Require(::mkdtemp(root.data()) != nullptr && ::setenv("QZM480_ROOT", root.c_str(), 1) == 0);
    return root;
}

// Replaces the file at path with exactly these bytes (folders created).
inline void WriteWholeFile(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    Require(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).good());
}

}  // namespace qzm::fuzz
