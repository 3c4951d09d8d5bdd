// rastertoqzm480 run as CUPS runs it: arguments, $PPD, the print-status file
// in the cache folder under QZM480_ROOT, raster in a file or on standard
// input, the command stream read back with the stream parser. Each run waits
// at least a second for the print-status file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RasterTestSupport.h"
#include "StreamParser.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;
using qzm::stream::ParsedStream;
using qzm::test::RasterPage;
using qzm::test::Solid;
using qzm::test::TempRoot;

constexpr char kJob[] = "42";

struct Outcome {
    int status = -1;
    std::vector<uint8_t> bytes;
    ParsedStream stream;
};

// The job's print-status file, with or without a media size line.
void WriteStatusFile(const TempRoot& root, const char* mediaSize) {
    const fs::path folder = root / "/Library/Caches/Orvane/QZ-M480";
    fs::create_directories(folder);
    std::ofstream out(folder / (std::string("Print_") + kJob + ".log"));
    out << "STATUS=1\n";
    if (mediaSize != nullptr)
        out << "MEDIA_SIZE=" << mediaSize << "\n";
}

// Starts the filter with argv[0] the queue name and the given arguments;
// standard input from inFd. Returns the child's process id.
pid_t Start(const TempRoot& root, const std::vector<std::string>& args, int inFd,
            const std::string& outPath) {
    std::vector<std::string> env = {"QZM480_ROOT=" + root.Path(),
                                    std::string("PPD=") + QZM480_PPD_GZ, "PATH=/usr/bin:/bin"};
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        env.push_back(std::string("ASAN_OPTIONS=") + asan);
    std::vector<char*> argv{const_cast<char*>("QZ-M480")};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((outPath + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inFd, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(QZM480_FILTER, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    return pid;
}

Outcome Finish(pid_t pid, const std::string& outPath) {
    Outcome o;
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(outPath, std::ios::binary);
    o.bytes.assign(std::istreambuf_iterator<char>(in), {});
    o.stream = qzm::stream::ParseStream(o.bytes);
    // Nothing on standard error, whatever happened.
    EXPECT_EQ(fs::file_size(outPath + ".err"), 0u);
    return o;
}

// Runs the filter on a raster file written from the pages.
Outcome RunOnPages(const TempRoot& root, const std::string& options,
                   const std::vector<RasterPage>& pages) {
    const std::string raster = root.Path() + "/job.ras";
    EXPECT_TRUE(qzm::test::WriteRasterFile(raster, pages));
    const std::string out = root.Path() + "/job.out";
    const int devNull = ::open("/dev/null", O_RDONLY);
    const pid_t pid = Start(root, {kJob, "user", "title", "1", options, raster}, devNull, out);
    ::close(devNull);
    return Finish(pid, out);
}

// The packets of a stream as "COMMAND/SUB" or "COMMAND/SUB=payload" texts.
std::vector<std::string> Names(const ParsedStream& s) {
    std::vector<std::string> names;
    for (const auto& p : s.packets) {
        std::string n = p.command + "/" + p.subCommand;
        if (p.Is("IMAGE", "MULTICUT") || p.Is("CNTRL", "CUTTER"))
            n += "=" + std::string(p.payload.begin(), p.payload.end());
        names.push_back(n);
    }
    return names;
}

std::vector<std::string> Sheet(const std::string& multicut) {
    return {"CNTRL/CUTTER=00000000",
            "CNTRL/OVERCOAT",
            "CNTRL/BUFFCNTRL",
            "CNTRL/PRINTSPEED",
            "IMAGE/MULTICUT=" + multicut,
            "IMAGE/YPLANE",
            "IMAGE/MPLANE",
            "IMAGE/CPLANE",
            "CNTRL/START"};
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(FilterProgram, OnePageJob) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    const auto o = RunOnPages(root, "PageSize=127x89mm", {{1548, 1088, 1, Solid(10, 20, 30)}});
    EXPECT_EQ(o.status, 0);
    ASSERT_FALSE(o.stream.error) << o.stream.error->message;
    EXPECT_EQ(Names(o.stream), Join({{"IMAGE/MULTICUT=00000001"}, Sheet("00000001")}));
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& sheet = o.stream.sheets[0];
    EXPECT_EQ(sheet.cyan.width, 1920);
    EXPECT_EQ(sheet.cyan.height, 1088);
    EXPECT_EQ(sheet.cyan.PictureRow(500)[186], 10);
    EXPECT_EQ(sheet.magenta.PictureRow(500)[186 + 1547], 20);
    EXPECT_EQ(sheet.yellow.PictureRow(500)[185], 255);
}

TEST(FilterProgram, ThreePagesTwoUpWithMediaSize) {
    TempRoot root;
    WriteStatusFile(root, "127x89mmx2");
    const auto o = RunOnPages(root, "PageSize=127x89mmx2",
                              {{200, 100, 1, Solid(10, 10, 10)},
                               {200, 100, 1, Solid(20, 20, 20)},
                               {200, 100, 1, Solid(30, 30, 30)}});
    EXPECT_EQ(o.status, 0);
    ASSERT_FALSE(o.stream.error) << o.stream.error->message;
    EXPECT_EQ(Names(o.stream),
              Join({{"IMAGE/MULTICUT=00000001"}, Sheet("00000022"), Sheet("00000001")}));
    ASSERT_EQ(o.stream.sheets.size(), 2u);
    const auto& twin = o.stream.sheets[0].cyan;
    EXPECT_EQ(twin.height, 2176);
    EXPECT_EQ(twin.StoredRow(544)[960], 10);
    EXPECT_EQ(twin.StoredRow(1088 + 544)[960], 20);
    EXPECT_EQ(o.stream.sheets[1].cyan.StoredRow(544)[960], 30);
}

TEST(FilterProgram, ThreePagesTwoUpWithoutMediaSize) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    const auto o = RunOnPages(
        root, "PageSize=127x89mmx2",
        {{20, 10, 1, Solid(1, 1, 1)}, {20, 10, 1, Solid(2, 2, 2)}, {20, 10, 1, Solid(3, 3, 3)}});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Names(o.stream), Join({{"IMAGE/MULTICUT=00000001"},
                                     Sheet("00000001"),
                                     Sheet("00000001"),
                                     Sheet("00000001")}));
}

TEST(FilterProgram, CopiesFillTwoUpSheets) {
    TempRoot root;
    WriteStatusFile(root, "127x89mmx2");
    // Three copies of one page: a two-panel sheet, then the last copy alone.
    const auto o = RunOnPages(root, "PageSize=127x89mmx2", {{20, 10, 3, Solid(5, 5, 5)}});
    EXPECT_EQ(Names(o.stream),
              Join({{"IMAGE/MULTICUT=00000001"}, Sheet("00000022"), Sheet("00000001")}));
}

// A page whose top quarter is black and whose left quarter is grey 100.
void Marked(int line, int column, uint8_t* p, int width, int height) {
    const uint8_t v = line < height / 4 ? 0 : (column < width / 4 ? 100 : 255);
    p[0] = p[1] = p[2] = v;
}

TEST(FilterProgram, OrientationTurnsBy180Degrees) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    auto marked = [](int y, int x, uint8_t* p) { Marked(y, x, p, 1548, 1088); };
    const auto o = RunOnPages(root, "PageSize=127x89mm com.apple.print.preset.Orientation..n.=4",
                              {{1548, 1088, 1, marked}});
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& cyan = o.stream.sheets[0].cyan;
    // Black at the bottom, grey on the right.
    EXPECT_EQ(cyan.PictureRow(1087)[960], 0);
    EXPECT_EQ(cyan.PictureRow(10)[960], 255);
    EXPECT_EQ(cyan.PictureRow(500)[186 + 1547], 100);
    EXPECT_EQ(cyan.PictureRow(500)[186], 255);
}

