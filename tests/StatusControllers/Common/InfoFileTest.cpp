// The information file, the request scan and the cache folder, in a temporary
// root against the emulated printer; hostile serials and planted links
// included, since the daemon runs as root.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "../../Support/TempRoot.h"
#include "CacheFolder.h"
#include "DaemonTestSupport.h"
#include "EmulatedPrinter.h"
#include "InfoFile.h"
#include "StatusQueries.h"

namespace fs = std::filesystem;
using namespace qzm::test;
using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;

namespace {

// One printer with its record, as the daemon holds them during a pass.
struct Pass {
    std::shared_ptr<EmulatedPrinter> printer;
    std::unique_ptr<qzm::usb::UsbInterface> intf;
    thdata record;

    explicit Pass(PrinterState state = {}, const std::string& serial = "QZ0001",
                  const std::string& model = "QZ-M480")
        : printer(EmulatedPrinter::Create(std::move(state))), intf(printer->CreateInterface()) {
        std::strncpy(record.serialNo, serial.c_str(), sizeof record.serialNo - 1);
        std::strncpy(record.modelName, model.c_str(), sizeof record.modelName - 1);
        record.serialKnown = record.modelKnown = 1;
    }
    void Run(int32_t flags) {
        record.requestFlags = flags;
        WriteFile(intf.get(), &record);
    }
};

class InfoFileTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return root_ / (kInfoFolder + "/" + name); }
    std::string File() const { return Path("QZ-M480_QZ0001.log"); }
    void Touch(const std::string& name) { std::ofstream(Path(name)).close(); }

    qzm::test::TempRoot root_;
};

// The exchanges of each request, in order, and the file they make: that file
// alone, readable and writable by all whatever the umask, the interface closed.
TEST_F(InfoFileTest, ExchangesAndFileForEachRequest) {
    const std::string tc = "MNT_RD/COUNTER_LIFE", st = "STATUS/";
    const std::vector<std::string> tail = {"INFO/FVER", "INFO/MEDIA", "INFO/MQTY_DEFAULT",
                                           "INFO/MQTY"};
    const Info gone{.status = "99999", .message = "00006"};
    const Info nine{.status = "00900", .message = "00005"};
    const struct {
        int32_t flags;
        int status;
        Fault fault;  // on the counter, or on the status with kStall
        std::vector<std::string> order;
        Info file;
    } cases[] = {
        {0, 0, Fault::kNone, {st}, {}},
        {kRequestUtil, 2, Fault::kNone, {st}, {.status = "00002", .message = ""}},
        {kRequestTc, 900, Fault::kNone, {tc, st},
         {.status = "00900", .message = "00005", .counter = "00042"}},
        {kRequestStart, 0, Fault::kNone, {st, tc}, {.counter = "00042"}},
        {kRequestStart, 900, Fault::kNone, {st}, nine},
        {kRequestTc | kRequestStart, 0, Fault::kNone, {tc, st}, {.counter = "00042"}},
        // A counter that failed first is asked for again on the start request.
        {kRequestTc | kRequestStart, 0, Fault::kNoAnswer, {tc, st, tc}, {}},
        {0, 0, Fault::kStall, {st}, gone},
    };
    const mode_t oldMask = ::umask(022);
    for (const auto& c : cases) {
        PrinterState state;
        state.status = c.status;
        Pass pass(state);
        if (c.fault == Fault::kStall) {
            pass.printer->SetFault(Fault::kStall, "STATUS", "");
        } else if (c.fault != Fault::kNone) {
            pass.printer->SetFault(c.fault, "MNT_RD", "COUNTER_LIFE");
        }
        pass.Run(c.flags);
        std::vector<std::string> order = c.order, exchanges;
        order.insert(order.end(), tail.begin(), tail.end());
        for (const auto& p : pass.printer->Packets()) {
            exchanges.push_back(p.command + "/" + p.subCommand);
        }
        EXPECT_EQ(exchanges, order) << "flags " << c.flags;
        EXPECT_EQ(Read(File()), c.file.Text()) << "flags " << c.flags;
        EXPECT_FALSE(pass.printer->InterfaceOpen());
    }
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(File()), 0666u);
    EXPECT_EQ(ModeOf(root_ / kInfoFolder), 0777u);
    EXPECT_EQ(ModeOf(root_ / "/Library/Caches/Orvane"), 0777u);
    EXPECT_EQ(ModeOf(root_ / "/Library/Caches"), 0755u);
    EXPECT_EQ(Tree(root_ / kInfoFolder), std::set<std::string>{"QZ-M480_QZ0001.log"});
    Pass silent;
    silent.printer->SetFault(Fault::kNoAnswer);
    silent.Run(kRequestTc);
    EXPECT_EQ(Read(File()),
              (Info{.status = "99999", .message = "00006", .version = "", .size = "", .initial = "",
                    .remain = ""}
                   .Text()));
    // Without an open interface nothing is asked or written.
    WriteFile("QZ0001");
    PrinterState busy;
    busy.interfaceOpenFails = true;
    Pass pass(busy);
    pass.Run(kRequestTc);
    WriteFile(nullptr, &pass.record);
    WriteFile(pass.intf.get(), nullptr);
    EXPECT_TRUE(pass.printer->Transfers().empty());
    EXPECT_EQ(Read(File()), kDisconnected);
}

