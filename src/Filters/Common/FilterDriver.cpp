// The print filter's driver: job set-up, the page loop and the sheets.
#include "FilterDriver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Common.h"
#include "Paths.h"

volatile sig_atomic_t Canceled = 0;

extern "C" void CancelJob(int) {
    Canceled = 1;
}

namespace {

// CUPS's own default limit of copies per job; a header asking for more is
// not believed beyond it.
constexpr int32_t kMaxCopies = 9999;
// Largest piece of a skipped page read at once.
constexpr uint32_t kSkipChunk = 1u << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Reads and drops what is left of a page: lines first to height - 1, each
// of bytesPerLine bytes, in pieces of at most kSkipChunk.
void SkipLines(cups_raster_t* raster, const cups_page_header2_t& header, uint32_t first) {
    const uint32_t perLine = header.cupsBytesPerLine;
    if (perLine == 0) {
        return;
    }
    std::vector<unsigned char> chunk(std::min(perLine, kSkipChunk));
    for (uint32_t i = first; i < header.cupsHeight; ++i) {
        uint32_t left = perLine;
        while (left > 0) {
            const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
            if (cupsRasterReadPixels(raster, chunk.data(), n) == 0) {
                return;
            }
            left -= n;
        }
        if (Canceled) {
            return;
        }
    }
}

}  // namespace

void _PrintSheet(FilterJob& job, int imageCount) {
    DeviceEntry_QZM480& e = *job.entry;
    e.SendCutterMode(job.numOptions, job.options, job.ppd);
    e.SendOvercoatFinish(job.numOptions, job.options, job.ppd);
    e.SendPrintRetry(job.numOptions, job.options, job.ppd);
    e.SendPrintSpeed(job.numOptions, job.options, job.ppd);
    e.SendDecurl(job.numOptions, job.options, job.ppd);
    e.SendImageData(imageCount);
}

void _PlaceImage(FilterJob& job, const _tagBITMAPHANDLE* image, int32_t copies, int pageIndex,
                 int* slot) {
    copies = std::min(copies, kMaxCopies);
    for (int32_t j = 0; j < copies; ++j) {
        const int batch =
            (j == 0 && pageIndex == 0 && job.remainHalf > 0 && job.remainHalf % 2 == 1)
                ? 1
                : job.layoutCount;
        job.entry->SetImageData(*slot, image);
        ++*slot;
        if (*slot >= batch) {
            _PrintSheet(job, *slot);
            *slot = 0;
        }
    }
}

int PrinterStatusCheck(const char* jobId, int /*numOptions*/, cups_option_t* /*options*/) {
    char designed[128];
    _MakePrintStatusPath(jobId, designed);
    const std::string path = qzm::paths::Rooted(designed);
    for (int i = 0; i < 120; ++i) {
        struct stat info;
        const bool exists = ::stat(path.c_str(), &info) == 0;
        ::sleep(1);
        if (exists || Canceled) {
            break;
        }
    }
    return 0;
}

void _CopyRasterLine(const uint8_t* line, uint8_t* page, uint32_t width, uint32_t height,
                     uint32_t i, bool turned) {
    const uint64_t stride = _PageStride(width);
    if (!turned) {
        std::memcpy(page + stride * (height - 1 - i), line, size_t{width} * 3);
        return;
    }
    uint8_t* row = page + stride * i;
    for (uint32_t k = 0; k < width; ++k) {
        const uint8_t* src = line + size_t{k} * 3;
        uint8_t* dst = row + size_t{width - 1 - k} * 3;
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

uint8_t* _ReadPage(cups_raster_t* raster, const cups_page_header2_t& header, bool turned) {
    const uint32_t width = header.cupsWidth;
    const uint32_t height = header.cupsHeight;
    const uint64_t stride = _PageStride(width);
    const bool sane = width > 0 && height > 0 && width <= kMaxPageSide && height <= kMaxPageSide &&
                      stride * height <= kMaxPageBytes && header.cupsBytesPerLine > 0;
    std::unique_ptr<uint8_t, FreeDeleter> page;
    std::vector<uint8_t> line;
    if (sane) {
        // Fresh memory comes cleared from the kernel (calloc does not clear
        // it again), on huge pages when it is touched.
        page.reset(static_cast<uint8_t*>(std::calloc(height, stride)));
        AdviseHugePages(page.get(), stride * height);
        // The line buffer always holds a whole row of pixels, even when the
        // header claims fewer bytes per line: the rest stays zero.
        try {
            line.assign(std::max<uint64_t>(header.cupsBytesPerLine, uint64_t{width} * 3), 0);
        } catch (const std::bad_alloc&) {
            page.reset();
        }
    }
    if (!page) {
        SkipLines(raster, header, 0);
        return nullptr;
    }
    // A line of exactly one row of pixels that is not turned goes straight
    // into its row, the copy through the line buffer saved; a line that
    // cannot be read whole leaves its row black, as it does in the buffer.
    const bool direct = !turned && uint64_t{header.cupsBytesPerLine} == uint64_t{width} * 3;
    for (uint32_t i = 0; i < height; ++i) {
        uint8_t* row = page.get() + stride * (height - 1 - i);
        if (direct) {
            if (cupsRasterReadPixels(raster, row, header.cupsBytesPerLine) == 0) {
                std::memset(row, 0, header.cupsBytesPerLine);
                break;
            }
        } else {
            if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) == 0) {
                break;
            }
            _CopyRasterLine(line.data(), page.get(), width, height, i, turned);
        }
        if (Canceled) {
            return nullptr;
        }
    }
    return page.release();
}

