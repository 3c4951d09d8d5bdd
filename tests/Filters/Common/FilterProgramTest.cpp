// rastertoqzm480 run as CUPS runs it: arguments, $PPD, the print-status file
// in the cache folder under QZM480_ROOT, raster in a file or on standard
// input, the command stream read back with the stream parser; and cancelled
// with SIGTERM. Each run waits about a second for the print-status file.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "FilterDriver.h"
#include "StreamParser.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;
using qzm::stream::ParsedStream;

constexpr char kJob[] = "42";

// A page of one grey value; the header may be bent as untrusted input is.
struct Page {
    unsigned width, height;
    uint8_t value;
    unsigned bitsPerPixel = 24;
    unsigned lines = ~0u;  // lines written; fewer cut the raster there
};

// Writes the pages with libcups' raster writer; atLine runs before each line.
void WriteRaster(int fd, const std::vector<Page>& pages,
                 const std::function<void(size_t, unsigned)>& atLine = {}) {
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    for (size_t k = 0; k < pages.size(); ++k) {
        const Page& p = pages[k];
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 300;
        h.NumCopies = 1;
        h.cupsWidth = p.width;
        h.cupsHeight = p.height;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = p.bitsPerPixel;
        h.cupsBytesPerLine = p.width * p.bitsPerPixel / 8;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = p.bitsPerPixel == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_K;
        h.cupsNumColors = p.bitsPerPixel / 8;
        cupsRasterWriteHeader2(r, &h);
        const std::vector<uint8_t> line(h.cupsBytesPerLine, p.value);
        for (unsigned y = 0; y < std::min(p.height, p.lines); ++y) {
            if (atLine)
                atLine(k, y);
            if (!cupsRasterWritePixels(r, const_cast<uint8_t*>(line.data()), h.cupsBytesPerLine))
                break;
        }
    }
    cupsRasterClose(r);
}

struct Outcome {
    int status = -1;
    std::vector<uint8_t> bytes;
    ParsedStream stream;
};

class FilterProgram : public testing::Test {
  protected:
    void SetUp() override { ::setenv("PPD", QZM480_PPD_GZ, 1); }
    // The job's print-status file, with or without a media size line.
    void StatusFile(const char* mediaSize) {
        const fs::path folder = root / "/Library/Caches/Orvane/QZ-M480";
        fs::create_directories(folder);
        std::ofstream(folder / (std::string("Print_") + kJob + ".log"))
            << "STATUS=1\n" << (mediaSize ? std::string("MEDIA_SIZE=") + mediaSize + "\n" : "");
    }
    // Starts the filter as CUPS does (argv[0] the queue name); standard input from inFd.
    pid_t Start(std::vector<std::string> args, int inFd) {
        args.insert(args.begin(), "QZ-M480");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const rlimit cap{1 << 28, 1 << 28};  // a filter that never stops writing fails
            ::setrlimit(RLIMIT_FSIZE, &cap);       // instead of filling the disk
            ::dup2(inFd, 0);
            ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open((outPath + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            ::execv(QZM480_FILTER, argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // Waits for the filter; wholeSheets: the stream must also end between sheets.
    Outcome Finish(pid_t pid, bool wholeSheets = true) {
        Outcome o;
        ::waitpid(pid, &o.status, 0);
        o.status = WIFEXITED(o.status) ? WEXITSTATUS(o.status) : 128 + WTERMSIG(o.status);
        std::ifstream in(outPath, std::ios::binary);
        o.bytes.assign(std::istreambuf_iterator<char>(in), {});
        o.stream = qzm::stream::ParseStream(o.bytes);
        EXPECT_FALSE(wholeSheets && o.stream.error) << o.stream.error->message;
        qzm::stream::PacketReader reader{std::span<const uint8_t>(o.bytes)};
        qzm::stream::Packet packet;
        while (!wholeSheets && reader.Next(packet) == 1)
            continue;
        EXPECT_EQ(reader.Error().message, "") << reader.Error().offset;
        EXPECT_EQ(fs::file_size(outPath + ".err"), 0u);  // nothing on standard error
        return o;
    }
    Outcome Run(const std::vector<std::string>& args, int inFd = -1) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        Outcome o = Finish(Start(args, inFd >= 0 ? inFd : devNull));
        ::close(devNull);
        return o;
    }

    qzm::test::TempRoot root;
    const std::string outPath = root.Path() + "/job.out";
};

// The packets of a stream as "COMMAND/SUB", with the cut codes' payloads.
std::vector<std::string> Names(const ParsedStream& s) {
    std::vector<std::string> names;
    for (const auto& p : s.packets)
        names.push_back(p.command + "/" + p.subCommand +
                        (p.Is("IMAGE", "MULTICUT") || p.Is("CNTRL", "CUTTER")
                             ? "=" + std::string(p.payload.begin(), p.payload.end())
                             : ""));
    return names;
}

const std::vector<std::string> kSetUp = {"IMAGE/MULTICUT=00000001"};
const std::vector<std::string> kOneSheet = {
    "IMAGE/MULTICUT=00000001", "CNTRL/CUTTER=00000000", "CNTRL/OVERCOAT", "CNTRL/BUFFCNTRL",
    "CNTRL/PRINTSPEED", "IMAGE/MULTICUT=00000001", "IMAGE/YPLANE", "IMAGE/MPLANE", "IMAGE/CPLANE",
    "CNTRL/START"};

TEST_F(FilterProgram, WrongArgumentsWriteNothingAndNoRasterOnlyTheSetUp) {
    StatusFile(nullptr);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {kJob, "user", "title", "1"},
             {kJob, "user", "title", "1", "", "a", "b"},
             {kJob, "user", "title", "1", "", root.Path() + "/missing.ras"}}) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 1) << args.size();
        EXPECT_TRUE(o.bytes.empty()) << args.size();
    }
    const Outcome o = Run({kJob, "user", "title", "1", "PageSize=127x89mm"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Names(o.stream), kSetUp);
}