TEST_F(InfoFileTest, LongValuesKeepTheirLineWhole) {
    PrinterState state;
    state.firmware = "\xC3\xA9" + std::string(62, 'f');
    Pass pass(state, "QZ0001", std::string(127, 'M'));
    pass.Run(0);
    const std::string text = Read(File());
    EXPECT_NE(text.find("\nMODEL=\"" + std::string(54, 'M') + "\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nPRINTER_VERSION=\"\xC3\xA9" + std::string(42, 'f') + "\"\n"),
              std::string::npos)
        << text;
    // A key that leaves no room keeps its quotes and line feed, no value.
    EXPECT_EQ(_KeyLine(std::string(59, 'K'), "vw"), std::string(59, 'K') + "=\"\"\n");
    EXPECT_EQ(_KeyLine(std::string(60, 'K'), "v"), std::string(60, 'K') + "=\"\"\n");
    EXPECT_EQ(_KeyLine(std::string(58, 'K'), "vw"), std::string(58, 'K') + "=\"v\"\n");
    EXPECT_EQ(_SkipPrefix("0", 2), "");
    EXPECT_EQ(_SkipPrefix("01200", 2), "200");
}

// Serials a counterfeit printer may send name files that a root daemon
// writes and removes: not one of them may lead out of the cache folder.
TEST_F(InfoFileTest, SerialsNameFilesOnlyInsideTheCacheFolder) {
    CheckAndMake_CacheFolder();
    fs::create_directories(root_ / "/Library/Caches/Orvane/x");
    std::ofstream(root_ / "/Library/Caches/Orvane/x_TC_UTIL").close();
    for (const char* serial : {"../x", "..", ".", "a/b", "a\nb", "\x1B"}) {
        Pass pass({}, serial);
        pass.Run(kRequestTc);
        EXPECT_TRUE(pass.printer->Transfers().empty()) << serial;
        WriteFile(serial);
        EXPECT_EQ(pdeFileCheck(serial), 0) << serial;
    }
    WriteFile(static_cast<const char*>(nullptr));
    EXPECT_EQ(pdeFileCheck(nullptr), 0);
    EXPECT_TRUE(fs::is_empty(root_ / kInfoFolder));
    EXPECT_EQ(Tree(root_ / "/Library/Caches/Orvane").count("x_TC_UTIL"), 1u);
}

