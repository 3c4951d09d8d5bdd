// Hostile serial numbers from a counterfeit printer. The serial becomes part
// of file names that a root daemon writes and removes: it must never lead
// outside the cache folder nor into a shell.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "../Support/TempRoot.h"
#include "AttackSupport.h"
#include "CacheFolder.h"
#include "EmulatedPrinter.h"
#include "InfoFile.h"
#include "StatusQueries.h"
#include "ThreadData.h"

namespace {

namespace fs = std::filesystem;
using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;

const std::string kCache = "Library/Caches/Orvane/QZ-M480";

struct HostileSerial {
    std::string sent;      // what the printer answers
    std::string fileName;  // the information file written, empty for none
};

const HostileSerial kSerials[] = {
    {"../../etc/x", ""},
    {"a;touch pwned", "QZ-M480_a;touch%20pwned.log"},
    {"a;touch /tmp/pwned", ""},
    {"$(touch pwned)", "QZ-M480_$(touch%20pwned).log"},
    {"`touch pwned`", "QZ-M480_`touch%20pwned`.log"},
    {"$(id)", "QZ-M480_$(id).log"},
    {std::string(200, 'S'), "QZ-M480_.log"},  // too long: the serial is empty
    {"AB\nCD", ""},
    {"..", ""},
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One printer's life in the daemon core: its serial read, the disconnected
// file, the request scan and an information pass with every request.
void RunPrinter(const std::string& serial) {
    PrinterState state;
    state.serial = serial;
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    ASSERT_EQ(interface->OpenSeize(), 0);
    thdata record;
    const int64_t length = GetSerialNo(interface.get(), record.serialNo, sizeof record.serialNo);
    interface->Close();
    if (length < 0) {
        EXPECT_STREQ(record.serialNo, "");
        return;
    }
    std::strcpy(record.modelName, "QZ-M480");
    record.requestFlags = kRequestUtil | kRequestTc | kRequestStart;
    WriteFile(record.serialNo);
    pdeFileCheck(record.serialNo);
    WriteFile(interface.get(), &record);
}

TEST(SerialAttackTest, HostileSerialsStayFileNamesInTheCacheFolder) {
    qzm::test::TempRoot root;
    const bool pwnedBefore = fs::exists("/tmp/pwned");
    std::set<std::string> expected = {"Library", "Library/Caches", "Library/Caches/Orvane", kCache,
                                      "cwd"};
    {
        qzm::test::WorkingFolder cwd(root.Path() + "/cwd");
        CheckAndMake_CacheFolder();
        for (const HostileSerial& serial : kSerials) {
            SCOPED_TRACE(serial.sent);
            RunPrinter(serial.sent);
            if (!serial.fileName.empty()) {
                expected.insert(kCache + "/" + serial.fileName);
            }
        }
    }
    // Nothing but the information files of the serials that can be names,
    // nothing in the working folder, nothing in /tmp.
    EXPECT_EQ(qzm::test::Tree(root.Path()), expected);
    EXPECT_EQ(fs::exists("/tmp/pwned"), pwnedBefore);
    // Each file names its serial on one line of its own.
    const std::string file = Read(root / ("/" + kCache + "/QZ-M480_$(id).log"));
    EXPECT_NE(file.find("\nPRINTER_SERIAL_NO=\"$(id)\"\n"), std::string::npos) << file;
}

}  // namespace
