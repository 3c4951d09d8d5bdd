// Printing end to end: a JPEG printed with lp on a private CUPS scheduler,
// on the queue the daemon's queue step makes, through CUPS's rasterizer,
// rastertoqzm480 and ovbackend, to the emulated printer. The package is
// installed under QZM480_ROOT; the scheduler passes the root and the
// emulator's socket to the filter and the backend with SetEnv.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <sstream>
#include <thread>

#include "../Support/PrivateCupsd.h"
#include "../Packaging/Staging.h"
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
constexpr char kPpdModel[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
constexpr char kFilterDesigned[] = "/Library/Printers/Orvane/Filters/rastertoqzm480";
constexpr char kPpdDesigned[] = "/Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

int RunProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ipp_jstate_t WaitForJobEnd(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ALL);
        const ipp_jstate_t state = count > 0 ? jobs[0].state : IPP_JSTATE_PENDING;
        cupsFreeJobs(count, jobs);
        if (state >= IPP_JSTATE_STOPPED) {
            return state;
        }
        std::this_thread::sleep_for(20ms);
    }
    return static_cast<ipp_jstate_t>(0);
}

// The colour in the middle of each quarter of the sheet's preview (cyan
// plane as red, magenta as green, yellow as blue), as bits red 4, green 2,
// blue 1, clockwise from the top left corner.
std::array<int, 4> QuarterColours(const qzm::stream::Sheet& sheet) {
    const qzm::stream::Plane* planes[3] = {&sheet.cyan, &sheet.magenta, &sheet.yellow};
    const int w = sheet.cyan.width;
    const int h = sheet.cyan.height;
    const int corners[4][2] = {
        {w / 4, h / 4}, {3 * w / 4, h / 4}, {3 * w / 4, 3 * h / 4}, {w / 4, 3 * h / 4}};
    std::array<int, 4> colours{};
    for (int q = 0; q < 4; ++q) {
        for (int p = 0; p < 3; ++p) {
            long sum = 0;
            for (int y = corners[q][1] - h / 16; y < corners[q][1] + h / 16; ++y) {
                for (int x = corners[q][0] - w / 16; x < corners[q][0] + w / 16; ++x) {
                    sum += planes[p]->PictureRow(y)[x];
                }
            }
            const long mean = sum / ((h / 8) * (w / 8));
            colours[q] |= (mean > 128 ? 4 >> p : 0);
        }
    }
    return colours;
}

// True when the colours are the picture's (red, green, white, blue clockwise
// from the top left) in some quarter turn: the printer may feed it sideways.
bool IsThePictureTurned(const std::array<int, 4>& seen) {
    const int picture[4] = {4, 2, 7, 1};
    for (int turn = 0; turn < 4; ++turn) {
        bool same = true;
        for (int i = 0; i < 4; ++i) {
            same = same && seen[(i + turn) % 4] == picture[i];
        }
        if (same) {
            return true;
        }
    }
    return false;
}

TEST(EndToEnd, AJpegPrintedWithLpReachesThePrinterInSeconds) {
    if (!Shell("command -v convert >/dev/null 2>&1")) {
        GTEST_SKIP() << "convert is not installed (package imagemagick)";
    }
    if (!fs::exists("/usr/bin/lp")) {
        GTEST_SKIP() << "lp is not installed (package cups-client)";
    }
    qzm::test::TempRoot root;
    // The filter runs as the scheduler's user: it must reach the staged files.
    fs::permissions(root.Path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    // The package installed under the root, as "cmake --install" puts it.
    std::string output;
    ASSERT_EQ(qzm::test::InstallBuild("QZM480_ROOT=" + qzm::test::ShellQuote(root.Path()), &output),
              0)
        << output;
    // CUPS knows nothing of QZM480_ROOT: a private copy of the installed PPD
    // names the installed filter under the root.
    const std::string filter = root / kFilterDesigned;
    const std::string ppd = root.Path() + "/QZ-M480.gz";
    ASSERT_TRUE(Shell("gzip -dc '" + root / kPpdDesigned + "' | sed 's|" + kFilterDesigned + "|" +
                      filter + "|' | gzip -9 -n > '" + ppd + "'"));
    ASSERT_TRUE(fs::exists(filter));

    qzm::emu::PrinterState state;
    state.serial = "QZ 0480";
    state.mediaSize = "01200";  // 152 x 102 mm media, so the filter may lay out two up
    auto printer = qzm::emu::EmulatedPrinter::Create(state);
    const std::string socket = root.Path() + "/emu.sock";
    qzm::emu::EmulatorServer server(socket, {printer});
    ASSERT_TRUE(server.Start());

    qzm::test::PrivateCupsd cupsd;
    cupsd.SetEnv("QZM480_ROOT", root.Path());
    cupsd.SetEnv("QZM480_EMULATOR_SOCKET", socket);
    cupsd.SetLogLevel("debug");
    ASSERT_TRUE(cupsd.AddModel(kPpdModel, ppd));
    ASSERT_TRUE(cupsd.InstallBackend("ovbackend", QZM480_TEST_BACKEND));
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    }
    // The queue as the daemon makes it for this printer.
    ASSERT_TRUE(CheckAndMake_PrintQueue("QZ%200480"));
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, kQueue, nullptr);
    ASSERT_NE(dest, nullptr) << cupsd.ErrorLog();
    EXPECT_STREQ(cupsGetOption("device-uri", dest->num_options, dest->options),
                 "ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%200480");
    cupsFreeDests(1, dest);

    // Red and green over blue and white, the shape of 152 x 102 mm paper.
    const std::string jpeg = root.Path() + "/photo.jpg";
    ASSERT_TRUE(
        Shell("convert -size 900x600 xc:red xc:lime +append \\( -size 900x600 xc:blue "
              "xc:white +append \\) -append -quality 95 '" +
              jpeg + "'"));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunProgram({"/usr/bin/lp", "-d", kQueue, "-o", "PageSize=153x102mm", "-o",
                          "fit-to-page", jpeg}),
              0);
    // Had the backend not written the print-status file, the filter alone
    // would wait 120 s for it.
    const ipp_jstate_t end = WaitForJobEnd(100s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string log = cupsd.ErrorLog();
    ASSERT_EQ(end, IPP_JSTATE_COMPLETED) << log;
    RecordProperty("job_seconds", std::to_string(seconds));
    std::printf("The job took %.2f s from lp to completed.\nThe backend told CUPS:\n", seconds);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        for (const char* prefix : {"] STATE:", "] ATTR:", "Set job-printer-state-message"}) {
            if (line.find(prefix) != std::string::npos) {
                std::printf("  %s\n", line.c_str());
            }
        }
    }

    // Every job packet arrived whole and makes one sheet.
    const std::vector<uint8_t> stream = qzm::test::ReceivedJobBytes(*printer);
    qzm::stream::PacketReader reader(stream);
    qzm::stream::SheetCollector collector;
    qzm::stream::Packet packet;
    std::vector<qzm::stream::Sheet> sheets;
    while (reader.Next(packet) == 1) {
        if (collector.Feed(packet) == 1) {
            sheets.push_back(collector.TakeSheet());
        }
    }
    if (collector.Finish() == 1) {
        sheets.push_back(collector.TakeSheet());
    }
    ASSERT_EQ(sheets.size(), 1u);
    const auto colours = QuarterColours(sheets[0]);
    EXPECT_TRUE(IsThePictureTurned(colours))
        << colours[0] << colours[1] << colours[2] << colours[3];
    EXPECT_FALSE(fs::exists(root / "/Library/Caches/Orvane/QZ-M480/Print_1.log"));
}

}  // namespace