TEST_F(InfoFileTest, PlantedLinksAreReplacedOrRefusedNeverFollowed) {
    CheckAndMake_CacheFolder();
    const std::string victim = root_ / "/victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, File());
    Pass pass;
    pass.Run(0);
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(File())));
    EXPECT_EQ(Read(File()), Info{}.Text());

    // Someone holds the old file open: what they read stays the old file.
    const int held = ::open(File().c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    WriteFile("QZ0001");
    char buffer[32] = {};
    ASSERT_GT(::pread(held, buffer, sizeof buffer - 1, 0), 0);
    ::close(held);
    EXPECT_EQ(std::string(buffer).find("99999"), std::string::npos);
    EXPECT_EQ(Read(File()), kDisconnected);

    // The folder replaced by a link to another user's: not scanned, not written.
    const std::string other = root_ / "/home/victim";
    fs::create_directories(other);
    std::ofstream(other + "/QZ-M480_QZ0001_TC_UTIL").close();
    fs::remove_all(root_ / kInfoFolder);
    fs::create_directory_symlink(other, root_ / kInfoFolder);
    EXPECT_EQ(pdeFileCheck("QZ0001"), 0);
    WriteFile("QZ0001");
    pass.Run(0);
    EXPECT_EQ(Tree(other), std::set<std::string>{"QZ-M480_QZ0001_TC_UTIL"});
}

TEST_F(InfoFileTest, CacheFoldersAreMadeOnlyWhereMissing) {
    CheckAndMake_CacheSubFolder();  // needs its parent
    EXPECT_FALSE(fs::exists(root_ / kInfoFolder));
    fs::create_directories(root_ / kInfoFolder);
    ::chmod((root_ / "/Library/Caches/Orvane").c_str(), 0750);
    ::chmod((root_ / kInfoFolder).c_str(), 0700);
    CheckAndMake_CacheFolder();
    EXPECT_EQ(ModeOf(root_ / "/Library/Caches/Orvane"), 0750u);
    EXPECT_EQ(ModeOf(root_ / kInfoFolder), 0700u);
    fs::remove(root_ / kInfoFolder);
    CheckAndMake_CacheSubFolder();
    EXPECT_EQ(ModeOf(root_ / kInfoFolder), 0777u);

    // A file where a folder should be: nothing below it can be created.
    fs::remove_all(root_ / "/Library/Caches");
    std::ofstream(root_ / "/Library/Caches").close();
    CheckAndMake_CacheFolder();
    EXPECT_FALSE(fs::is_directory(root_ / "/Library/Caches/Orvane"));
}

TEST_F(InfoFileTest, RequestScanFlagsRemovalAndOtherPrinters) {
    EXPECT_EQ(pdeFileCheck("A"), 0);  // no folder
    CheckAndMake_CacheFolder();
    for (const char* name : {"A_UTIL1", "A_UTIL2", "A_TC_UTIL.old", "B_START_UTIL"}) {
        Touch("QZ-M480_" + std::string(name));
    }
    // Suffixed names count; a standing request stays, and so does a file
    // that is not exactly the one-shot request's name.
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc);
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc);
    Touch("QZ-M480_A_TC_UTIL");
    Touch("QZ-M480_A_START_UTIL");
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc | kRequestStart);
    EXPECT_EQ(pdeFileCheck("A"), kRequestUtil | kRequestTc);
    EXPECT_EQ(Tree(root_ / kInfoFolder),
              (std::set<std::string>{"QZ-M480_A_UTIL1", "QZ-M480_A_UTIL2",
                                     "QZ-M480_A_TC_UTIL.old", "QZ-M480_B_START_UTIL"}));

    // A request planted as a link: the link goes, its target stays.
    const std::string target = root_ / "/target";
    std::ofstream(target).close();
    fs::remove(Path("QZ-M480_B_START_UTIL"));
    fs::create_symlink(target, Path("QZ-M480_B_START_UTIL"));
    EXPECT_EQ(pdeFileCheck("B"), kRequestStart);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("QZ-M480_B_START_UTIL"))));
    EXPECT_TRUE(fs::exists(target));
}

}  // namespace
