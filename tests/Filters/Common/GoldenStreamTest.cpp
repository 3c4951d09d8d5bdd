// Whole command streams of the filter's job path (set-up, page loop, sheets)
// for a matrix of pages and options, each checked against the SHA-256 of the
// stream the filter was found to write exactly right. A mismatch names the
// case and the new digest; with QZM480_GOLDEN_DIR set, the stream is also
// written there for qzm480-inspect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "Digest.h"
#include "FilterDriver.h"
#include "Paths.h"
#include "SampleChart.h"
#include "StdoutCapture.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;

struct GoldenCase {
    const char* name;
    const char* options;  // the job's options text, as CUPS passes it
    int width;            // raster pixels of each page
    int height;
    int pages;
    int copies;       // NumCopies of every page header
    bool mediaNamed;  // the print-status file names a media size
    const char* digest;
};

// The options of the benchmark page: border, sharpness, colour adjustment.
#define BENCH_OPTIONS                                                        \
    "OvpBorder=Enable OvpSharpness=3 OvpColorAdjustment=Enable OvpGamma=20 " \
    "OvpBrightness=10 OvpContrast=10 OvpChroma=30 OvpICM=Enable OvpICCProfile=M480"
#define CHANNELS                                                                          \
    "OvpColorAdjustment=Enable OvpGammaR=20 OvpGammaG=-10 OvpGammaB=5 OvpBrightnessR=30 " \
    "OvpBrightnessG=-20 OvpBrightnessB=10 OvpContrastR=15 OvpContrastG=-5 "               \
    "OvpContrastB=25 OvpChroma=20"

