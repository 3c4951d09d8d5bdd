// The page sizes and resolutions of the package's PPD, and the raster
// geometry that CUPS gives a page of each: the single source of these numbers
// for the sample page and the tests.
#pragma once

#include <cmath>
#include <string_view>

namespace qzm::pages {

// A page size of the PPD and its printable dots at 300 dpi (the media
// table's dots; an "x2" size has the dots of its single size).
struct PageSize {
    std::string_view name;
    int widthDots;
    int heightDots;
};

inline constexpr PageSize kPageSizes[] = {
    {"127x89mm", 1548, 1088},   {"89x127mm", 1088, 1548},    {"127x127mm", 1548, 1540},
    {"153x102mm", 1844, 1240},  {"102x153mm", 1240, 1844},   {"127x178mm", 1548, 2138},
    {"153x153mm", 1844, 1836},  {"153x204mm", 1844, 2436},   {"127x89mmx2", 1548, 1088},
    {"89x127mmx2", 1088, 1548}, {"153x102mmx2", 1844, 1240}, {"102x153mmx2", 1240, 1844},
};

// A resolution of the PPD: the raster's horizontal and vertical dots per inch.
struct Resolution {
    std::string_view name;
    int xDpi;
    int yDpi;
};

inline constexpr Resolution kResolutions[] = {
    {"300dpi", 300, 300},
    {"300x600dpi", 300, 600},
    {"600x600dpi", 600, 600},
};

inline constexpr std::string_view kDefaultPageSize = "153x102mm";
inline constexpr std::string_view kDefaultResolution = "300dpi";

inline const PageSize* FindPageSize(std::string_view name) {
    for (const PageSize& p : kPageSizes) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

inline const Resolution* FindResolution(std::string_view name) {
    for (const Resolution& r : kResolutions) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

// What the raster header of a page carries for a size and resolution: the
// page in points (the PPD's paper dimensions, 72 per inch) and the raster's
// pixels. The raster's second axis is the vertical one, so "300x600dpi"
// doubles the height and "600x600dpi" both sides.
struct RasterGeometry {
    float widthPoints;
    float heightPoints;
    int width;   // cupsWidth
    int height;  // cupsHeight
    int xDpi;
    int yDpi;
};

inline RasterGeometry GeometryOf(const PageSize& page, const Resolution& res) {
    RasterGeometry g;
    g.widthPoints = float(page.widthDots * 72.0 / 300.0);
    g.heightPoints = float(page.heightDots * 72.0 / 300.0);
    g.width = page.widthDots * res.xDpi / 300;
    g.height = page.heightDots * res.yDpi / 300;
    g.xDpi = res.xDpi;
    g.yDpi = res.yDpi;
    return g;
}

}  // namespace qzm::pages
