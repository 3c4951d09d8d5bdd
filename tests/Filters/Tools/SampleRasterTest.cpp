// The sample page program: the raster it writes reads back with libcups as
// the header CUPS would give the page and exactly the sample chart's lines.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "PageSizes.h"
#include "SampleChart.h"

namespace {

int RunCommand(const std::string& command) {
    const int status = std::system((std::string(QZM480_SAMPLE) + command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SampleProgram, WritesTheChartAsCupsWouldAndRefusesBadOptions) {
    qzm::test::TempRoot root;
    const std::string out = root.Path() + "/sample.ras";
    const struct {
        std::string args;
        const char* page;
        const char* resolution;
    } cases[] = {{" -o " + out, "153x102mm", "300dpi"},
                 {" --page-size 89x127mm --resolution 300x600dpi > " + out, "89x127mm", "300x600dpi"},
                 {" -s 153x102mmx2 -r 600x600dpi -o " + out, "153x102mmx2", "600x600dpi"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(RunCommand(c.args), 0);
        const auto& page = *qzm::pages::FindPageSize(c.page);
        const auto& res = *qzm::pages::FindResolution(c.resolution);
        const auto g = qzm::pages::GeometryOf(page, res);
        const int fd = ::open(out.c_str(), O_RDONLY);
        cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h;
        ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
        EXPECT_TRUE(h.cupsColorSpace == CUPS_CSPACE_RGB && h.cupsColorOrder == CUPS_ORDER_CHUNKED &&
                    h.cupsBitsPerPixel == 24 && h.cupsBytesPerLine == 3u * g.width && h.NumCopies == 1);
        EXPECT_TRUE(h.HWResolution[0] == unsigned(res.xDpi) && h.HWResolution[1] == unsigned(res.yDpi));
        EXPECT_EQ(h.PageSize[0], unsigned(std::lround(page.widthDots * 72 / 300.0)));
        EXPECT_EQ(h.PageSize[1], unsigned(std::lround(page.heightDots * 72 / 300.0)));
        EXPECT_STREQ(h.cupsPageSizeName, c.page);
        ASSERT_EQ(h.cupsWidth, unsigned(g.width));
        ASSERT_EQ(h.cupsHeight, unsigned(g.height));
        const qzm::sample::SampleChart chart(g.width, g.height);
        std::vector<unsigned char> line(h.cupsBytesPerLine), expected(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            ASSERT_EQ(cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine), h.cupsBytesPerLine);
            chart.DrawRow(int(y), expected.data());
            ASSERT_EQ(line, expected) << "line " << y;
        }
        EXPECT_FALSE(cupsRasterReadHeader2(raster, &h)) << "only one page expected";
        cupsRasterClose(raster);
        ::close(fd);
    }
    EXPECT_EQ(RunCommand(" --page-size A4 -o " + out), 2);
    EXPECT_EQ(RunCommand(" --resolution 1200dpi -o " + out), 2);
    EXPECT_EQ(RunCommand(" --bogus"), 2);
    EXPECT_EQ(RunCommand(" -o " + root.Path() + "/no/dir/x.ras"), 1);
}

}  // namespace