TEST(FilterProgram, TallPageSizesTurnOntoThePaper) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    auto marked = [](int y, int x, uint8_t* p) { Marked(y, x, p, 1088, 1548); };
    const auto o = RunOnPages(root, "PageSize=89x127mm", {{1088, 1548, 1, marked}});
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& cyan = o.stream.sheets[0].cyan;
    ASSERT_EQ(cyan.height, 1088);
    // Turned counter-clockwise: the page's top lies on the left, its left
    // side at the bottom.
    EXPECT_EQ(cyan.PictureRow(500)[186 + 10], 0);
    EXPECT_EQ(cyan.PictureRow(500)[186 + 1547], 255);
    EXPECT_EQ(cyan.PictureRow(1080)[1000], 100);
    EXPECT_EQ(cyan.PictureRow(10)[1000], 255);
}

class HigherResolution : public testing::TestWithParam<const char*> {};

TEST_P(HigherResolution, SheetIsTwiceAsLong) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    const bool both = std::string(GetParam()) == "600x600dpi";
    const auto o = RunOnPages(root, std::string("PageSize=127x89mm Resolution=") + GetParam(),
                              {{both ? 3096u : 1548u, 2176, 1, Solid(60, 60, 60)}});
    EXPECT_EQ(o.status, 0);
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& cyan = o.stream.sheets[0].cyan;
    EXPECT_EQ(cyan.height, 2176);
    EXPECT_EQ(cyan.xPixelsPerMeter, 11811u);
    EXPECT_EQ(cyan.yPixelsPerMeter, 23622u);
    EXPECT_EQ(cyan.PictureRow(1000)[186], 60);
    EXPECT_EQ(cyan.PictureRow(1000)[185], 255);
    EXPECT_EQ(cyan.PictureRow(1000)[186 + 1548], 255);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, HigherResolution, testing::Values("300x600dpi", "600x600dpi"),
                         [](const auto& info) {
                             return std::string(info.param).substr(0, 3) == "300" ? "R300x600"
                                                                                  : "R600x600";
                         });