const GoldenCase kCases[] = {
    // Every page size at the PPD's defaults; two pages per sheet where the
    // print-status file names a media size, then the odd page alone.
    {"Size127x89", "PageSize=127x89mm", 1548, 1088, 1, 1, false,
     "bcd56435b3bfa5cf1ca70683c0f805c33b2b24734dee382e46692e7e77b0ed9b"},
    {"Size89x127", "PageSize=89x127mm", 1088, 1548, 1, 1, false,
     "86a09ecfbc792b67a9c04684023280a391281a929f3896c0169f1006eed2348f"},
    {"Size127x127", "PageSize=127x127mm", 1548, 1540, 1, 1, false,
     "8bce409e0e78edef9e5c6a1b0c863f51de2ea1e87da1702147733432e50f9dd7"},
    {"Size153x102", "PageSize=153x102mm", 1844, 1240, 1, 1, false,
     "43f6628b67e1be162cad4c8d2ca6f3bd1c6bb22741409a51c33582e1c9139597"},
    {"Size102x153", "PageSize=102x153mm", 1240, 1844, 1, 1, false,
     "18ef21dddbbdda38a7b510fd20e6373f9db81e37ce5c4806f10fc900e1385a5c"},
    {"Size127x178", "PageSize=127x178mm", 1548, 2138, 1, 1, false,
     "b2b2229f9e8080a477e41cdf68b03249cfbe6bec692aecb1992c56042973de10"},
    {"Size153x153", "PageSize=153x153mm", 1844, 1836, 1, 1, false,
     "7eeb6c92fc8d5cfd9420de5d6c101d656a50e3f543cf742da61bcbf80b85fb60"},
    {"Size153x204", "PageSize=153x204mm", 1844, 2436, 1, 1, false,
     "a666c7dec5857c0c85f0b52656b552220bc41e9d52e5f8e489ce98667ab2b9e3"},
    {"Size127x89x2", "PageSize=127x89mmx2", 1548, 1088, 3, 1, true,
     "3023bb9271067a20f658500e977b384478e8f94587692ab9b27210408e042831"},
    {"Size89x127x2", "PageSize=89x127mmx2", 1088, 1548, 3, 1, true,
     "2566f20623771c10b00f644abf86597988de17a531c2d0796b31bf383cee9902"},
    {"Size153x102x2", "PageSize=153x102mmx2", 1844, 1240, 2, 1, true,
     "03b9daa38d5be5884f13b54807d1870dd5980d411392989e76f464273561f6f2"},
    {"Size102x153x2", "PageSize=102x153mmx2 OvpBorder=Enable", 1240, 1844, 2, 1, true,
     "1e8106f142c3d55fe95e64180e5b519460a65e1977827ce4a77353d552d7e9af"},
    {"TwinWithoutMediaName", "PageSize=153x102mmx2", 1844, 1240, 2, 1, false,
     "ad22a3f450c2095eef3205b946557aa9b9b03fc7f0c33e29bb1a35e8f4330d13"},
    // Resolutions, on the benchmark page and on a turned paper.
    {"Bench300x600", "PageSize=153x204mm Resolution=300x600dpi " BENCH_OPTIONS, 1844, 4872, 1, 1,
     false, "d3cb18a3058c678548db16526b9d4bd2cbb41b476dda7617a41bb4ddabad9c32"},
    {"Bench600x600", "PageSize=153x204mm Resolution=600x600dpi " BENCH_OPTIONS, 3688, 4872, 1, 1,
     false, "cbb49252f172c3b4813a25423e454387dd8bf9ba6b498044ed5b55a3077b7592"},
    {"Turned300x600", "PageSize=89x127mm Resolution=300x600dpi", 1088, 3096, 1, 1, false,
     "e19a3e4af2ce57a6472d4f83b2b9bcfac3b8cd6159425ddf0ee57afadf09df9f"},
    {"Border600x600", "PageSize=127x89mm Resolution=600x600dpi OvpBorder=Enable", 3096, 2176, 1, 1,
     false, "4ea6fc3fb64a1873850fa77e8871a62d28b5e249a7755183c160955cdfa4f49a"},
    {"Twin300x600", "PageSize=153x102mmx2 Resolution=300x600dpi " CHANNELS, 1844, 2480, 2, 1, true,
     "ea7606e9d1c2e849452ef5c20d985baf887d528aa3a239682f8a3b659ffce063"},
    // Border, sharpness and colour adjustment.
    {"Border", "PageSize=127x89mm OvpBorder=Enable", 1548, 1088, 1, 1, false,
     "bc4530ae6730646fcd55cab0f3ea52575fbb60700be36a68dc5ea2397a19f955"},
    {"SharpnessMinus2", "PageSize=127x89mm OvpSharpness=-2", 1548, 1088, 1, 1, false,
     "23aa4b7188696dda5a7d06cd2df01d908ddf79bda6fcc72dced189b5814d06ae"},
    {"Sharpness3", "PageSize=127x89mm OvpSharpness=3", 1548, 1088, 1, 1, false,
     "31fd25bed5e00596fd43ced1acc9fe307762fe909a6686302432688a45b3b460"},
    {"Sharpness8Border", "PageSize=127x89mm OvpSharpness=8 OvpBorder=Enable", 1548, 1088, 1, 1,
     false, "b660b2be7556d34addebe3359ed6c6216d507c3c8adca26ee5214c39b4de8f44"},
    {"ChannelAdjustment", "PageSize=127x89mm " CHANNELS, 1548, 1088, 1, 1, false,
     "b50421e1441b0b1730861d5bad1258d5fa92e101b647c13b0131fb81a5a02919"},
    {"CombinedAdjustment",
     "PageSize=127x89mm OvpColorAdjustment=Enable OvpGamma=-30 OvpBrightness=-40 "
     "OvpContrast=50 OvpChroma=-60 OvpGammaR=90",
     1548, 1088, 1, 1, false, "bcf3b3b3ad43354614554e0f5170a8be52f4a37bee3e829797a47f558cd6df7d"},
    {"ExtremeAdjustment",
     "PageSize=127x89mm OvpColorAdjustment=Enable OvpGamma=100 OvpBrightness=100 "
     "OvpContrast=-100 OvpChroma=100",
     1548, 1088, 1, 1, false, "6c6e957ec29ffdc07c9b32146ac4219fd01675a8ffb59cb280c0e5cbb25398b1"},
    {"AdjustmentSwitchedOff", "PageSize=127x89mm OvpGamma=50 OvpChroma=50", 1548, 1088, 1, 1, false,
     "bcd56435b3bfa5cf1ca70683c0f805c33b2b24734dee382e46692e7e77b0ed9b"},
    // Colour matching.
    {"IcmNone", "PageSize=127x89mm OvpICM=None", 1548, 1088, 1, 1, false,
     "5e8e6ab076b2baebd5b478f9a53e4af17907d524b28ca0bbdace5f63e38da57f"},
    {"IcmM480", "PageSize=127x89mm OvpICCProfile=M480", 1548, 1088, 1, 1, false,
     "f6ac5194f2072842b411e24cb79c9a5972032633e12fb2901f6d6a22ccd8ed77"},
    {"ApplicationMatching", "PageSize=127x89mm AP_ColorMatchingMode=AP_ApplicationColorMatching",
     1548, 1088, 1, 1, false, "5e8e6ab076b2baebd5b478f9a53e4af17907d524b28ca0bbdace5f63e38da57f"},
    // Orientation, copies and the sheet's settings commands.
    {"Orientation2", "PageSize=127x89mm com.apple.print.preset.Orientation..n.=2", 1548, 1088, 2, 1,
     false, "25588e8340ebd4700e1ce020e01753b89854d0998d07eaadf0c03079d4b99d70"},
    {"Orientation4Turned", "PageSize=89x127mm com.apple.print.preset.Orientation..n.=4", 1088, 1548,
     1, 1, false, "d766b63c3e29ede6a29b7b8a611ae1a29b95f917d9b842d275f0c72008957fa8"},
    {"Orientation3", "PageSize=127x89mm com.apple.print.preset.Orientation..n.=3", 1548, 1088, 1, 1,
     false, "bcd56435b3bfa5cf1ca70683c0f805c33b2b24734dee382e46692e7e77b0ed9b"},
    {"CopiesTwin", "PageSize=127x89mmx2", 1548, 1088, 2, 3, true,
     "b1cc4d4959cf307891420a04919636faedf147c93e498e2a5a9cd3ba741233c0"},
    {"CopiesNone", "PageSize=127x89mm", 1548, 1088, 2, 0, false,
     "07f80f0c1b90d4739fef6e7fed46401db85221f1735d26dd8fdc08e6d2d886db"},
    {"SheetSettings",
     "PageSize=153x102mm OvpOvercoatFinish=Matte Ovp2InchCut=Enable OvpPrintRetry=Disable "
     "OvpPrintSpeed=Enable",
     1844, 1240, 1, 1, false, "52b79a13977f5eb30f2906181f4a3d8513981be18924ab34e8777af393e4e8a7"},
    {"LusterCut", "PageSize=153x204mm OvpOvercoatFinish=Luster Ovp2InchCut=Enable", 922, 1218, 1, 1,
     false, "bacde5f13baf27433d0791d460cd56a5f2b43ad32e9803b04327fc5cb44cc1af"},
    // Pages that are not the media's size.
    {"OnePixel", "PageSize=127x89mm OvpBorder=Enable OvpSharpness=5", 1, 1, 1, 1, false,
     "b4cf077bf5689de2acfcae90347a8fdf787ae790b308bf6b5ff847e57e2c51a2"},
    {"OddWidth", "PageSize=153x102mm " CHANNELS " OvpSharpness=-1", 1001, 777, 1, 1, false,
     "6c33445c9c09ceb54e805e0591928a3f937b5dc444cd88e5d2264d184db3382d"},
    {"LargerThanPanel", "PageSize=127x89mm OvpSharpness=2", 2000, 1500, 1, 1, false,
     "4da947412a2dbe641bf2bde69c90de22e31df67858f88033ee6da4a9c7843a91"},
    {"BorderBands", "PageSize=127x89mm OvpBorder=Enable", 1548, 2001, 1, 1, false,
     "42677c70fbe007219c2ad19d05488924ba07a96c675afdaccc0e4c97daa3b2c6"},
    {"TallAndThin600", "PageSize=102x153mm Resolution=600x600dpi OvpBorder=Enable", 7, 3001, 1, 1,
     false, "07ebbfa0a7978896cb70a15cb64b6cb8efd82afdfa6864764eb70ccb16448f55"},
    // Pages against the image side's bands of rows on worker threads: one
    // row, fewer rows than bands, and a turned page through every step.
    {"OneRow", "PageSize=127x89mm " BENCH_OPTIONS, 1548, 1, 1, 1, false,
     "290b14eaa0717530aebf7dff40aaf96bee5fe54232a8143963400ffd8df175f6"},
    {"FewRows",
     "PageSize=127x89mm OvpBorder=Enable OvpSharpness=4 OvpColorAdjustment=Enable OvpChroma=-20",
     1548, 37, 2, 1, false, "4623ca6de1456616bab65a0166550f07167d7d66413a63c791e56eb7640296ea"},
    {"TurnedEveryStep",
     "PageSize=102x153mm Resolution=300x600dpi OvpBorder=Enable OvpSharpness=1 "
     "OvpColorAdjustment=Enable OvpGamma=-20 OvpChroma=40",
     1240, 3688, 1, 1, false, "95d92b882bba9ca7d83b9ea184fc1ea7d699cf5bd9a1adc90010314cdf5f2f1c"},
    // Option values from the job are untrusted text: an unknown page size is
    // the default one, choices compare case-sensitively (the stream of the
    // PPD's defaults), numbers beyond their range saturate.
    {"UnknownPageSize", "PageSize=127X89MM", 1844, 1240, 1, 1, false,
     "43f6628b67e1be162cad4c8d2ca6f3bd1c6bb22741409a51c33582e1c9139597"},
    {"ChoicesInLowerCase",
     "PageSize=127x89mm OvpBorder=enable OvpICM=none OvpICCProfile=m480 OvpColorAdjustment=enable "
     "OvpGamma=50 OvpOvercoatFinish=luster OvpPrintRetry=disable OvpPrintSpeed=enable OvpSharpness=9",
     1548, 1088, 1, 1, false, "bcd56435b3bfa5cf1ca70683c0f805c33b2b24734dee382e46692e7e77b0ed9b"},
    {"NumbersBeyondTheirRange",
     "PageSize=127x89mm OvpColorAdjustment=Enable OvpGamma=100000 OvpBrightness=2000000000 "
     "OvpContrast=-2000000000 OvpChroma=99999999999999999999 OvpGammaG=-100000",
     1548, 1088, 1, 1, false, "237c15b336d9da54ccf564af13e03bcd995ff72de9b7629467a8c389ce296acd"},
    {"Sharpness6", "PageSize=127x89mm OvpSharpness=6", 1548, 1088, 1, 1, false, "2526467c43c323ba8b3255a4fb0010e00f62acbd86aeab0397ddf1dff6ec7b51"},
    {"Sharpness7", "PageSize=127x89mm OvpSharpness=7", 1548, 1088, 1, 1, false, "e3b3db5bdd0cf22017248b8730e6db7a27178fbe65e72654a31122879fac397c"},
    {"MediaOptionNamesThePageSize", "media=89x127mmx2", 1088, 1548, 3, 1, true,
     "2566f20623771c10b00f644abf86597988de17a531c2d0796b31bf383cee9902"},
    {"PageSizeBeforeMedia", "media=127x89mm PageSize=89x127mmx2", 1088, 1548, 3, 1, true,
     "2566f20623771c10b00f644abf86597988de17a531c2d0796b31bf383cee9902"},
};

