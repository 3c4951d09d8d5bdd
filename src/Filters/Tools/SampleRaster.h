// Writing the sample page as CUPS raster, with the header CUPS's rasterizer
// gives a page of the package's PPD.
#pragma once

#include <cups/raster.h>

#include <string>

#include "PageSizes.h"

namespace qzm::sample {

// The raster header of a page: 8-bit RGB chunky, one copy, the page size in
// points and its name, the resolution, and the media's pixel counts.
cups_page_header2_t MakeSampleHeader(const pages::PageSize& page, const pages::Resolution& res);

// Writes one page of the sample chart to the file descriptor (not closed).
// Returns false with the reason in error.
bool WriteSampleRaster(int fd, const pages::PageSize& page, const pages::Resolution& res,
                       std::string& error);

}  // namespace qzm::sample