TEST(FilterProgram, WrongArgumentsAndUnreadableInputWriteNothing) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    const std::string out = root.Path() + "/job.out";
    const int devNull = ::open("/dev/null", O_RDONLY);
    const std::vector<std::vector<std::string>> cases = {
        {kJob, "user", "title", "1"},
        {kJob, "user", "title", "1", "", "a", "b"},
        {kJob, "user", "title", "1", "", root.Path() + "/missing.ras"},
    };
    for (const auto& args : cases) {
        const auto o = Finish(Start(root, args, devNull, out), out);
        EXPECT_EQ(o.status, 1) << args.size();
        EXPECT_TRUE(o.bytes.empty()) << args.size();
    }
    ::close(devNull);
}

TEST(FilterProgram, EmptyRasterWritesOnlyTheSetUp) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    // No bytes at all on standard input.
    const std::string out = root.Path() + "/job.out";
    const int devNull = ::open("/dev/null", O_RDONLY);
    const auto o =
        Finish(Start(root, {kJob, "user", "title", "1", "PageSize=127x89mm"}, devNull, out), out);
    ::close(devNull);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Names(o.stream), (std::vector<std::string>{"IMAGE/MULTICUT=00000001"}));
    // A raster stream without pages.
    const auto none = RunOnPages(root, "PageSize=127x89mm", {});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(Names(none.stream), (std::vector<std::string>{"IMAGE/MULTICUT=00000001"}));
}

