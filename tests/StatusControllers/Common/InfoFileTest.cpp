// Information passes, the disconnected file and the request scan, in a
// temporary root against the emulated printer.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "../../Support/ByteCompare.h"
#include "../../Support/TempRoot.h"
#include "EmulatedPrinter.h"
#include "CacheFolder.h"
#include "InfoFile.h"

namespace fs = std::filesystem;
using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;

namespace {

const std::string kFolder = "/Library/Caches/Orvane/QZ-M480";

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Touch(const std::string& path) {
    std::ofstream(path).close();
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The queries in the order the printer received them, as "COMMAND/SUB".
std::vector<std::string> Exchanges(const EmulatedPrinter& printer) {
    std::vector<std::string> order;
    for (const auto& p : printer.Packets()) {
        order.push_back(p.command + "/" + p.subCommand);
    }
    return order;
}

// One printer with its record, as the daemon holds them during a pass.
struct Pass {
    std::shared_ptr<EmulatedPrinter> printer;
    std::unique_ptr<qzm::usb::UsbInterface> intf;
    thdata record;

    explicit Pass(PrinterState state = {}, const char* serial = "QZ0001",
                  const char* model = "QZ-M480")
        : printer(EmulatedPrinter::Create(std::move(state))), intf(printer->CreateInterface()) {
        std::strncpy(record.serialNo, serial, sizeof record.serialNo - 1);
        std::strncpy(record.modelName, model, sizeof record.modelName - 1);
        record.serialKnown = 1;
        record.modelKnown = 1;
    }
    void Run(int32_t flags) {
        record.requestFlags = flags;
        WriteFile(intf.get(), &record);
    }
};

std::string Attached(const std::string& status, const std::string& message,
                     const std::string& counter) {
    return "#PRINTER_INFORMATION\n"
           "MODEL=\"QZ-M480\"\n"
           "PRINTER_STATUS=\"" +
           status +
           "\"\n"
           "PRINTER_MESSAGE=\"" +
           message +
           "\"\n"
           "PRINTER_VERSION=\"1.00\"\n"
           "PRINTER_SERIAL_NO=\"QZ0001\"\n"
           "\n"
           "#MEDIA_INFORMATION\n"
           "MEDIA_SIZE=\"200\"\n"
           "MEDIA_INITIAL=\"0400\"\n"
           "MEDIA_REMAIN=\"0123\"\n"
           "\n"
           "#COUNTER_INFORMATION\n"
           "TOTAL_COUNT=\"" +
           counter +
           "\"\n"
           "\n";
}

const char kDisconnected[] =
    "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n"
    "MEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\nMEDIA_REMAIN_HALF=\"\"\n\n#COUNTER_INFORMATION\n"
    "TOTAL_COUNT=\"\"\n\n";

TEST(InfoFileTest, FileBytesForAnAttachedPrinter) {
    qzm::test::TempRoot root;
    const mode_t oldMask = ::umask(022);
    Pass pass;
    pass.Run(kRequestTc);
    ::umask(oldMask);
    const std::string path = root / (kFolder + "/QZ-M480_QZ0001.log");
    const std::string text = Read(path);
    EXPECT_TRUE(
        qzm::test::BytesEqual(text.data(), text.size(), Attached("00000", "00001", "00042")));
    EXPECT_EQ(ModeOf(path), 0666u);
    EXPECT_EQ(ModeOf(root / kFolder), 0777u);
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane"), 0777u);
    // Only the file itself: nothing written aside is left behind.
    EXPECT_EQ(Listing(root / kFolder), std::set<std::string>{"QZ-M480_QZ0001.log"});
    EXPECT_FALSE(pass.printer->InterfaceOpen());
}

TEST(InfoFileTest, OrderOfExchangesForEachRequest) {
    const std::vector<std::string> tail = {"INFO/FVER", "INFO/MEDIA", "INFO/MQTY_DEFAULT",
                                           "INFO/MQTY"};
    auto with = [&tail](std::vector<std::string> head) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Case {
        int32_t flags;
        int status;
        bool counterFails;
        std::vector<std::string> order;
        std::string counter;
    };
    const Case cases[] = {
        {0, 0, false, with({"STATUS/"}), ""},
        {kRequestUtil, 0, false, with({"STATUS/"}), ""},
        {kRequestTc, 0, false, with({"MNT_RD/COUNTER_LIFE", "STATUS/"}), "00042"},
        {kRequestStart, 0, false, with({"STATUS/", "MNT_RD/COUNTER_LIFE"}), "00042"},
        {kRequestStart, 900, false, with({"STATUS/"}), ""},
        {kRequestTc, 900, false, with({"MNT_RD/COUNTER_LIFE", "STATUS/"}), "00042"},
        {kRequestTc | kRequestStart, 0, false, with({"MNT_RD/COUNTER_LIFE", "STATUS/"}), "00042"},
        // A counter that failed first is asked for again on the start request.
        {kRequestTc | kRequestStart, 0, true,
         with({"MNT_RD/COUNTER_LIFE", "STATUS/", "MNT_RD/COUNTER_LIFE"}), ""},
    };
    for (const Case& c : cases) {
        qzm::test::TempRoot root;
        PrinterState state;
        state.status = c.status;
        Pass pass(state);
        if (c.counterFails) {
            pass.printer->SetFault(Fault::kNoAnswer, "MNT_RD", "COUNTER_LIFE");
        }
        pass.Run(c.flags);
        EXPECT_EQ(Exchanges(*pass.printer), c.order) << "flags " << c.flags;
        const std::string text = Read(root / (kFolder + "/QZ-M480_QZ0001.log"));
        EXPECT_NE(text.find("TOTAL_COUNT=\"" + c.counter + "\"\n"), std::string::npos)
            << "flags " << c.flags;
    }
}

TEST(InfoFileTest, StatusWithoutMessageAndStatusThatCannotBeRead) {
    qzm::test::TempRoot root;
    const std::string path = root / (kFolder + "/QZ-M480_QZ0001.log");
    PrinterState two;
    two.status = 2;
    Pass(two).Run(0);
    EXPECT_EQ(Read(path), Attached("00002", "", ""));

    Pass unreadable;
    unreadable.printer->SetFault(Fault::kStall, "STATUS", "");
    unreadable.Run(0);
    EXPECT_EQ(Read(path), Attached("99999", "00006", ""));
}

TEST(InfoFileTest, FailedQueriesLeaveTheirKeysEmpty) {
    qzm::test::TempRoot root;
    Pass pass;
    pass.printer->SetFault(Fault::kNoAnswer);
    pass.Run(kRequestTc);
    EXPECT_EQ(Read(root / (kFolder + "/QZ-M480_QZ0001.log")),
              "#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"99999\"\n"
              "PRINTER_MESSAGE=\"00006\"\nPRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"QZ0001\"\n\n"
              "#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\nMEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\n\n"
              "#COUNTER_INFORMATION\nTOTAL_COUNT=\"\"\n\n");
}

TEST(InfoFileTest, InterfaceThatCannotBeOpenedKeepsThePreviousFile) {
    qzm::test::TempRoot root;
    const std::string path = root / (kFolder + "/QZ-M480_QZ0001.log");
    WriteFile("QZ0001");
    PrinterState busy;
    busy.interfaceOpenFails = true;
    Pass pass(busy);
    pass.Run(kRequestTc);
    EXPECT_TRUE(pass.printer->Transfers().empty());
    EXPECT_EQ(Read(path), kDisconnected);
}

TEST(InfoFileTest, LongValuesKeepTheirLineWhole) {
    qzm::test::TempRoot root;
    PrinterState state;
    state.firmware = "\xC3\xA9" + std::string(62, 'f');
    Pass pass(state, "QZ0001", std::string(127, 'M').c_str());
    pass.Run(0);
    std::istringstream text(Read(root / (kFolder + "/QZ-M480_QZ0001.log")));
    std::string line;
    std::getline(text, line);
    std::getline(text, line);
    EXPECT_EQ(line, "MODEL=\"" + std::string(54, 'M') + "\"");
    std::getline(text, line);
    std::getline(text, line);
    std::getline(text, line);
    EXPECT_EQ(line, "PRINTER_VERSION=\"\xC3\xA9" + std::string(42, 'f') + "\"");
    EXPECT_EQ(_KeyLine("KEY", "").size(), 7u);
    EXPECT_EQ(_KeyLine(std::string(70, 'K'), "v").back(), '\n');
    EXPECT_EQ(_SkipPrefix("0", 2), "");
    EXPECT_EQ(_SkipPrefix("01200", 2), "200");
}

TEST(InfoFileTest, DisconnectedForm) {
    qzm::test::TempRoot root;
    WriteFile(static_cast<const char*>(nullptr));
    EXPECT_FALSE(fs::exists(root / kFolder));
    WriteFile("A B");  // names use the escaped serial; a blank here is taken as it is
    WriteFile("");
    EXPECT_EQ(Read(root / (kFolder + "/QZ-M480_A B.log")), kDisconnected);
    EXPECT_EQ(Read(root / (kFolder + "/QZ-M480_.log")), kDisconnected);
    EXPECT_EQ(ModeOf(root / (kFolder + "/QZ-M480_.log")), 0666u);
}

TEST(InfoFileTest, PlantedLinkAndOpenedFileAreNotWrittenThrough) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const std::string path = root / (kFolder + "/QZ-M480_QZ0001.log");
    const std::string victim = root / "/victim";
    { std::ofstream(victim) << "precious"; }
    fs::create_symlink(victim, path);
    Pass pass;
    pass.Run(0);
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(Read(path), Attached("00000", "00001", ""));

    // Someone holds the old file open: what they read stays the old file.
    const int held = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    WriteFile("QZ0001");
    char buffer[32] = {};
    ASSERT_GT(::pread(held, buffer, sizeof buffer - 1, 0), 0);
    ::close(held);
    EXPECT_EQ(std::string(buffer).substr(0, 21), "#PRINTER_INFORMATION\n");
    EXPECT_EQ(std::string(buffer).find("99999"), std::string::npos);
    EXPECT_EQ(Read(path), kDisconnected);

    // A folder that was replaced by a link is not written into.
    fs::remove_all(root / kFolder);
    fs::create_directory(root / "/elsewhere");
    fs::create_directory_symlink(root / "/elsewhere", root / kFolder);
    WriteFile("QZ0001");
    EXPECT_TRUE(fs::is_empty(root / "/elsewhere"));
}

TEST(InfoFileTest, UnsafeSerialsNeverBecomePaths) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    fs::create_directories(root / "/Library/Caches/Orvane/x");
    Touch(root / "/Library/Caches/Orvane/x_TC_UTIL");
    for (const char* serial : {"../x", "..", ".", "a/b", "a\nb", "\x1B"}) {
        Pass pass({}, serial);
        pass.Run(kRequestTc);
        EXPECT_TRUE(pass.printer->Transfers().empty()) << serial;
        WriteFile(serial);
        EXPECT_EQ(pdeFileCheck(serial), 0) << serial;
    }
    EXPECT_TRUE(fs::is_empty(root / kFolder));
    EXPECT_EQ(Listing(root / "/Library/Caches/Orvane"),
              (std::set<std::string>{"QZ-M480", "x", "x_TC_UTIL"}));
}

