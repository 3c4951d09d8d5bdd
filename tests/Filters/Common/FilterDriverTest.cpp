// The driver in-process: line copies, batching, cancellation and untrusted
// raster headers. Standard output is captured and read back as a stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "CupsOptions.h"
#include "FilterDriver.h"
#include "RasterTestSupport.h"
#include "StdoutCapture.h"
#include "StreamParser.h"
#include "TempRoot.h"

namespace {

using qzm::stream::ParsedStream;
using qzm::test::CupsOptions;
using qzm::test::RasterPage;
using qzm::test::Solid;
using qzm::test::StdoutCapture;
using qzm::test::TempRoot;

TEST(FilterDriver, LineCopiesStraightAndTurned) {
    // 3 x 2 page: line 0 = pixels 1, 2, 3; line 1 = 4, 5, 6 (value in all bytes).
    const uint8_t lines[2][9] = {{1, 1, 1, 2, 2, 2, 3, 3, 3}, {4, 4, 4, 5, 5, 5, 6, 6, 6}};
    EXPECT_EQ(_PageStride(3), 12u);
    EXPECT_EQ(_PageStride(1), 4u);
    uint8_t straight[24] = {};
    uint8_t turned[24] = {};
    for (uint32_t i = 0; i < 2; ++i) {
        _CopyRasterLine(lines[i], straight, 3, 2, i, false);
        _CopyRasterLine(lines[i], turned, 3, 2, i, true);
    }
    // Bottom-up: the straight copy keeps line 0 as the top (last) row.
    const uint8_t wantStraight[24] = {4, 4, 4, 5, 5, 5, 6, 6, 6, 0, 0, 0,
                                      1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0};
    const uint8_t wantTurned[24] = {3, 3, 3, 2, 2, 2, 1, 1, 1, 0, 0, 0,
                                    6, 6, 6, 5, 5, 5, 4, 4, 4, 0, 0, 0};
    EXPECT_TRUE(std::equal(straight, straight + 24, wantStraight));
    EXPECT_TRUE(std::equal(turned, turned + 24, wantTurned));
}

// A configured printer object and its job, on a page size, with the given
// layout count; runs the page loop over a raster file and parses the output.
class PageLoop : public testing::Test {
  protected:
    ParsedStream Run(const char* pageSize, int layout, const std::vector<RasterPage>& pages,
                     int orientation = 1) {
        const std::string path = root.Path() + "/job.ras";
        EXPECT_TRUE(qzm::test::WriteRasterFile(path, pages));
        CupsOptions options{{"PageSize", pageSize}};
        DeviceEntry_QZM480 entry;
        FilterJob job;
        job.entry = &entry;
        job.numOptions = options.Count();
        job.options = options.Options();
        job.layoutCount = layout;
        job.orientation = orientation;
        StdoutCapture capture;
        entry.SetResolution(job.numOptions, job.options, nullptr);
        entry.SetMediaSize(job.numOptions, job.options, nullptr);
        entry.SetICM(0, nullptr, nullptr);
        const int fd = ::open(path.c_str(), O_RDONLY);
        cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
        Canceled = 0;
        _PrintPages(job, raster);
        cupsRasterClose(raster);
        ::close(fd);
        const auto bytes = capture.Stop();
        return qzm::stream::ParseStream(bytes);
    }

    static std::vector<int> Multicuts(const ParsedStream& s) {
        std::vector<int> codes;
        for (const auto& sheet : s.sheets)
            codes.push_back(sheet.multicutCode);
        return codes;
    }

