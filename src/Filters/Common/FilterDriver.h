// The print filter's driver: reads the job's CUPS raster page by page, turns
// each page the way the job asks, hands it to the printer object once per
// copy and prints the placed images in sheets of one or two panels.
#pragma once

#include <cups/cups.h>
#include <cups/raster.h>

#include <csignal>
#include <cstdint>

#include "PhotoPrinterDeviceQZM480.h"

// Set by CancelJob when CUPS cancels the job; read between raster lines and
// between pages. Nothing else writes it while a job runs.
extern volatile sig_atomic_t Canceled;

// The SIGTERM handler: sets Canceled and does nothing else.
extern "C" void CancelJob(int signal);

// Waits for the job's print-status file in the cache folder: tests for it,
// sleeps a second, and stops when it exists (at most 120 times). Returns 0.
int PrinterStatusCheck(const char* jobId, int numOptions, cups_option_t* options);

// Limits on a page from the raster header. The largest page of the PPD
// ("153x204mm" at "600x600dpi") is 3688 x 4872 pixels, 54 MB; a header beyond
// these limits is not a page of this printer and is skipped.
inline constexpr uint32_t kMaxPageSide = 16384;
inline constexpr uint64_t kMaxPageBytes = uint64_t{128} << 20;

// Bytes per row of the page buffer: 3 per pixel, padded to a multiple of 4.
inline uint64_t _PageStride(uint32_t width) {
    return (uint64_t{width} * 24 + 31) / 32 * 4;
}

// Copies raster line i (3 x width bytes of RGB) into the bottom-up page
// buffer: straight to row height - 1 - i, or turned by 180 degrees to row i
// with the pixels in reverse order.
void _CopyRasterLine(const uint8_t* line, uint8_t* page, uint32_t width, uint32_t height,
                     uint32_t i, bool turned);

// Reads one page's pixel data after its header. Returns the zero-filled page
// buffer (malloc'd, rows not read stay black), or null when the page was
// cancelled (its buffer released) or skipped because its size is beyond the
// limits or its memory cannot be had; a skipped page's data is read and
// dropped so the next header can be found.
uint8_t* _ReadPage(cups_raster_t* raster, const cups_page_header2_t& header, bool turned);

// One job's state for the page loop.
struct FilterJob {
    DeviceEntry_QZM480* entry = nullptr;
    int numOptions = 0;
    cups_option_t* options = nullptr;
    ppdfile_s* ppd = nullptr;
    int orientation = 1;  // codes 2 and 4 turn each page by 180 degrees
    int layoutCount = 1;  // images per full sheet
    int remainHalf = 0;
};

// Configures job.entry from the job's options and PPD in the printer's order
// (clock, resolution before media, border, colour settings), decides colour
// matching and the ICC profile, the paper turn, the layout count and the
// remain-half value. Writes the job's first "IMAGE"/"MULTICUT".
void _ConfigureJob(FilterJob& job, const char* jobId);

// _ConfigureJob without its last step: the layout count and the remain-half
// value are left for the caller to decide.
void _ConfigureSettings(FilterJob& job, const char* jobId);

// Places an image (from MakeImageData) copies times into the coming sheets,
// printing each sheet as soon as it is full. slot is the number of images
// waiting in the sheet not yet printed, kept between pages; pageIndex counts
// the job's pages from 0. A non-positive copies places nothing.
void _PlaceImage(FilterJob& job, const _tagBITMAPHANDLE* image, int32_t copies, int pageIndex,
                 int* slot);

// Prints the images waiting in slots 0 ... imageCount - 1 as one sheet:
// its settings commands, then its planes.
void _PrintSheet(FilterJob& job, int imageCount);

// Reads every page of the raster, places its copies and prints the sheets,
// then the last incomplete sheet unless the job was cancelled.
void _PrintPages(FilterJob& job, cups_raster_t* raster);

// The whole filter: argv as CUPS passes it. Returns the exit status.
int RunFilter(int argc, char* argv[]);
