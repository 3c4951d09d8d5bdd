// Printing end to end: a JPEG printed with lp on a private CUPS scheduler,
// on the queue the daemon's queue step makes, through CUPS's rasterizer,
// rastertoqzm480 and ovbackend, to the emulated printer. The package is
// installed under QZM480_ROOT; the scheduler passes the root and the
// emulator's socket to the filter and the backend with SetEnv.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "../Packaging/Staging.h"
#include "../Support/PrivateCupsd.h"
#include "../Support/TempRoot.h"
#include "BackendTestSupport.h"
#include "EmulatorSocket.h"
#include "PrintQueue.h"
#include "StreamParser.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char kQueue[] = "Orvane_Imaging_Inc__M480";
constexpr char kFilter[] = "/Library/Printers/Orvane/Filters/rastertoqzm480";
constexpr char kPpd[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// The colour in the middle of each quarter of the sheet (cyan plane as red,
// magenta as green, yellow as blue; bits 4, 2, 1), clockwise from the top
// left corner.
std::array<int, 4> QuarterColours(const qzm::stream::Sheet& sheet) {
    const qzm::stream::Plane* planes[3] = {&sheet.cyan, &sheet.magenta, &sheet.yellow};
    const int w = sheet.cyan.width, h = sheet.cyan.height;
    const int centres[4][2] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {3 * w / 4, 3 * h / 4}, {w / 4, 3 * h / 4}};
    std::array<int, 4> colours{};
    for (int q = 0; q < 4; ++q) {
        for (int p = 0; p < 3; ++p) {
            long sum = 0;
            for (int y = centres[q][1] - h / 16; y < centres[q][1] + h / 16; ++y) {
                for (int x = centres[q][0] - w / 16; x < centres[q][0] + w / 16; ++x) {
                    sum += planes[p]->PictureRow(y)[x];
                }
            }
            colours[q] |= sum / ((h / 8) * (w / 8)) > 128 ? 4 >> p : 0;
        }
    }
    return colours;
}

TEST(EndToEnd, AJpegPrintedWithLpReachesThePrinter) {
    if (!Shell("command -v convert >/dev/null 2>&1") || !fs::exists("/usr/bin/lp")) {
        GTEST_SKIP() << "convert (imagemagick) or lp (cups-client) is not installed";
    }
    qzm::test::TempRoot root;
    // The filter runs as the scheduler's user: it must reach the staged files.
    fs::permissions(root.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    std::string output;
    ASSERT_EQ(qzm::test::InstallBuild("QZM480_ROOT=" + qzm::test::ShellQuote(root.Path()), &output), 0)
        << output;
    // CUPS knows nothing of QZM480_ROOT: a private copy of the installed PPD
    // names the installed filter under the root.
    const std::string ppd = root.Path() + "/QZ-M480.gz";
    ASSERT_TRUE(Shell("gzip -dc '" + root / ("/" + std::string(kPpd)) + "' | sed 's|" + kFilter + "|" +
                      root / kFilter + "|' | gzip -9 -n > '" + ppd + "'"));

    qzm::emu::PrinterState state;
    state.serial = "QZ 0480";
    auto printer = qzm::emu::EmulatedPrinter::Create(state);
    qzm::emu::EmulatorServer server(root.Path() + "/emu.sock", {printer});
    ASSERT_TRUE(server.Start());
    qzm::test::PrivateCupsd cupsd;
    cupsd.SetEnv("QZM480_ROOT", root.Path());
    cupsd.SetEnv("QZM480_EMULATOR_SOCKET", root.Path() + "/emu.sock");
    cupsd.SetLogLevel("debug");
    ASSERT_TRUE(cupsd.AddModel(kPpd, ppd));
    ASSERT_TRUE(cupsd.InstallBackend("ovbackend", QZM480_TEST_BACKEND));
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    }
    ASSERT_TRUE(CheckAndMake_PrintQueue("QZ%200480"));  // as the daemon makes it

    // Red and green over blue and white, the shape of 152 x 102 mm paper.
    const std::string jpeg = root.Path() + "/photo.jpg";
    ASSERT_TRUE(Shell("convert -size 900x600 xc:red xc:lime +append \\( -size 900x600 xc:blue "
                      "xc:white +append \\) -append -quality 95 '" + jpeg + "'"));
    std::vector<std::string> args = {"/usr/bin/lp", "-d", kQueue, "-o", "PageSize=153x102mm",
                                     "-o", "fit-to-page", jpeg};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(status, 0);
    // Had the backend not written the print-status file, the filter alone
    // would wait 120 s for it; the job ends well before.
    ipp_jstate_t end = IPP_JSTATE_PENDING;
    for (auto limit = std::chrono::steady_clock::now() + 100s;
         end < IPP_JSTATE_STOPPED && std::chrono::steady_clock::now() < limit;) {
        std::this_thread::sleep_for(20ms);
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ALL);
        end = count > 0 ? jobs[0].state : IPP_JSTATE_PENDING;
        cupsFreeJobs(count, jobs);
    }
    ASSERT_EQ(end, IPP_JSTATE_COMPLETED) << cupsd.ErrorLog();

    // Every job packet arrived whole and makes one sheet: the picture, in
    // some quarter turn (the printer may feed it sideways).
    const auto parsed = qzm::stream::ParseStream(qzm::test::ReceivedJobBytes(*printer));
    EXPECT_FALSE(parsed.error);
    ASSERT_EQ(parsed.sheets.size(), 1u);
    const auto seen = QuarterColours(parsed.sheets[0]);
    const int picture[4] = {4, 2, 7, 1};
    bool turned = false;
    for (int turn = 0; turn < 4; ++turn) {
        bool same = true;
        for (int i = 0; i < 4; ++i) {
            same = same && seen[(i + turn) % 4] == picture[i];
        }
        turned = turned || same;
    }
    EXPECT_TRUE(turned) << seen[0] << seen[1] << seen[2] << seen[3];
    EXPECT_FALSE(fs::exists(root / (qzm::test::kInfoFolder + "/Print_1.log")));
}

}  // namespace
