// CUPS cancels a job with SIGTERM at any moment. Whatever the moment, the
// filter's output must consist of whole packets: the printer would take a
// cut packet's remainder from the next job.
#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../Support/TempRoot.h"
#include "PageSizes.h"
#include "SampleRaster.h"
#include "StreamParser.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPages = 3;
constexpr int kCancelledRuns = 12;
// The filter waits a second for the print-status file before it starts.
constexpr auto kStatusWait = std::chrono::seconds(1);

// A job of kPages pages of one page size, as CUPS's rasterizer writes it.
bool WriteJob(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    cups_raster_t* out = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    const auto& size = *qzm::pages::FindPageSize("127x89mm");
    const auto& resolution = *qzm::pages::FindResolution("300dpi");
    for (int p = 0; p < kPages; ++p) {
        cups_page_header2_t header = qzm::sample::MakeSampleHeader(size, resolution);
        cupsRasterWriteHeader2(out, &header);
        std::vector<unsigned char> line(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            for (size_t x = 0; x < line.size(); ++x) {
                line[x] = static_cast<unsigned char>(x * 3 + y + p * 50);
            }
            cupsRasterWritePixels(out, line.data(), header.cupsBytesPerLine);
        }
    }
    cupsRasterClose(out);
    return ::close(fd) == 0;
}

struct FilterRun {
    int status = 0;
    std::vector<uint8_t> output;
    Clock::duration took{};
};

// Runs the filter on the job; with a delay, SIGTERM follows after it.
FilterRun RunFilter(const std::string& job, const std::string& output,
                    std::optional<Clock::duration> cancelAfter) {
    FilterRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> args = {"rastertoqzm480",    "1", "user", "title", "1",
                                     "PageSize=127x89mm", job};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, QZM480_FILTER, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.status = -1;
        return run;
    }
    if (cancelAfter) {
        std::this_thread::sleep_for(*cancelAfter);
        ::kill(pid, SIGTERM);
    }
    ::waitpid(pid, &run.status, 0);
    run.took = Clock::now() - start;
    std::ifstream in(output, std::ios::binary);
    run.output.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

// Reads every packet; false with the fault when one is cut or malformed.
testing::AssertionResult PacketsAreWhole(const std::vector<uint8_t>& bytes) {
    qzm::stream::PacketReader reader{std::span<const uint8_t>(bytes)};
    qzm::stream::Packet packet;
    int got = 0;
    while ((got = reader.Next(packet)) == 1) {
    }
    if (got < 0) {
        return testing::AssertionFailure() << "at " << reader.Error().offset << " of "
                                           << bytes.size() << ": " << reader.Error().message;
    }
    return testing::AssertionSuccess();
}

TEST(SigtermAttackTest, AJobCancelledAtAnyMomentLeavesWholePackets) {
    qzm::test::TempRoot root;
    fs::create_directories(root / "/Library/Caches/Orvane/QZ-M480");
    std::ofstream(root / "/Library/Caches/Orvane/QZ-M480/Print_1.log") << "MEDIA_SIZE=\"\"\n";
    ::setenv("PPD", QZM480_PPD, 1);
    const std::string job = root / "/job.ras";
    const std::string output = root / "/out.prn";
    ASSERT_TRUE(WriteJob(job));

    const FilterRun full = RunFilter(job, output, std::nullopt);
    ASSERT_TRUE(WIFEXITED(full.status) && WEXITSTATUS(full.status) == 0) << full.status;
    ASSERT_TRUE(PacketsAreWhole(full.output));
    const auto parsed = qzm::stream::ParseStream(full.output);
    ASSERT_EQ(parsed.sheets.size(), static_cast<size_t>(kPages));

    // Cancel at random moments: a few over the whole run, most after the
    // filter's one-second wait for the print-status file, while the sheets
    // are being made and written.
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    const auto writing = std::max(full.took - kStatusWait, Clock::duration{});
    int cut = 0;
    for (int i = 0; i < kCancelledRuns; ++i) {
        const auto after = std::chrono::duration_cast<Clock::duration>(
            i < 2 ? full.took * moment(random) : kStatusWait + writing * moment(random));
        const FilterRun cancelled = RunFilter(job, output, after);
        SCOPED_TRACE("cancelled after " +
                     std::to_string(std::chrono::duration<double>(after).count()) + " s");
        EXPECT_TRUE(WIFEXITED(cancelled.status)) << cancelled.status;
        EXPECT_TRUE(PacketsAreWhole(cancelled.output));
        EXPECT_LE(cancelled.output.size(), full.output.size());
        cut += !cancelled.output.empty() && cancelled.output.size() < full.output.size();
    }
    // The moments did reach the writing of the job.
    EXPECT_GT(cut, 0) << "the whole job took " << std::chrono::duration<double>(full.took).count()
                      << " s";
}

}  // namespace
