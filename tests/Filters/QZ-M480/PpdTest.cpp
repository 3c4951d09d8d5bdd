// The queue's PPD, checked with CUPS's own tools: cupstestppd accepts it,
// it offers every choice the filter reacts to, and CUPS's rasterizers give
// exactly the printer's dot counts for every page size.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "Common.h"
#include "PageSizes.h"
#include "Staging.h"

namespace {

using qzm::test::RunShell;

const std::string kPpd = QZM480_PPD_GZ;

TEST(PpdTest, CupsTestPpdFindsNoFaultAndEveryChoiceIsOffered) {
    if (RunShell("command -v cupstestppd >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "cupstestppd is not installed (package cups-client)";
    // The filter program is installed with the package, not here.
    std::string report;
    EXPECT_EQ(RunShell("cupstestppd -I filters '" + kPpd + "' 2>&1", &report), 0) << report;
    EXPECT_EQ(report.find("FAIL"), std::string::npos) << report;

    std::stringstream source;
    source << std::ifstream(QZM480_PPD_SOURCE).rdbuf();
    const std::string text = source.str();
    EXPECT_NE(text.find("*cupsFilter2: \"application/vnd.cups-raster application/vnd.orvane-"
                        "qzm480 0 /Library/Printers/Orvane/Filters/rastertoqzm480\""),
              std::string::npos);
    EXPECT_EQ(text.find("OvpDecurl"), std::string::npos);  // the model has no decurl
    // The first choice is the default, read from the compressed PPD.
    const std::vector<std::pair<std::string, std::vector<std::string>>> options = {
        {"PageSize", {"153x102mm", "127x89mm", "89x127mm", "127x89mmx2", "89x127mmx2", "127x127mm",
                      "127x178mm", "102x153mm", "153x102mmx2", "102x153mmx2", "153x153mm", "153x204mm"}},
        {"Resolution", {"300dpi", "300x600dpi", "600x600dpi"}},
        {"OvpBorder", {"Disable", "Enable"}},
        {"OvpOvercoatFinish", {"Glossy", "Matte", "FineMatte", "Luster"}},
        {"Ovp2InchCut", {"Disable", "Enable"}},
        {"OvpPrintRetry", {"Enable", "Disable"}},
        {"OvpPrintSpeed", {"Disable", "Enable"}},
        {"OvpICM", {"Enable", "None"}},
        {"OvpICCProfile", {"OV480mac", "M480"}},
        {"OvpSharpness", {"0", "-2", "-1", "1", "2", "3", "4", "5", "6", "7", "8"}},
        {"OvpColorAdjustment", {"Disable", "Enable"}},
        {"OvpGammaR", {"0", "-100", "100"}},
        {"OvpBrightnessG", {"0", "-100", "100"}},
        {"OvpContrastB", {"0", "-100", "100"}},
        {"OvpChroma", {"0", "-100", "100"}},
    };
    ppdfile_s* ppd = wrappedPpdOpenFile(kPpd.c_str());
    for (const auto& [option, choices] : options) {
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd, option.c_str()), choices[0].c_str()) << option;
        for (const std::string& choice : choices)
            EXPECT_NE(text.find("\n*" + option + " " + choice + "/"), std::string::npos) << option << " " << choice;
    }
    // A combined correction in the PPD would override the per-channel ones in every job.
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "OvpGamma"), nullptr);
    wrappedPpdClose(ppd);
    // Every page size is the media's dots at 300 dpi, in points.
    for (const auto& page : qzm::pages::kPageSizes) {
        const auto g = qzm::pages::GeometryOf(page, qzm::pages::kResolutions[0]);
        char size[64];
        std::snprintf(size, sizeof size, "\"%.2f %.2f\"\n", g.widthPoints, g.heightPoints);
        const size_t at = text.find("\n*PaperDimension " + std::string(page.name) + "/");
        ASSERT_NE(at, std::string::npos) << page.name;
        EXPECT_EQ(text.substr(text.find(": ", at) + 2, std::strlen(size)), size) << page.name;
    }
}

// A small photo turned into a PDF page the way print dialogs send it, then
// rasterized for the queue at every resolution, for a turned two-up size and
// a long one: 8-bit chunky RGB of exactly the printer's dots. The filter named
// by the PPD is not installed, so the chain stops at CUPS raster.
TEST(PpdTest, CupsRasterHasThePrintersDotCounts) {
    if (RunShell("command -v cupsfilter >/dev/null 2>&1") != 0 ||
        (!std::filesystem::exists("/usr/lib/cups/filter/gstoraster") &&
         !std::filesystem::exists("/usr/lib/cups/filter/pdftoraster")))
        GTEST_SKIP() << "needs cupsfilter and a PDF rasterizer of cups-filters";
    qzm::test::TempRoot folder;
    const std::string dir = folder.Path(), cupsfilter = "cupsfilter -p '" + kPpd + "' -m application/";
    std::ofstream(dir + "/photo.ppm", std::ios::binary) << "P6\n4 3\n255\n" << std::string(36, '\x80');
    ASSERT_EQ(RunShell(cupsfilter + "pdf '" + dir + "/photo.ppm' > '" + dir + "/photo.pdf' 2>/dev/null"), 0);
    for (const char* name : {"89x127mmx2 300dpi", "89x127mmx2 300x600dpi", "89x127mmx2 600x600dpi",
                             "153x204mm 300x600dpi"}) {
        const std::string page(name, std::strchr(name, ' ')), res(std::strchr(name, ' ') + 1);
        ASSERT_EQ(RunShell(cupsfilter + "vnd.cups-raster -o PageSize=" + page + " -o Resolution=" + res + " '" +
                        dir + "/photo.pdf' > '" + dir + "/photo.ras' 2>/dev/null"),
                  0)
            << name;
        const int fd = ::open((dir + "/photo.ras").c_str(), O_RDONLY);
        cups_raster_t* stream = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h{};
        const bool havePage = stream != nullptr && cupsRasterReadHeader2(stream, &h) != 0;
        cupsRasterClose(stream);
        ::close(fd);
        const auto g = qzm::pages::GeometryOf(*qzm::pages::FindPageSize(page), *qzm::pages::FindResolution(res));
        EXPECT_TRUE(havePage && h.cupsWidth == unsigned(g.width) && h.cupsHeight == unsigned(g.height) &&
                    h.cupsColorSpace == CUPS_CSPACE_RGB && h.cupsBitsPerColor == 8 &&
                    h.cupsColorOrder == CUPS_ORDER_CHUNKED && h.cupsBytesPerLine == 3 * h.cupsWidth)
            << name << ": " << h.cupsWidth << " x " << h.cupsHeight;
    }
}

}  // namespace