// Runs the filter's job path as the program does, without its wait for the
// print-status file, and returns the command stream. The raster is the sample
// chart, page k > 0 its negative turned upside down, so that pages and their
// order show in the stream.
std::vector<uint8_t> RunJob(const qzm::test::TempRoot& root, const GoldenCase& c) {
    const fs::path profiles = root / qzm::paths::kProfileFolder;
    fs::create_directories(profiles);
    for (const char* name : {qzm::paths::kProfileM480, qzm::paths::kProfileOV480})
        fs::copy_file(fs::path(QZM480_PROFILE_DIR) / fs::path(name).filename(),
                      profiles / fs::path(name).filename());
    fs::create_directories(root / qzm::paths::kCacheFolder);
    std::ofstream(root / qzm::paths::kCacheFolder + "/Print_42.log")
        << "STATUS=1\n" << (c.mediaNamed ? "MEDIA_SIZE=6x4 DS\n" : "");

    std::FILE* file = std::tmpfile();
    cups_raster_t* raster = cupsRasterOpen(fileno(file), CUPS_RASTER_WRITE);
    const qzm::sample::SampleChart chart(c.width, c.height);
    std::vector<uint8_t> line(size_t(c.width) * 3);
    for (int k = 0; k < c.pages; ++k) {
        cups_page_header2_t h{};
        h.NumCopies = unsigned(c.copies);
        h.cupsWidth = unsigned(c.width);
        h.cupsHeight = unsigned(c.height);
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = unsigned(c.width) * 3;
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        h.cupsNumColors = 3;
        cupsRasterWriteHeader2(raster, &h);
        for (int y = 0; y < c.height; ++y) {
            chart.DrawRow(k == 0 ? y : c.height - 1 - y, line.data());
            for (uint8_t& b : line)
                b = k > 0 ? uint8_t(255 - b) : b;
            cupsRasterWritePixels(raster, line.data(), unsigned(line.size()));
        }
    }
    cupsRasterClose(raster);
    std::rewind(file);
    raster = cupsRasterOpen(fileno(file), CUPS_RASTER_READ);

    cups_option_t* options = nullptr;
    FilterJob job;
    job.numOptions = cupsParseOptions(c.options, 0, &options);
    job.options = options;
    job.ppd = wrappedPpdOpenFile(QZM480_PPD_GZ);
    const char* turn = cupsGetOption("com.apple.print.preset.Orientation..n.", job.numOptions, options);
    job.orientation = turn != nullptr ? std::atoi(turn) : 1;
    Canceled = 0;
    qzm::test::StdoutCapture capture;
    {
        DeviceEntry_QZM480 entry;
        // The stream may not depend on how many threads work on a page or
        // how small its bands are: the cases take turns at four settings of
        // threads and rows per band (0: the program's own bands).
        const int settings[][2] = {{1, 0}, {2, 1}, {3, 1}, {5, 1}};
        // GetParam() hands out a copy: the case's place is found by its name.
        const auto place =
            std::find_if(std::begin(kCases), std::end(kCases), [&](const GoldenCase& k) {
                return std::string_view(k.name) == c.name;
            });
        const auto [threads, bandRows] = settings[(place - std::begin(kCases)) % 4];
        entry.m_imageBuffer.SetWorkerThreads(threads, bandRows);
        job.entry = &entry;
        _ConfigureJob(job, "42");
        _PrintPages(job, raster);
    }
    cupsRasterClose(raster);
    std::fclose(file);
    wrappedPpdClose(job.ppd);
    cupsFreeOptions(job.numOptions, options);
    return capture.Stop();
}

void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

class GoldenStream : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenStream, IsTheKnownGoodStream) {
    const GoldenCase& c = GetParam();
    qzm::test::TempRoot root;
    const std::vector<uint8_t> stream = RunJob(root, c);
    const std::string digest = qzm::test::Sha256(stream);
    if (const char* dir = std::getenv("QZM480_GOLDEN_DIR"); dir != nullptr && digest != c.digest)
        std::ofstream(fs::path(dir) / (std::string(c.name) + ".qzm480"), std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    EXPECT_EQ(digest, c.digest) << c.name << ": " << stream.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Matrix, GoldenStream, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