void _PrintPages(FilterJob& job, cups_raster_t* raster) {
    cups_page_header2_t header;
    int pageIndex = 0;
    int slot = 0;
    const bool turned = job.orientation == 2 || job.orientation == 4;
    bool more = raster != nullptr && cupsRasterReadHeader2(raster, &header) != 0;
    while (more && !Canceled) {
        uint8_t* page = _ReadPage(raster, header, turned);
        if (Canceled) {
            std::free(page);
            break;
        }
        if (page != nullptr) {
            _tagBITMAPHANDLE* image =
                job.entry->MakeImageData(page, header.cupsWidth, header.cupsHeight, slot);
            _PlaceImage(job, image, static_cast<int32_t>(header.NumCopies), pageIndex, &slot);
            if (image != nullptr) {
                IL_FreeBitmap(image);
                std::free(image);
            }
        }
        more = cupsRasterReadHeader2(raster, &header) != 0;
        if (more) {
            ++pageIndex;
        }
    }
    if (!Canceled && slot > 0) {
        _PrintSheet(job, slot);
    }
}

void _ConfigureJob(FilterJob& job, const char* jobId) {
    _ConfigureSettings(job, jobId);
    job.layoutCount = job.entry->GetMultiLayoutNum(jobId);
    job.remainHalf = job.entry->GetRemainHalf(jobId);
}

void _ConfigureSettings(FilterJob& job, const char* jobId) {
    DeviceEntry_QZM480& e = *job.entry;
    const int numOptions = job.numOptions;
    cups_option_t* options = job.options;
    ppdfile_s* ppd = job.ppd;
    e.SendSysTime(numOptions, options, ppd);
    e.SetResolution(numOptions, options, ppd);
    e.SetMediaSize(numOptions, options, ppd);
    e.SetBorder(numOptions, options, ppd);
    e.SetICM(numOptions, options, ppd);
    e.SetSharpness(numOptions, options, ppd);
    e.SetGamma(numOptions, options, ppd);
    e.SetIntensity(numOptions, options, ppd);
    e.SetContrast(numOptions, options, ppd);
    e.SetSaturation(numOptions, options, ppd);
    e.SetColorAdjustment(numOptions, options, ppd);
    const char* matching = cupsGetOption("AP_ColorMatchingMode", numOptions, options);
    if (matching != nullptr && std::strcmp(matching, "AP_ApplicationColorMatching") == 0) {
        e.m_icm = false;
    }
    if (e.m_icm) {
        if (const char* profile = e.GetICCProfile(numOptions, options, ppd, jobId)) {
            const std::string path = qzm::paths::Rooted(profile);
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                std::fclose(f);
                e.SetICCProfile(path.c_str());
                // Every page matches colours through this profile: its
                // transform is made while the first page is read.
                e.m_imageBuffer.PrepareColorTransform(e.m_iccProfilePath);
            }
        }
    }
    e.SetPaperRotate(numOptions, options, ppd);
}

int RunFilter(int argc, char* argv[]) {
    if (argc != 6 && argc != 7) {
        return 1;
    }
    int fd = STDIN_FILENO;
    if (argc == 7) {
        fd = ::open(argv[6], O_RDONLY);
        if (fd < 0) {
            ::sleep(1);
            return 1;
        }
    }
    cups_option_t* options = nullptr;
    const int numOptions = cupsParseOptions(argv[5], 0, &options);
    ppdfile_s* ppd = nullptr;
    if (const char* ppdPath = std::getenv("PPD")) {
        ppd = wrappedPpdOpenFile(ppdPath);
    }

    Canceled = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = CancelJob;
    sigemptyset(&action.sa_mask);
    // Interrupted writes resume, so a cancelled job never leaves half a packet.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);

    FilterJob job;
    job.numOptions = numOptions;
    job.options = options;
    job.ppd = ppd;
    const char* orientation =
        cupsGetOption("com.apple.print.preset.Orientation..n.", numOptions, options);
    job.orientation = orientation != nullptr ? std::atoi(orientation) : 1;

    PrinterStatusCheck(argv[1], numOptions, options);

    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    auto entry = std::make_unique<DeviceEntry_QZM480>();
    job.entry = entry.get();
    _ConfigureJob(job, argv[1]);

    if (!Canceled) {
        _PrintPages(job, raster);
    }

    if (ppd != nullptr) {
        wrappedPpdClose(ppd);
    }
    if (raster != nullptr) {
        cupsRasterClose(raster);
    }
    entry.reset();
    cupsFreeOptions(numOptions, options);
    if (fd != STDIN_FILENO) {
        ::close(fd);
    }
    std::fflush(stdout);
    return 0;
}
