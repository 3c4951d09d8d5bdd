// Fuzz target: the filter's page path on a raster stream. The input chooses
// the job options, the raster header fields and the pixels; the harness
// writes that raster with libcups and lets the filter's page loop read it,
// process the pages and write the sheets (to /dev/null). Pages are kept at
// most 48 x 48 pixels and the printer's media are shrunk 32 times on each
// side (head width, sheets, panels, margins), so that the fuzzer explores
// logic rather than memory: a full-size sheet takes a tenth of a second.
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <lcms2.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Common.h"
#include "FilterDriver.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

constexpr char kJobId[] = "7";
constexpr uint32_t kMaxSide = 48;

const char* const kPageSizes[] = {"127x89mm",   "89x127mm",   "127x127mm",   "153x102mm",
                                  "102x153mm",  "127x178mm",  "153x153mm",   "153x204mm",
                                  "127x89mmx2", "89x127mmx2", "153x102mmx2", "102x153mmx2",
                                  "4x6",        "153x102mmx3"};
const cups_cspace_t kSpaces[] = {CUPS_CSPACE_RGB, CUPS_CSPACE_SRGB, CUPS_CSPACE_W, CUPS_CSPACE_CMYK,
                                 CUPS_CSPACE_ADOBERGB};
const unsigned kBits[] = {8, 8, 8, 16, 1, 2, 4};

// The QZ-M480 with every media and its print head 32 times smaller: the
// same layouts, panels and placement rules on sheets of a few thousand dots.
class SmallSheetEntry : public DeviceEntry_QZM480 {
  public:
    static constexpr int32_t kShrink = 32;

    int GetHeadWidth() override { return DeviceEntry_QZM480::GetHeadWidth() / kShrink; }

    int SetMediaInfo(DeviceMediaBufferInfo* info, int mediaId, double firmware) override {
        const int result = DeviceEntry_QZM480::SetMediaInfo(info, mediaId, firmware);
        if (result != 0 || info == nullptr || info->mediaId == -1) {
            return result;
        }
        for (int32_t* dots : {&info->widthDots, &info->marginXDots, &info->marginYDots,
                              &info->panelGapDots, &info->panelWidthDots, &info->panelHeightDots}) {
            *dots = (*dots + kShrink - 1) / kShrink;  // what is there stays there
        }
        // A sheet stays its panels and the gaps between them.
        info->heightDots = info->panelCount * info->panelHeightDots +
                           (info->panelCount - 1) * info->panelGapDots;
        return UpdateMediaInfo(info);
    }
};

// The package's PPD cut down to its "*Default" lines: the filter reads
// nothing else, and every option lookup reads the file from the top (the PPD
// reader has its own target).
std::string DefaultsOnlyPpd(const std::string& folder) {
    std::ifstream full(QZM480_PPD);
    std::string defaults;
    for (std::string line; std::getline(full, line);) {
        if (line.rfind("*Default", 0) == 0) {
            defaults += line + '\n';
        }
    }
    const std::string path = folder + "/defaults.ppd";
    qzm::fuzz::WriteWholeFile(path, defaults);
    return path;
}

