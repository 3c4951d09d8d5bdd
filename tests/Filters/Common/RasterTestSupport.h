// Writing CUPS raster for the filter's tests with libcups' raster writer.
#pragma once

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qzm::test {

// Pixel colour of (line, column) of a page, as the raster carries it.
using PixelFn = std::function<void(int line, int column, uint8_t* rgb)>;

struct RasterPage {
    RasterPage(unsigned w, unsigned h, unsigned c, PixelFn p)
        : width(w), height(h), copies(c), pixel(std::move(p)) {}
    unsigned width = 0;
    unsigned height = 0;
    unsigned copies = 1;
    PixelFn pixel;
    // Header fields to bend after the usual 8-bit RGB set-up (untrusted input).
    std::function<void(cups_page_header2_t&)> bend;
    // Lines to write; -1 = all. A shorter page cuts the raster there.
    int linesWritten = -1;
};

inline cups_page_header2_t RgbHeader(const RasterPage& page) {
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    std::strcpy(h.MediaClass, "PwgRaster");
    h.HWResolution[0] = h.HWResolution[1] = 300;
    h.NumCopies = page.copies;
    h.cupsWidth = page.width;
    h.cupsHeight = page.height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = page.width * 3;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsNumColors = 3;
    if (page.bend)
        page.bend(h);
    return h;
}

// Writes the pages to the descriptor (left open). Returns false on a fault.
inline bool WriteRaster(int fd, const std::vector<RasterPage>& pages) {
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    if (r == nullptr)
        return false;
    bool ok = true;
    for (const RasterPage& page : pages) {
        cups_page_header2_t h = RgbHeader(page);
        if (!cupsRasterWriteHeader2(r, &h)) {
            ok = false;
            break;
        }
        std::vector<uint8_t> line(h.cupsBytesPerLine, 0);
        const int lines = page.linesWritten < 0 ? int(h.cupsHeight) : page.linesWritten;
        for (int y = 0; y < lines && ok; ++y) {
            if (page.pixel) {
                const unsigned pixels = std::min(h.cupsWidth, h.cupsBytesPerLine / 3);
                for (unsigned x = 0; x < pixels; ++x)
                    page.pixel(y, int(x), &line[3 * x]);
            }
            ok = cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine) != 0;
        }
    }
    cupsRasterClose(r);
    return ok;
}

inline bool WriteRasterFile(const std::string& path, const std::vector<RasterPage>& pages) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = WriteRaster(fd, pages);
    return ::close(fd) == 0 && ok;
}

inline PixelFn Solid(uint8_t r, uint8_t g, uint8_t b) {
    return [=](int, int, uint8_t* p) {
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
}

}  // namespace qzm::test
