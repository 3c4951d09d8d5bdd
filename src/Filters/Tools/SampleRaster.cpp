#include "SampleRaster.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "SampleChart.h"

namespace qzm::sample {

namespace {

struct RasterCloser {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

}  // namespace

cups_page_header2_t MakeSampleHeader(const pages::PageSize& page, const pages::Resolution& res) {
    const pages::RasterGeometry g = pages::GeometryOf(page, res);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    std::snprintf(h.cupsPageSizeName, sizeof h.cupsPageSizeName, "%.*s", int(page.name.size()),
                  page.name.data());
    h.HWResolution[0] = unsigned(g.xDpi);
    h.HWResolution[1] = unsigned(g.yDpi);
    h.ImagingBoundingBox[2] = unsigned(std::lround(g.widthPoints));
    h.ImagingBoundingBox[3] = unsigned(std::lround(g.heightPoints));
    h.NumCopies = 1;
    h.PageSize[0] = unsigned(std::lround(g.widthPoints));
    h.PageSize[1] = unsigned(std::lround(g.heightPoints));
    h.cupsPageSize[0] = g.widthPoints;
    h.cupsPageSize[1] = g.heightPoints;
    h.cupsImagingBBox[2] = g.widthPoints;
    h.cupsImagingBBox[3] = g.heightPoints;
    h.cupsWidth = unsigned(g.width);
    h.cupsHeight = unsigned(g.height);
    h.cupsMediaType = 0;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = 3 * unsigned(g.width);
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsNumColors = 3;
    h.cupsBorderlessScalingFactor = 1.0f;
    return h;
}

bool WriteSampleRaster(int fd, const pages::PageSize& page, const pages::Resolution& res,
                       std::string& error) {
    std::unique_ptr<cups_raster_t, RasterCloser> raster(cupsRasterOpen(fd, CUPS_RASTER_WRITE));
    if (!raster) {
        error = "cannot open the raster stream";
        return false;
    }
    cups_page_header2_t header = MakeSampleHeader(page, res);
    if (!cupsRasterWriteHeader2(raster.get(), &header)) {
        error = "cannot write the raster header";
        return false;
    }
    const SampleChart chart(int(header.cupsWidth), int(header.cupsHeight));
    std::vector<unsigned char> row(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
        chart.DrawRow(int(y), row.data());
        if (cupsRasterWritePixels(raster.get(), row.data(), header.cupsBytesPerLine) !=
            header.cupsBytesPerLine) {
            error = "cannot write raster line " + std::to_string(y);
            return false;
        }
    }
    return true;
}

}  // namespace qzm::sample
