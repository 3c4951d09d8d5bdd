// Printing end to end: a JPEG printed with lp on a private CUPS scheduler,
// on the queue the daemon's queue step makes, through CUPS's rasterizer,
// rastertoqzm480 and ovbackend, to the emulated printer. The installed
// layout is staged under QZM480_ROOT; the scheduler passes the root and the
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
#include "../Support/TempRoot.h"
#include "DeviceCmd.h"
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

// The nearest of the picture's four colours: 0 red, 1 green, 2 blue, 3 white.
int ColourClass(double r, double g, double b) {
    const double colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    int best = 0;
    double bestDistance = 1e18;
    for (int i = 0; i < 4; ++i) {
        const double d = (r - colours[i][0]) * (r - colours[i][0]) +
                         (g - colours[i][1]) * (g - colours[i][1]) +
                         (b - colours[i][2]) * (b - colours[i][2]);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// The colour classes of the sheet preview's quadrants (top left, top right,
// bottom left, bottom right), inside the printed area (what is not white
// paper, found on the cyan plane's red channel... any plane below 250).
std::array<int, 4> Quadrants(const qzm::stream::Sheet& sheet) {
    const auto& c = sheet.cyan;  // red of the preview
    const auto& m = sheet.magenta;
    const auto& y = sheet.yellow;
    int left = c.width, right = -1, top = c.height, bottom = -1;
    for (int row = 0; row < c.height; ++row) {
        for (int col = 0; col < c.width; ++col) {
            if (std::min({c.PictureRow(row)[col], m.PictureRow(row)[col], y.PictureRow(row)[col]}) <
                200) {
                left = std::min(left, col);
                right = std::max(right, col);
                top = std::min(top, row);
                bottom = std::max(bottom, row);
            }
        }
    }
    std::array<int, 4> classes{};
    if (right < left || bottom < top) {
        return classes;
    }
    const int midX = (left + right) / 2;
    const int midY = (top + bottom) / 2;
    const int w = (right - left) / 4;
    const int h = (bottom - top) / 4;
    const int centres[4][2] = {
        {midX - w, midY - h}, {midX + w, midY - h}, {midX - w, midY + h}, {midX + w, midY + h}};
    for (int q = 0; q < 4; ++q) {
        double sum[3] = {0, 0, 0};
        int count = 0;
        for (int row = centres[q][1] - h / 2; row < centres[q][1] + h / 2; ++row) {
            for (int col = centres[q][0] - w / 2; col < centres[q][0] + w / 2; ++col) {
                sum[0] += c.PictureRow(row)[col];
                sum[1] += m.PictureRow(row)[col];
                sum[2] += y.PictureRow(row)[col];
                ++count;
            }
        }
        classes[q] = ColourClass(sum[0] / count, sum[1] / count, sum[2] / count);
    }
    return classes;
}

// The quadrant classes of the picture turned by 0, 90, 180 and 270 degrees.
bool MatchesSomeTurn(const std::array<int, 4>& seen) {
    // Picture: red, green over blue, white. Clockwise order of the corners:
    // top left, top right, bottom right, bottom left.
    const int ring[4] = {0, 1, 3, 2};
    const int seenRing[4] = {seen[0], seen[1], seen[3], seen[2]};
    for (int turn = 0; turn < 4; ++turn) {
        bool same = true;
        for (int i = 0; i < 4; ++i) {
            same = same && seenRing[(i + turn) % 4] == ring[i];
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
    // The installed layout: the filter at its designed place and the PPD,
    // whose filter line names that place under the root (CUPS itself knows
    // nothing of QZM480_ROOT).
    const std::string filter = root / kFilterDesigned;
    fs::create_directories(fs::path(filter).parent_path());
    fs::create_directories(root / "/Library/Caches");
    fs::copy_file(QZM480_FILTER, filter);
    const std::string ppd = root / "/Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
    fs::create_directories(fs::path(ppd).parent_path());
    ASSERT_TRUE(Shell("gzip -dc '" + std::string(QZM480_PPD_GZ) + "' | sed 's|" + kFilterDesigned +
                      "|" + filter + "|' | gzip -9 -n > '" + ppd + "'"));
    for (const auto& entry : fs::recursive_directory_iterator(root.Path())) {
        if (entry.is_directory()) {
            fs::permissions(entry.path(), fs::perms::owner_all | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read |
                                              fs::perms::others_exec);
        }
    }

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
    // The filter found the print-status file at once: it waits for it at
    // most 120 s, a whole job here takes a few seconds.
    EXPECT_LT(seconds, 30.0);

    // Every job packet arrived whole and makes one sheet.
    std::vector<uint8_t> stream;
    for (const auto& sheet : printer->Sheets()) {
        for (const auto& p : sheet) {
            DeviceCmd cmd(p.command.c_str(), p.subCommand.empty() ? nullptr : p.subCommand.c_str(),
                          static_cast<int32_t>(p.payload.size()),
                          p.payload.empty() ? nullptr : p.payload.data());
            stream.insert(stream.end(), cmd.m_data, cmd.m_data + cmd.m_length);
        }
    }
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
    const auto quadrants = Quadrants(sheets[0]);
    EXPECT_TRUE(MatchesSomeTurn(quadrants))
        << quadrants[0] << quadrants[1] << quadrants[2] << quadrants[3];
    EXPECT_FALSE(fs::exists(root / "/Library/Caches/Orvane/QZ-M480/Print_1.log"));
}

}  // namespace