TEST(FilterProgram, SigtermInTheMiddleOfAPageLeavesAWholeStream) {
    TempRoot root;
    WriteStatusFile(root, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string out = root.Path() + "/job.out";
    const pid_t pid = Start(root, {kJob, "user", "title", "1", "PageSize=127x89mm"}, fds[0], out);
    ::close(fds[0]);
    cups_raster_t* r = cupsRasterOpen(fds[1], CUPS_RASTER_WRITE);
    for (int page = 0; page < 2; ++page) {
        RasterPage p(1548, 1088, 1, nullptr);
        cups_page_header2_t h = qzm::test::RgbHeader(p);
        cupsRasterWriteHeader2(r, &h);
        std::vector<uint8_t> line(h.cupsBytesPerLine, 77);
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            // Far past what the pipe holds: the filter is inside page 2.
            if (page == 1 && y == 600)
                ::kill(pid, SIGTERM);
            if (!cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine))
                break;
        }
    }
    cupsRasterClose(r);
    ::close(fds[1]);
    const auto o = Finish(pid, out);
    EXPECT_EQ(o.status, 0);
    ASSERT_FALSE(o.stream.error) << o.stream.error->message;
    EXPECT_EQ(Names(o.stream), Join({{"IMAGE/MULTICUT=00000001"}, Sheet("00000001")}));
}

// The JPEG is made by the test, rasterized by CUPS's own filters for the
// package's PPD and printed with a border.
TEST(FilterProgram, CupsRasterOfAJpegLandsInTheBorderedArea) {
    if (std::system("command -v cupsfilter >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "cupsfilter is not installed (package cups)";
    if (std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "convert is not installed (package imagemagick)";
    if (!fs::exists("/usr/lib/cups/filter/gstoraster") &&
        !fs::exists("/usr/lib/cups/filter/pdftoraster"))
        GTEST_SKIP() << "no PDF rasterizer of cups-filters is installed";
    TempRoot root;
    WriteStatusFile(root, nullptr);
    const std::string jpeg = root.Path() + "/photo.jpg";
    const std::string pdf = root.Path() + "/photo.pdf";
    const std::string raster = root.Path() + "/photo.ras";
    const std::string log = root.Path() + "/cups.log";
    const std::string ppd = QZM480_PPD_GZ;
    ASSERT_EQ(std::system(("convert -size 774x544 xc:'rgb(20,60,160)' '" + jpeg + "'").c_str()), 0);
    ASSERT_EQ(std::system(("cupsfilter -p '" + ppd + "' -m application/pdf -o fit-to-page '" +
                           jpeg + "' > '" + pdf + "' 2> '" + log + "'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("cupsfilter -p '" + ppd +
                           "' -m application/vnd.cups-raster -o PageSize=127x89mm '" + pdf +
                           "' > '" + raster + "' 2> '" + log + "'")
                              .c_str()),
              0);
    const std::string out = root.Path() + "/job.out";
    const int in = ::open(raster.c_str(), O_RDONLY);
    const auto o = Finish(
        Start(root, {kJob, "user", "photo", "1", "PageSize=127x89mm OvpBorder=Enable"}, in, out),
        out);
    ::close(in);
    ASSERT_FALSE(o.stream.error) << o.stream.error->message;
    ASSERT_EQ(o.stream.sheets.size(), 1u);
    const auto& yellow = o.stream.sheets[0].yellow;
    // The bordered picture is 1394 x 980 at column 263, row 54: nothing is
    // printed outside it, and the photo's colour covers its middle.
    int left = 1920, right = -1, bottom = 1088, top = -1;
    for (int row = 0; row < yellow.height; ++row)
        for (int col = 0; col < yellow.width; ++col)
            if (yellow.StoredRow(row)[col] < 250) {
                left = std::min(left, col);
                right = std::max(right, col);
                bottom = std::min(bottom, row);
                top = std::max(top, row);
            }
    EXPECT_GE(left, 263);
    EXPECT_LE(right, 263 + 1393);
    EXPECT_GE(bottom, 54);
    EXPECT_LE(top, 54 + 979);
    EXPECT_GT(right - left, 1200);
    EXPECT_GT(top - bottom, 850);
    EXPECT_GT(yellow.StoredRow(544)[960], 80);   // blue: much yellow dye missing
    EXPECT_LT(yellow.StoredRow(544)[960], 250);  // ... but some
    EXPECT_LT(o.stream.sheets[0].cyan.StoredRow(544)[960], 100);
}

}  // namespace