// Raster headers are untrusted: a line narrower than a row is never read
// past, pages beyond any page of the printer are skipped whole (also one the
// raster ends inside), and the page after them is found and printed.
TEST_F(FilterProgram, UntrustedHeadersNeverReadPastTheLineAndSkipWholePages) {
    StatusFile(nullptr);
    const std::string raster = root.Path() + "/job.ras";
    const int fd = ::open(raster.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    WriteRaster(fd, {{100, 10, 50, 8}, {kMaxPageSide + 1, 3, 0}, {16, 16, 30}, {20000, 20000, 0, 24, 2}});
    ::close(fd);
    const Outcome o = Run({kJob, "user", "title", "1", "PageSize=127x89mm", raster});
    EXPECT_EQ(o.status, 0);
    ASSERT_EQ(o.stream.sheets.size(), 2u);
    // 100 bytes of grey, a third of the row; the rest of it black.
    EXPECT_EQ(o.stream.sheets[0].cyan.PictureRow(544)[960 - 50], 50);
    EXPECT_EQ(o.stream.sheets[0].cyan.PictureRow(544)[960 + 49], 0);
    EXPECT_EQ(o.stream.sheets[1].cyan.PictureRow(544)[960], 30);
}

class FilterProgramCancelled : public FilterProgram, public testing::WithParamInterface<bool> {};

// SIGTERM late in page 2: one per sheet prints page 1 whole; two per sheet
// drops the waiting page 1. Either way the stream is whole packets.
TEST_P(FilterProgramCancelled, InTheMiddleOfAPageLeavesAWholeStream) {
    const bool twoUp = GetParam();
    StatusFile(twoUp ? "127x89mmx2" : nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = Start({kJob, "u", "t", "1", twoUp ? "PageSize=127x89mmx2" : "PageSize=127x89mm"}, fds[0]);
    ::close(fds[0]);
    // Far past what the pipe holds: the filter is inside page 2.
    WriteRaster(fds[1], {{1548, 1088, 77}, {1548, 1088, 77}}, [&](size_t page, unsigned line) {
        if (page == 1 && line == 600)
            ::kill(pid, SIGTERM);
    });
    ::close(fds[1]);
    const Outcome o = Finish(pid);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Names(o.stream), twoUp ? kSetUp : kOneSheet);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FilterProgramCancelled, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "TwoUp" : "OneUp"; });

// CUPS cancels a job with SIGTERM at any moment. Whatever the moment, the
// output must be whole packets: the printer would take a cut packet's
// remainder from the next job. A few moments over the whole run, most after
// the one-second wait for the print-status file while the sheets are made and
// written, and every fourth once the first bytes are out.
class SigtermAttackTest : public FilterProgram {};