// Writes a small RGB output profile (primaries, white point and a gamma
// curve) with the given header intent. The package's own profiles hold
// lookup tables whose transform takes tens of milliseconds to build for
// every page; colour matching is the colour library's work, what matters
// here is that the filter chooses, applies and releases the transform.
void WriteShaperProfile(const std::string& path, cmsUInt32Number intent) {
    const cmsCIExyY white{0.3457, 0.3585, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.62, 0.33, 1.0}, {0.30, 0.58, 1.0}, {0.16, 0.07, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    if (profile == nullptr) {
        std::abort();
    }
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetHeaderRenderingIntent(profile, intent);
    if (!cmsSaveProfileToFile(profile, path.c_str())) {
        std::abort();
    }
    cmsCloseProfile(profile);
    cmsFreeToneCurve(gamma);
}

struct Setup {
    Setup() {
        root = qzm::fuzz::MakeProcessRoot();
        // The print-status file the filter waits for, and the ICC profiles.
        char designed[128];
        _MakePrintStatusPath(kJobId, designed);
        qzm::fuzz::WriteWholeFile(qzm::paths::Rooted(designed), "MEDIA_SIZE=\"\"\n");
        const std::string profiles = qzm::paths::Rooted(qzm::paths::kProfileFolder);
        std::filesystem::create_directories(profiles);
        WriteShaperProfile(profiles + "M480_0100.icc", INTENT_PERCEPTUAL);
        WriteShaperProfile(profiles + "ov-480-mac-251126-5.icc", INTENT_RELATIVE_COLORIMETRIC);
        // The sheets go nowhere; libFuzzer reports on standard error.
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
        raster = ::memfd_create("raster", MFD_CLOEXEC);
        ppd = wrappedPpdOpenFile(DefaultsOnlyPpd(root).c_str());
    }
    std::string root;
    int raster = -1;
    ppdfile_s* ppd = nullptr;
};

// One page header from the input: small pages of any layout.
cups_page_header2_t Header(qzm::fuzz::Input& input) {
    cups_page_header2_t header{};
    header.cupsWidth = 1 + input.Byte() % kMaxSide;
    header.cupsHeight = 1 + input.Byte() % kMaxSide;
    header.cupsColorSpace = kSpaces[input.Byte() % std::size(kSpaces)];
    header.cupsBitsPerColor = kBits[input.Byte() % std::size(kBits)];
    header.cupsColorOrder = input.Byte() % 5 == 0 ? CUPS_ORDER_BANDED : CUPS_ORDER_CHUNKED;
    const unsigned colours = header.cupsColorSpace == CUPS_CSPACE_W      ? 1
                             : header.cupsColorSpace == CUPS_CSPACE_CMYK ? 4
                                                                         : 3;
    header.cupsBitsPerPixel = header.cupsColorOrder == CUPS_ORDER_CHUNKED
                                  ? header.cupsBitsPerColor * colours
                                  : header.cupsBitsPerColor;
    header.cupsBytesPerLine = (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
    if (header.cupsColorOrder == CUPS_ORDER_BANDED) {
        header.cupsBytesPerLine *= colours;
    }
    header.HWResolution[0] = input.Byte() % 3 == 0 ? 600 : 300;
    header.HWResolution[1] = input.Byte() % 3 == 0 ? 600 : 300;
    header.NumCopies = input.Byte() % 4;
    header.Orientation = static_cast<cups_orient_t>(input.Byte() % 4);
    std::strncpy(header.cupsPageSizeName, kPageSizes[input.Byte() % std::size(kPageSizes)],
                 sizeof header.cupsPageSizeName - 1);
    header.PageSize[0] = 432;
    header.PageSize[1] = 288;
    return header;
}

// Writes the pages to the memory file: each header, then its lines filled
// from the pixel bytes round and round.
bool WriteRaster(int fd, qzm::fuzz::Input& input, std::string_view& pixels) {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    cups_raster_t* out = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    if (out == nullptr) {
        return false;
    }
    const int pages = 1 + input.Byte() % 3;
    cups_page_header2_t headers[3];
    for (int p = 0; p < pages; ++p) {
        headers[p] = Header(input);
    }
    pixels = input.Rest();
    size_t at = 0;
    for (int p = 0; p < pages; ++p) {
        cups_page_header2_t& header = headers[p];
        cupsRasterWriteHeader2(out, &header);
        std::string line(header.cupsBytesPerLine, '\0');
        for (uint32_t y = 0; y < header.cupsHeight; ++y) {
            for (char& c : line) {
                c = pixels.empty() ? '\x80' : pixels[at++ % pixels.size()];
            }
            cupsRasterWritePixels(out, reinterpret_cast<unsigned char*>(line.data()),
                                  header.cupsBytesPerLine);
        }
    }
    cupsRasterClose(out);
    return ::lseek(fd, 0, SEEK_SET) == 0;
}

}  // namespace

// The page path allocates and frees whole bitmaps in every run: with the
// default 256 MB quarantine each run touches fresh memory, which costs more
// than the run itself. Freed blocks still wait in a 16 MB quarantine.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    qzm::fuzz::Input input(data, size);
    // The job options, as a user writes them on the command line, end at
    // the first line feed. Colour matching is off unless the input asks for
    // it: building the colour transform takes two thirds of a run, and it is
    // the colour library's work rather than ours.
    std::string_view all = input.Rest();
    const size_t feed = all.find('\n');
    const std::string_view userOptions = all.substr(0, std::min(feed, all.size()));
    const std::string optionText = "OvpICM=None " + std::string(userOptions);
    all.remove_prefix(std::min(all.size(), userOptions.size() + 1));
    qzm::fuzz::Input rest(reinterpret_cast<const uint8_t*>(all.data()), all.size());
    std::string_view pixels;
    if (!WriteRaster(setup.raster, rest, pixels)) {
        std::abort();
    }

    cups_option_t* options = nullptr;
    const int numOptions = cupsParseOptions(optionText.c_str(), 0, &options);
    Canceled = 0;
    FilterJob job;
    job.numOptions = numOptions;
    job.options = options;
    job.ppd = setup.ppd;
    const char* orientation =
        cupsGetOption("com.apple.print.preset.Orientation..n.", numOptions, options);
    job.orientation = orientation != nullptr ? std::atoi(orientation) : 1;

    // The job set-up of the filter program, without its wait for the
    // print-status file (which is there already).
    auto entry = std::make_unique<SmallSheetEntry>();
    job.entry = entry.get();
    _ConfigureJob(job, kJobId);

    cups_raster_t* raster = cupsRasterOpen(setup.raster, CUPS_RASTER_READ);
    _PrintPages(job, raster);
    cupsRasterClose(raster);
    entry.reset();
    cupsFreeOptions(numOptions, options);
    std::fflush(stdout);
    return 0;
}
