// What the daemon's tests compare with: the information file's forms, and
// files and folders read back.
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace qzm::test {

inline const std::string kInfoFolder = "/Library/Caches/Orvane/QZ-M480";

// The information file of an attached printer: the emulator's answers, but
// for the fields given.
struct Info {
    std::string status = "00000", message = "00001", version = "1.00", serial = "QZ0001";
    std::string size = "200", initial = "0400", remain = "0123", counter = "";

    std::string Text() const {
        return "#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"" + status +
               "\"\nPRINTER_MESSAGE=\"" + message + "\"\nPRINTER_VERSION=\"" + version +
               "\"\nPRINTER_SERIAL_NO=\"" + serial + "\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"" +
               size + "\"\nMEDIA_INITIAL=\"" + initial + "\"\nMEDIA_REMAIN=\"" + remain +
               "\"\n\n#COUNTER_INFORMATION\nTOTAL_COUNT=\"" + counter + "\"\n\n";
    }
};

inline const std::string kDisconnected =
    "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n"
    "MEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\nMEDIA_REMAIN_HALF=\"\"\n\n#COUNTER_INFORMATION\n"
    "TOTAL_COUNT=\"\"\n\n";

inline std::string Read(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Every path below folder (links not followed), relative to it.
inline std::set<std::string> Tree(const std::string& folder) {
    std::set<std::string> paths;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
        paths.insert(fs::relative(it->path(), folder).string());
    }
    return paths;
}

}  // namespace qzm::test
