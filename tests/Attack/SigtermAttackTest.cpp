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

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../Support/TempRoot.h"
#include "PageSizes.h"
#include "SampleRaster.h"
#include "StreamParser.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs the filter on a job of three pages; with a delay, SIGTERM follows
// after it (a negative delay: once output appears). Returns the wait status;
// the output is in output.
int RunFilter(const std::string& job, const std::string& output, Clock::duration cancelAfter,
              std::vector<uint8_t>* bytes) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {"rastertoqzm480", "1", "user", "title", "1", "PageSize=127x89mm", job};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, QZM480_FILTER, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (cancelAfter > Clock::duration::zero()) {
        std::this_thread::sleep_for(cancelAfter);
        ::kill(pid, SIGTERM);
    } else if (cancelAfter < Clock::duration::zero()) {
        // Once the first bytes are out, while the rest is being made.
        std::error_code error;
        for (int i = 0; i < 60000 && std::filesystem::file_size(output, error) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::kill(pid, SIGTERM);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(output, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in), {});
    return status;
}

TEST(SigtermAttackTest, AJobCancelledAtAnyMomentLeavesWholePackets) {
    qzm::test::TempRoot root;
    std::filesystem::create_directories(root / "/Library/Caches/Orvane/QZ-M480");
    std::ofstream(root / "/Library/Caches/Orvane/QZ-M480/Print_1.log") << "MEDIA_SIZE=\"\"\n";
    ::setenv("PPD", QZM480_PPD, 1);
    const std::string job = root / "/job.ras", output = root / "/out.prn";
    {
        const int fd = ::open(job.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        cups_raster_t* out = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
        for (int p = 0; p < 3; ++p) {
            cups_page_header2_t header = qzm::sample::MakeSampleHeader(
                *qzm::pages::FindPageSize("127x89mm"), *qzm::pages::FindResolution("300dpi"));
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
        ASSERT_EQ(::close(fd), 0);
    }
    std::vector<uint8_t> full;
    const auto start = Clock::now();
    ASSERT_EQ(RunFilter(job, output, Clock::duration::zero(), &full), 0);
    const auto took = Clock::now() - start;
    const auto parsed = qzm::stream::ParseStream(full);
    ASSERT_FALSE(parsed.error);
    ASSERT_EQ(parsed.sheets.size(), 3u);

    // Cancel at random moments: a few over the whole run, most after the
    // filter's one-second wait for the print-status file, while the sheets
    // are being made and written.
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    const auto writing = std::max(took - std::chrono::seconds(1), Clock::duration{});
    int cut = 0;
    for (int i = 0; i < 12; ++i) {
        const auto after = std::chrono::duration_cast<Clock::duration>(
            i < 2 ? took * moment(random) : std::chrono::seconds(1) + writing * moment(random));
        std::vector<uint8_t> bytes;
        const bool writing = i % 4 == 3;  // a moment that cannot miss the writing
        const int status = RunFilter(
            job, output, writing ? -Clock::duration(1) : after + std::chrono::nanoseconds(1), &bytes);
        EXPECT_TRUE(WIFEXITED(status)) << status;
        qzm::stream::PacketReader reader{std::span<const uint8_t>(bytes)};
        qzm::stream::Packet packet;
        int got = 0;
        while ((got = reader.Next(packet)) == 1) {
        }
        EXPECT_GE(got, 0) << reader.Error().offset << ": " << reader.Error().message;
        EXPECT_LE(bytes.size(), full.size());
        cut += !bytes.empty() && bytes.size() < full.size();
    }
    EXPECT_GT(cut, 0) << "no cancel reached the writing of the job";
}

}  // namespace