TEST_F(SigtermAttackTest, AJobCancelledAtAnyMomentLeavesWholePackets) {
    using Clock = std::chrono::steady_clock;
    StatusFile(nullptr);
    const std::string raster = root.Path() + "/job.ras";
    const int fd = ::open(raster.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    WriteRaster(fd, {{1548, 1088, 40}, {1548, 1088, 90}, {1548, 1088, 140}});
    ::close(fd);
    const std::vector<std::string> args = {kJob, "user", "title", "1", "PageSize=127x89mm", raster};
    const auto start = Clock::now();
    const Outcome full = Run(args);
    const auto took = Clock::now() - start;
    ASSERT_EQ(full.stream.sheets.size(), 3u);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    const auto writing = std::max(took - std::chrono::seconds(1), Clock::duration{});
    int cut = 0;
    for (int i = 0; i < 12; ++i) {
        fs::remove(outPath);
        const int devNull = ::open("/dev/null", O_RDONLY);
        const pid_t pid = Start(args, devNull);
        ::close(devNull);
        std::error_code none;  // the file is made by the child: empty or missing
        if (i % 4 == 3) {      // a moment that cannot miss the writing
            for (int n = 0; n < 60000 && fs::file_size(outPath, none) + 1 <= 1; ++n)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            std::this_thread::sleep_for(i < 2 ? took * moment(random)
                                              : std::chrono::seconds(1) + writing * moment(random));
        }
        ::kill(pid, SIGTERM);
        const Outcome o = Finish(pid, false);
        // A filter stopped before it set its handler dies of the signal, having written nothing.
        EXPECT_TRUE(o.status == 0 || (o.status == 128 + SIGTERM && o.bytes.empty())) << o.status;
        EXPECT_LE(o.bytes.size(), full.bytes.size());
        cut += !o.bytes.empty() && o.bytes.size() < full.bytes.size();
    }
    EXPECT_GT(cut, 0) << "no cancel reached the writing of the job";
}

// The JPEG is made by the test, rasterized by CUPS's own filters for the
// package's PPD and printed with a border.
TEST_F(FilterProgram, CupsRasterOfAJpegLandsInTheBorderedArea) {
    if (std::system("command -v cupsfilter >/dev/null 2>&1") != 0 ||
        std::system("command -v convert >/dev/null 2>&1") != 0 ||
        (!fs::exists("/usr/lib/cups/filter/gstoraster") &&
         !fs::exists("/usr/lib/cups/filter/pdftoraster")))
        GTEST_SKIP() << "needs cupsfilter, a PDF rasterizer of cups-filters and convert";
    StatusFile(nullptr);
    const std::string dir = root.Path(), cups = "cupsfilter -p '" QZM480_PPD_GZ "' -m ";
    ASSERT_EQ(std::system(("cd '" + dir + "' && convert -size 774x544 xc:'rgb(20,60,160)' photo.jpg && " +
                           cups + "application/pdf -o fit-to-page photo.jpg > photo.pdf 2>/dev/null && " +
                           cups + "application/vnd.cups-raster -o PageSize=127x89mm photo.pdf > photo.ras 2>/dev/null")
                              .c_str()),
              0);
    const int in = ::open((dir + "/photo.ras").c_str(), O_RDONLY);
    const Outcome o = Run({kJob, "user", "photo", "1", "PageSize=127x89mm OvpBorder=Enable"}, in);
    ::close(in);
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& yellow = o.stream.sheets[0].yellow;
    // The bordered picture is 1394 x 980 at column 263, row 54: nothing is
    // printed outside it, the photo's colour covers its middle.
    int left = 1920, right = -1, bottom = 1088, top = -1;
    for (int row = 0; row < yellow.height; ++row)
        for (int col = 0; col < yellow.width; ++col)
            if (yellow.StoredRow(row)[col] < 250)
                left = std::min(left, col), right = std::max(right, col), bottom = std::min(bottom, row),
                top = std::max(top, row);
    EXPECT_TRUE(left >= 263 && right <= 263 + 1393 && right - left > 1200) << left << "-" << right;
    EXPECT_TRUE(bottom >= 54 && top <= 54 + 979 && top - bottom > 850) << bottom << "-" << top;
    EXPECT_TRUE(yellow.StoredRow(544)[960] > 80 && yellow.StoredRow(544)[960] < 250);  // blue
    EXPECT_LT(o.stream.sheets[0].cyan.StoredRow(544)[960], 100);
}

}  // namespace
