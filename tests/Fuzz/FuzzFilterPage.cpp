// Fuzz target: the filter's page loop on up to three raster pages. Input: the
// job's options, "\n", a page count, per page its width, height, bytes per
// pixel and copies (up to 48, 48, 6, 3), the pixels.
#include <cups/raster.h>
#include <fcntl.h>
#include <lcms2.h>
#include <sys/mman.h>
#include <unistd.h>

#include "Common.h"
#include "FilterDriver.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

using qzm::fuzz::Require;

// The printer with media and print head 32 times smaller on each side: the
// same layouts and placement rules on sheets of a few thousand dots.
class SmallSheetEntry : public DeviceEntry_QZM480 {
  public:
    int GetHeadWidth() override { return DeviceEntry_QZM480::GetHeadWidth() / 32; }
    int SetMediaInfo(DeviceMediaBufferInfo* info, int mediaId, double firmware) override {
        const int result = DeviceEntry_QZM480::SetMediaInfo(info, mediaId, firmware);
        if (result != 0 || info == nullptr || info->mediaId == -1) {
            return result;
        }
        for (int32_t* dots : {&info->widthDots, &info->marginXDots, &info->marginYDots,
                              &info->panelGapDots, &info->panelWidthDots, &info->panelHeightDots}) {
            *dots = (*dots + 31) / 32;  // what is there stays there
        }
        info->heightDots =
            info->panelCount * info->panelHeightDots + (info->panelCount - 1) * info->panelGapDots;
        return UpdateMediaInfo(info);
    }
};

// The job's print-status file, sRGB for the ICC profiles (theirs are slow),
// the PPD's default lines (returned), sheets to /dev/null.
ppdfile_s* MakeJobWorld() {
    const std::string root = qzm::fuzz::MakeProcessRoot();
    const std::string cache = qzm::paths::Rooted(qzm::paths::kCacheFolder);
    qzm::fuzz::WriteWholeFile(cache + "/Print_7.log", "MEDIA_SIZE=\"\"\n");
    std::filesystem::create_directories(qzm::paths::Rooted(qzm::paths::kProfileFolder));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    for (const char* profile : {qzm::paths::kProfileM480, qzm::paths::kProfileOV480}) {
        Require(cmsSaveProfileToFile(srgb, qzm::paths::Rooted(profile).c_str()));
    }
    cmsCloseProfile(srgb);
    std::ifstream full(QZM480_PPD);
    std::string defaults;
    for (std::string line; std::getline(full, line);) {
        defaults += line.starts_with("*Default") ? line + '\n' : "";
    }
    qzm::fuzz::WriteWholeFile(root + "/defaults.ppd", defaults);
    Require(::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO) == STDOUT_FILENO);
    return wrappedPpdOpenFile((root + "/defaults.ppd").c_str());
}

// Writes the pages to fd, filled from the pixel bytes round and round.
void WriteRaster(int fd, qzm::fuzz::Input input) {
    cups_page_header2_t headers[3] = {};
    const std::span pages(headers, 1 + input.Byte() % 3);
    for (cups_page_header2_t& header : pages) {
        header.cupsWidth = 1 + input.Byte() % 48;
        header.cupsHeight = 1 + input.Byte() % 48;
        header.cupsBitsPerColor = 8;
        header.cupsBitsPerPixel = 8 * (1 + input.Byte() % 6);  // the filter wants 24
        header.cupsBytesPerLine = header.cupsWidth * header.cupsBitsPerPixel / 8;
        header.NumCopies = input.Byte() % 4;
    }
    const std::string_view pixels = input.Rest();
    size_t at = 0;
    Require(::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0);
    cups_raster_t* out = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    for (cups_page_header2_t& header : pages) {
        cupsRasterWriteHeader2(out, &header);
        std::string page(size_t{header.cupsBytesPerLine} * header.cupsHeight, '\x80');
        for (char& c : pixels.empty() ? std::span<char>() : std::span(page)) {
            c = pixels[at++ % pixels.size()];
        }
        cupsRasterWritePixels(out, reinterpret_cast<uint8_t*>(page.data()), page.size());
    }
    cupsRasterClose(out);
    Require(::lseek(fd, 0, SEEK_SET) == 0);
}

}  // namespace

// Each run frees whole bitmaps: a big quarantine would make runs slow.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ppdfile_s* const ppd = MakeJobWorld();
    static const int file = ::memfd_create("raster", MFD_CLOEXEC);
    // Colour matching only when the options ask for it (it is slow).
    const auto parts = qzm::fuzz::Split(qzm::fuzz::Input(data, size).Rest(), "\n", 2);
    const std::string options = "OvpICM=None " + std::string(parts[0]);
    WriteRaster(file, qzm::fuzz::Input(parts.size() > 1 ? parts[1] : ""));
    FilterJob job;
    job.numOptions = cupsParseOptions(options.c_str(), 0, &job.options);
    job.ppd = ppd;
    const char* turn =
        cupsGetOption("com.apple.print.preset.Orientation..n.", job.numOptions, job.options);
    job.orientation = turn != nullptr ? std::atoi(turn) : 1;  // as the filter program does
    auto entry = std::make_unique<SmallSheetEntry>();
    job.entry = entry.get();
    Canceled = 0;
    _ConfigureJob(job, "7");
    cups_raster_t* raster = cupsRasterOpen(file, CUPS_RASTER_READ);
    _PrintPages(job, raster);
    cupsRasterClose(raster);
    entry.reset();
    cupsFreeOptions(job.numOptions, job.options);
    std::fflush(stdout);
    return 0;
}