    TempRoot root;
};

TEST_F(PageLoop, BatchesCopiesIntoSheets) {
    // Two pages of 3 copies, two per sheet: three two-panel sheets.
    {
        const auto s =
            Run("127x89mmx2", 2, {{64, 48, 3, Solid(10, 10, 10)}, {64, 48, 3, Solid(90, 90, 90)}});
        ASSERT_FALSE(s.error) << s.error->message;
        EXPECT_EQ(Multicuts(s), (std::vector<int>{22, 22, 22}));
        // Sheet 2 holds the last copy of page 1 and the first of page 2.
        const auto& cyan = s.sheets[1].cyan;
        EXPECT_EQ(cyan.StoredRow(1088 / 2)[960], 10);
        EXPECT_EQ(cyan.StoredRow(1088 + 1088 / 2)[960], 90);
        for (const auto& sheet : s.sheets)
            EXPECT_TRUE(sheet.started);
    }
    // One page, one copy, two per sheet: printed alone at the end, single media.
    EXPECT_EQ(Multicuts(Run("127x89mmx2", 2, {{64, 48, 1, Solid(1, 2, 3)}})),
              (std::vector<int>{1}));
    // No copies: processed, placed nowhere; only the job's first MULTICUT.
    const auto none = Run("127x89mm", 1, {{8, 8, 0, Solid(1, 2, 3)}});
    EXPECT_TRUE(none.sheets.empty());
    EXPECT_EQ(none.packets.size(), 1u);
}

TEST_F(PageLoop, OrientationCodesTwoAndFourTurnThePage) {
    // Top half of the page dark, bottom half light.
    auto halves = [](int line, int, uint8_t* p) { p[0] = p[1] = p[2] = line < 24 ? 20 : 220; };
    for (int code : {1, 2, 3, 4}) {
        const auto s = Run("127x89mm", 1, {{64, 48, 1, halves}}, code);
        ASSERT_EQ(s.sheets.size(), 1u);
        const auto& cyan = s.sheets[0].cyan;
        const bool turned = code == 2 || code == 4;
        // The picture's top sits at the sheet's top unless turned.
        EXPECT_EQ(cyan.PictureRow(1088 / 2 - 20)[960], turned ? 220 : 20) << code;
        EXPECT_EQ(cyan.PictureRow(1088 / 2 + 20)[960], turned ? 20 : 220) << code;
    }
}

TEST_F(PageLoop, UntrustedHeadersNeverReadPastTheLineAndSkipWholePages) {
    // 8 bits per pixel: 100 bytes per line for 100 pixels, a third of a row.
    RasterPage narrow{100, 10, 1, Solid(50, 50, 50)};
    narrow.bend = [](cups_page_header2_t& h) {
        h.cupsBitsPerPixel = 8;
        h.cupsColorSpace = CUPS_CSPACE_K;
        h.cupsNumColors = 1;
        h.cupsBytesPerLine = 100;
    };
    // Far beyond any page of the printer: skipped, its data read past.
    RasterPage wide{kMaxPageSide + 1, 3, 1, Solid(0, 0, 0)};
    RasterPage huge{20000, 20000, 1, Solid(0, 0, 0)};
    huge.linesWritten = 2;  // the raster ends inside this page
    const auto s = Run("127x89mm", 1, {narrow, wide, {16, 16, 1, Solid(30, 30, 30)}, huge});
    ASSERT_FALSE(s.error) << s.error->message;
    ASSERT_EQ(s.sheets.size(), 2u);
    // The narrow page: 100 bytes of grey, the rest of the row black.
    EXPECT_EQ(s.sheets[0].cyan.PictureRow(544)[960 - 50], 50);
    EXPECT_EQ(s.sheets[0].cyan.PictureRow(544)[960 + 49], 0);
    // The page after the skipped one is found and printed.
    EXPECT_EQ(s.sheets[1].cyan.PictureRow(544)[960], 30);
}

TEST_F(PageLoop, CancelledDuringASecondPageDropsTheWaitingImage) {
    for (int layout : {1, 2}) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        // The writer cancels the job late in page 2's lines, far more bytes
        // after page 1 than the pipe and the reader buffer hold.
        std::thread writer([&] {
            cups_raster_t* r = cupsRasterOpen(pipeFds[1], CUPS_RASTER_WRITE);
            for (int page = 0; page < 2; ++page) {
                RasterPage p{400, 300, 1, nullptr};
                cups_page_header2_t h = qzm::test::RgbHeader(p);
                cupsRasterWriteHeader2(r, &h);
                std::vector<uint8_t> line(h.cupsBytesPerLine, uint8_t(page * 100 + 7));
                for (unsigned y = 0; y < h.cupsHeight; ++y) {
                    if (page == 1 && y == 250)
                        Canceled = 1;
                    cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
                }
            }
            cupsRasterClose(r);
            ::close(pipeFds[1]);
        });
        CupsOptions options{{"PageSize", "127x89mmx2"}};
        DeviceEntry_QZM480 entry;
        FilterJob job;
        job.entry = &entry;
        job.numOptions = options.Count();
        job.options = options.Options();
        job.layoutCount = layout;
        StdoutCapture capture;
        entry.SetResolution(job.numOptions, job.options, nullptr);
        entry.SetMediaSize(job.numOptions, job.options, nullptr);
        cups_raster_t* raster = cupsRasterOpen(pipeFds[0], CUPS_RASTER_READ);
        Canceled = 0;
        _PrintPages(job, raster);
        const auto bytes = capture.Stop();
        // Let the writer finish: read whatever is left.
        char sink[4096];
        while (::read(pipeFds[0], sink, sizeof sink) > 0) {
        }
        writer.join();
        cupsRasterClose(raster);
        ::close(pipeFds[0]);
        Canceled = 0;
        const auto s = qzm::stream::ParseStream(bytes);
        ASSERT_FALSE(s.error) << s.error->message;
        // One per sheet: page 1 printed whole. Two per sheet: nothing at all.
        EXPECT_EQ(s.sheets.size(), layout == 1 ? 1u : 0u) << layout;
        if (layout == 1) {
            EXPECT_TRUE(s.sheets[0].started);
        }
    }
}

}  // namespace