TEST(RequestScanTest, FlagsAndRemoval) {
    qzm::test::TempRoot root;
    EXPECT_EQ(pdeFileCheck("A"), 0);  // no folder
    CheckAndMake_CacheFolder();
    const std::string dir = root / kFolder;
    EXPECT_EQ(pdeFileCheck("A"), 0);

    Touch(dir + "/QZ-M480_A_UTIL");
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil);
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil);  // the standing request stays

    Touch(dir + "/QZ-M480_A_TC_UTIL");
    Touch(dir + "/QZ-M480_A_START_UTIL");
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc | kRequestStart);
    EXPECT_EQ(Listing(dir), std::set<std::string>{"QZ-M480_A_UTIL"});
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil);
}

TEST(RequestScanTest, TwoPrintersKeepTheirOwnFilesAndRequests) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const std::string dir = root / kFolder;
    Touch(dir + "/QZ-M480_A_START_UTIL");
    EXPECT_EQ(pdeFileCheck("B"), 0);
    EXPECT_TRUE(fs::exists(dir + "/QZ-M480_A_START_UTIL"));
    EXPECT_EQ(pdeFileCheck("A"), kRequestStart);

    PrinterState b;
    b.serial = "B";
    Pass passA({}, "A");
    Pass passB(b, "B");
    passA.Run(kRequestStart);
    passB.Run(0);
    EXPECT_NE(Read(dir + "/QZ-M480_A.log").find("PRINTER_SERIAL_NO=\"A\""), std::string::npos);
    EXPECT_NE(Read(dir + "/QZ-M480_A.log").find("TOTAL_COUNT=\"00042\""), std::string::npos);
    EXPECT_NE(Read(dir + "/QZ-M480_B.log").find("PRINTER_SERIAL_NO=\"B\""), std::string::npos);
    EXPECT_NE(Read(dir + "/QZ-M480_B.log").find("TOTAL_COUNT=\"\""), std::string::npos);
}

TEST(RequestScanTest, SuffixedRequestsAndLinks) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const std::string dir = root / kFolder;
    Touch(dir + "/QZ-M480_A_TC_UTIL.old");
    Touch(dir + "/QZ-M480_A_UTIL1");
    Touch(dir + "/QZ-M480_A_UTIL2");
    // Two suffixed standing requests are still one request, not a counter read.
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc);
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc);
    EXPECT_TRUE(fs::exists(dir + "/QZ-M480_A_TC_UTIL.old"));

    // A request planted as a link: the link goes, its target stays.
    const std::string target = root / "/target";
    Touch(target);
    fs::create_symlink(target, dir + "/QZ-M480_B_START_UTIL");
    EXPECT_EQ(pdeFileCheck("B"), kRequestStart);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/QZ-M480_B_START_UTIL")));
    EXPECT_TRUE(fs::exists(target));
}

}  // namespace
