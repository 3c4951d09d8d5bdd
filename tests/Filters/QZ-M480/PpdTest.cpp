// The queue's PPD, checked with CUPS's own tools: cupstestppd accepts it and
// CUPS's rasterizers give exactly the printer's dot counts for every page
// size and resolution.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Common.h"
#include "../../Support/TempRoot.h"

using qzm::test::TempRoot;

namespace {

const std::string kPpd = QZM480_PPD_GZ;
const std::string kPpdSource = QZM480_PPD_SOURCE;

// Runs a shell command; returns its exit status and its standard output.
int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output != nullptr)
            output->append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Have(const char* program) {
    return Shell(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PpdTest, CupsTestPpdFindsNoFault) {
    if (!Have("cupstestppd")) {
        GTEST_SKIP() << "cupstestppd is not installed (package cups-client)";
    }
    // The filter program is installed with the package, not here: that one
    // check is left out.
    std::string report;
    const int status = Shell("cupstestppd -I filters '" + kPpd + "' 2>&1", &report);
    EXPECT_EQ(status, 0) << report;
    EXPECT_EQ(report.find("FAIL"), std::string::npos) << report;
}

TEST(PpdTest, OptionsAsTheFilterReadsThem) {
    const std::string text = ReadText(kPpdSource);
    EXPECT_NE(text.find("*cupsFilter2: \"application/vnd.cups-raster application/vnd.orvane-"
                        "qzm480 0 /Library/Printers/Orvane/Filters/rastertoqzm480\""),
              std::string::npos);
    EXPECT_EQ(text.find("OvpDecurl"), std::string::npos);  // the model has no decurl
    // Every choice the filter reacts to is offered; the first is the default.
    const std::vector<std::pair<std::string, std::vector<std::string>>> options = {
        {"PageSize",
         {"153x102mm", "127x89mm", "89x127mm", "127x89mmx2", "89x127mmx2", "127x127mm", "127x178mm",
          "102x153mm", "153x102mmx2", "102x153mmx2", "153x153mm", "153x204mm"}},
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
        {"OvpGammaG", {"0"}},
        {"OvpGammaB", {"0"}},
        {"OvpBrightnessR", {"0", "-100", "100"}},
        {"OvpBrightnessG", {"0"}},
        {"OvpBrightnessB", {"0"}},
        {"OvpContrastR", {"0", "-100", "100"}},
        {"OvpContrastG", {"0"}},
        {"OvpContrastB", {"0"}},
        {"OvpChroma", {"0", "-100", "100"}},
    };
    ppdfile_s* ppd = wrappedPpdOpenFile(kPpd.c_str());  // the compressed PPD
    for (const auto& [option, choices] : options) {
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd, option.c_str()), choices[0].c_str()) << option;
        for (const std::string& choice : choices) {
            EXPECT_NE(text.find("\n*" + option + " " + choice + "/"), std::string::npos)
                << option << " " << choice;
        }
    }
    // A combined correction in the PPD would override the per-channel ones
    // in every job, so it is left to the job's options.
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "OvpGamma"), nullptr);
    wrappedPpdClose(ppd);
}

// One page size at one resolution and the raster CUPS must make of it.
struct RasterCase {
    const char* pageSize;
    const char* resolution;
    unsigned width, height;
};

void PrintTo(const RasterCase& c, std::ostream* os) {
    *os << c.pageSize << " at " << c.resolution;
}

class PpdRasterTest : public testing::TestWithParam<RasterCase> {};

TEST_P(PpdRasterTest, CupsRasterHasThePrintersDotCounts) {
    if (!Have("cupsfilter")) {
        GTEST_SKIP() << "cupsfilter is not installed (package cups)";
    }
    if (!std::filesystem::exists("/usr/lib/cups/filter/gstoraster") &&
        !std::filesystem::exists("/usr/lib/cups/filter/pdftoraster")) {
        GTEST_SKIP() << "no PDF rasterizer of cups-filters is installed";
    }
    const RasterCase& c = GetParam();
    TempRoot folder;
    // A small photo (4 x 3 pixels), turned into a PDF page the way print
    // dialogs send it, then rasterized for the queue. The filter path named
    // by the PPD is not installed, so the chain stops at CUPS raster.
    const std::string image = folder.Path() + "/photo.ppm";
    {
        std::ofstream out(image, std::ios::binary);
        out << "P6\n4 3\n255\n";
        for (int i = 0; i < 12; ++i)
            out << static_cast<char>(40 * i) << '\x80' << '\x20';
    }
    const std::string pdf = folder.Path() + "/photo.pdf";
    const std::string raster = folder.Path() + "/photo.ras";
    const std::string log = folder.Path() + "/cupsfilter.log";
    ASSERT_EQ(Shell("cupsfilter -p '" + kPpd + "' -m application/pdf '" + image + "' > '" + pdf +
                    "' 2> '" + log + "'"),
              0)
        << ReadText(log);
    ASSERT_EQ(Shell("cupsfilter -p '" + kPpd + "' -m application/vnd.cups-raster -o PageSize=" +
                    c.pageSize + " -o Resolution=" + c.resolution + " '" + pdf + "' > '" + raster +
                    "' 2> '" + log + "'"),
              0)
        << ReadText(log);

    const int fd = ::open(raster.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    cups_raster_t* stream = cupsRasterOpen(fd, CUPS_RASTER_READ);
    ASSERT_NE(stream, nullptr);
    cups_page_header2_t header{};
    const bool havePage = cupsRasterReadHeader2(stream, &header) != 0;
    cupsRasterClose(stream);
    ::close(fd);
    ASSERT_TRUE(havePage) << ReadText(log);
    EXPECT_EQ(header.cupsWidth, c.width);
    EXPECT_EQ(header.cupsHeight, c.height);
    // The filter takes 8-bit chunky RGB.
    EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(header.cupsBitsPerColor, 8u);
    EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(header.cupsBytesPerLine, 3 * c.width);
}

// Dot counts at 300 dpi; "300x600dpi" doubles the length, "600x600dpi" both.
std::vector<RasterCase> AllCases() {
    const struct {
        const char* name;
        unsigned w, h;
    } sizes[] = {
        {"127x89mm", 1548, 1088},    {"89x127mm", 1088, 1548},  {"127x89mmx2", 1548, 1088},
        {"89x127mmx2", 1088, 1548},  {"127x127mm", 1548, 1540}, {"127x178mm", 1548, 2138},
        {"153x102mm", 1844, 1240},   {"102x153mm", 1240, 1844}, {"153x102mmx2", 1844, 1240},
        {"102x153mmx2", 1240, 1844}, {"153x153mm", 1844, 1836}, {"153x204mm", 1844, 2436}};
    std::vector<RasterCase> cases;
    for (const auto& s : sizes) {
        cases.push_back({s.name, "300dpi", s.w, s.h});
        cases.push_back({s.name, "300x600dpi", s.w, 2 * s.h});
        cases.push_back({s.name, "600x600dpi", 2 * s.w, 2 * s.h});
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<RasterCase>& info) {
    std::string name = std::string(info.param.pageSize) + "_" + info.param.resolution;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(AllSizes, PpdRasterTest, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
