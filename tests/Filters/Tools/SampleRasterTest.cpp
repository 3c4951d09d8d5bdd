#include "SampleRaster.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "PageSizes.h"
#include "SampleChart.h"

namespace {

using qzm::pages::FindPageSize;
using qzm::pages::FindResolution;
using qzm::pages::GeometryOf;

struct Expected {
    const char* page;
    const char* resolution;
    int width;
    int height;
};

// Raster sizes that the filter's media geometry relies on.
TEST(PageSizes, RasterGeometryFollowsTheMediaDots) {
    const Expected cases[] = {
        {"127x89mm", "300dpi", 1548, 1088},        {"89x127mm", "300dpi", 1088, 1548},
        {"127x127mm", "300dpi", 1548, 1540},       {"153x102mm", "300dpi", 1844, 1240},
        {"102x153mm", "300dpi", 1240, 1844},       {"127x178mm", "300dpi", 1548, 2138},
        {"153x153mm", "300dpi", 1844, 1836},       {"153x204mm", "300dpi", 1844, 2436},
        {"127x89mmx2", "300dpi", 1548, 1088},      {"102x153mmx2", "300dpi", 1240, 1844},
        {"127x89mm", "300x600dpi", 1548, 2176},    {"89x127mm", "300x600dpi", 1088, 3096},
        {"153x102mmx2", "300x600dpi", 1844, 2480}, {"127x89mm", "600x600dpi", 3096, 2176},
        {"153x204mm", "600x600dpi", 3688, 4872},
    };
    for (const Expected& e : cases) {
        const auto* page = FindPageSize(e.page);
        const auto* res = FindResolution(e.resolution);
        ASSERT_NE(page, nullptr) << e.page;
        ASSERT_NE(res, nullptr) << e.resolution;
        const auto g = GeometryOf(*page, *res);
        EXPECT_EQ(g.width, e.width) << e.page << " " << e.resolution;
        EXPECT_EQ(g.height, e.height) << e.page << " " << e.resolution;
    }
    const auto g = GeometryOf(*FindPageSize("153x102mm"), *FindResolution("300dpi"));
    EXPECT_NEAR(g.widthPoints, 442.56, 1e-3);
    EXPECT_NEAR(g.heightPoints, 297.6, 1e-3);
    EXPECT_EQ(FindPageSize("153x102"), nullptr);
    EXPECT_EQ(FindPageSize(""), nullptr);
    EXPECT_EQ(FindResolution("600dpi"), nullptr);
    EXPECT_NE(FindPageSize(qzm::pages::kDefaultPageSize), nullptr);
    EXPECT_NE(FindResolution(qzm::pages::kDefaultResolution), nullptr);
}

// Writes the page, reads it back with libcups and compares every line.
void RoundTrip(const char* pageName, const char* resolutionName) {
    SCOPED_TRACE(std::string(pageName) + " " + resolutionName);
    qzm::test::TempRoot root;
    const std::string path = root.Path() + "/page.ras";
    const auto& page = *FindPageSize(pageName);
    const auto& res = *FindResolution(resolutionName);
    const auto g = GeometryOf(page, res);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::string error;
    ASSERT_TRUE(qzm::sample::WriteSampleRaster(fd, page, res, error)) << error;
    ::close(fd);

    fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    ASSERT_NE(raster, nullptr);
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.cupsWidth, unsigned(g.width));
    EXPECT_EQ(h.cupsHeight, unsigned(g.height));
    EXPECT_EQ(h.cupsBytesPerLine, 3u * unsigned(g.width));
    EXPECT_EQ(h.NumCopies, 1u);
    EXPECT_EQ(h.HWResolution[0], unsigned(res.xDpi));
    EXPECT_EQ(h.HWResolution[1], unsigned(res.yDpi));
    EXPECT_EQ(h.PageSize[0], unsigned(std::lround(page.widthDots * 72 / 300.0)));
    EXPECT_EQ(h.PageSize[1], unsigned(std::lround(page.heightDots * 72 / 300.0)));
    EXPECT_STREQ(h.cupsPageSizeName, pageName);

    const qzm::sample::SampleChart chart(g.width, g.height);
    std::vector<unsigned char> line(h.cupsBytesPerLine), expected(h.cupsBytesPerLine);
    std::set<uint32_t> colours;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        ASSERT_EQ(cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine), h.cupsBytesPerLine)
            << "line " << y;
        chart.DrawRow(int(y), expected.data());
        ASSERT_EQ(line, expected) << "line " << y;
        for (unsigned x = 0; x < h.cupsWidth; x += 7) {
            colours.insert(uint32_t(line[3 * x]) << 16 | uint32_t(line[3 * x + 1]) << 8 |
                           line[3 * x + 2]);
        }
    }
    EXPECT_FALSE(cupsRasterReadHeader2(raster, &h)) << "only one page expected";
    cupsRasterClose(raster);
    ::close(fd);
    // Patches, gradients and the photo-like area give many colours.
    EXPECT_GT(colours.size(), 2000u);
}

TEST(SampleRaster, WritesOnePageThatReadsBackExactly) {
    RoundTrip("127x89mm", "300dpi");
    RoundTrip("89x127mm", "300x600dpi");
    RoundTrip("153x102mmx2", "600x600dpi");
}

TEST(SampleChart, HasWhiteMarginsAndAGreyRampOf21Steps) {
    const int w = 1844, h = 1240;
    const qzm::sample::SampleChart chart(w, h);
    std::vector<uint8_t> row(3 * w);
    chart.DrawRow(0, row.data());
    EXPECT_EQ(row, std::vector<uint8_t>(3 * w, 255));
    chart.DrawRow(h - 1, row.data());
    EXPECT_EQ(row, std::vector<uint8_t>(3 * w, 255));
    // The grey ramp: neutral and rising from black to white.
    chart.DrawRow(h * 26 / 100, row.data());
    int previous = -1, steps = 0;
    for (int x = h / 40; x < w - h / 40; ++x) {
        ASSERT_EQ(row[3 * x], row[3 * x + 1]);
        ASSERT_EQ(row[3 * x], row[3 * x + 2]);
        ASSERT_GE(row[3 * x], previous);
        steps += row[3 * x] != previous;
        previous = row[3 * x];
    }
    EXPECT_EQ(steps, 21);
}

int RunCommand(const std::string& command) {
    const int status = std::system((command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SampleProgram, DefaultsAndBadOptions) {
    qzm::test::TempRoot root;
    const std::string out = root.Path() + "/sample.ras";
    ASSERT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " -o " + out), 0);
    int fd = ::open(out.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
    EXPECT_EQ(h.cupsWidth, 1844u);
    EXPECT_EQ(h.cupsHeight, 1240u);
    EXPECT_EQ(h.HWResolution[1], 300u);
    EXPECT_STREQ(h.cupsPageSizeName, "153x102mm");
    cupsRasterClose(raster);
    ::close(fd);

    EXPECT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " --page-size A4 -o " + out), 2);
    EXPECT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " --resolution 1200dpi -o " + out), 2);
    EXPECT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " --bogus"), 2);
    EXPECT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " -o " + root.Path() + "/no/dir/x.ras"), 1);
    EXPECT_EQ(RunCommand(std::string(QZM480_SAMPLE) + " -s 127x89mm -r 600x600dpi > " + out), 0);
    fd = ::open(out.c_str(), O_RDONLY);
    raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
    EXPECT_EQ(h.cupsWidth, 3096u);
    EXPECT_EQ(h.cupsHeight, 2176u);
    cupsRasterClose(raster);
    ::close(fd);
}

}  // namespace
