// Conversion between RGB and the hue/chroma/lightness form, and the saturation
// change built on it.
//
// The round trip truncates, so even value 0 changes some pixels; those exact
// results are what the printer receives. The result of a pixel depends only on
// its three bytes and the value, so the saturation loop keeps recent results
// in a small direct-mapped cache keyed by the three bytes; a hit returns the
// very bytes the conversion gave before.
#include <cstdlib>

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"

void RGBtoHSL(int r, int g, int b, double* h, double* s, double* l) {
    const double red = r;
    const double green = g;
    const double blue = b;
    double max = red > green ? red : green;
    max = blue > max ? blue : max;
    double min = red < green ? red : green;
    min = blue < min ? blue : min;
    const double chroma = max - min;
    *s = chroma;
    *l = (max + min) * 0.5;
    if (max == min) {
        *h = -1;
    } else if (min == blue) {
        *h = ((green - red) * 60) / chroma + 60;
    } else if (min == red) {
        *h = ((blue - green) * 60) / chroma + 180;
    } else {
        *h = ((red - blue) * 60) / chroma + 300;
    }
}

void HSLtoRGB(double h, double s, double l, uint8_t* r, uint8_t* g, uint8_t* b) {
    using nvk::TruncLow8;
    if (h < 0) {
        *r = *g = *b = TruncLow8(l);
        return;
    }
    double half = s * 0.5;
    if (half > l) {
        half = l;
    } else if (half + l > 255) {
        half = 255 - l;
    }
    const double hi = l + half;
    const double lo = l - half;
    const double span = hi - lo;
    double red, green, blue;
    if (h < 60) {
        red = hi;
        green = (h / 60) * span + lo;
        blue = lo;
    } else if (h < 120) {
        red = ((120 - h) / 60) * span + lo;
        green = hi;
        blue = lo;
    } else if (h < 180) {
        red = lo;
        green = hi;
        blue = ((h - 120) / 60) * span + lo;
    } else if (h < 240) {
        red = lo;
        green = ((240 - h) / 60) * span + lo;
        blue = hi;
    } else if (h < 300) {
        red = ((h - 240) / 60) * span + lo;
        green = lo;
        blue = hi;
    } else {
        red = hi;
        green = lo;
        blue = ((360 - h) / 60) * span + lo;
    }
    *r = TruncLow8(red);
    *g = TruncLow8(green);
    *b = TruncLow8(blue);
}

namespace {

// The saturation change of one pixel, as 0x00RRGGBB.
inline uint32_t Adjust(int r, int g, int b, double value) {
    double h, s, l;
    RGBtoHSL(r, g, b, &h, &s, &l);
    double s2 = (s * value) / 1000 + s;
    s2 = s2 < 0 ? 0 : (s2 > 255 ? 255 : s2);
    uint8_t r2, g2, b2;
    HSLtoRGB(h, s2, l, &r2, &g2, &b2);
    return static_cast<uint32_t>(r2) << 16 | static_cast<uint32_t>(g2) << 8 | b2;
}

// Direct-mapped cache of pixel results: a tag word with the key in its low 24
// bits (and bit 31 set while the slot is empty), and the result.
constexpr int kCacheBits = 15;
constexpr uint32_t kEmpty = 0x80000000u;

struct CacheSlot {
    uint32_t key;
    uint32_t result;
};

inline uint32_t SlotOf(uint32_t key) {
    return (key * 2654435761u) >> (32 - kCacheBits);
}

}  // namespace

int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE* bitmap, int32_t value) {
    if (bitmap == nullptr) {
        return kILErrNullBitmap;
    }
    if (bitmap->data == nullptr || bitmap->bitsPerPixel != 24 || bitmap->colorOrder >= 2 ||
        value < -1000 || value > 1000) {
        return kILErrInvalidParameter;
    }
    if (!nvk::GeometryFits(*bitmap, 3)) {
        return kILErrInvalidParameter;
    }
    // Byte positions of red and blue.
    const size_t ri = bitmap->colorOrder == 0 ? 0 : 2;
    const size_t bi = 2 - ri;
    const double v = value;

    // Without the cache's memory every pixel is simply converted.
    CacheSlot* cache = static_cast<CacheSlot*>(std::malloc(sizeof(CacheSlot) << kCacheBits));
    if (cache != nullptr) {
        for (size_t i = 0; i < (size_t{1} << kCacheBits); ++i) {
            cache[i].key = kEmpty;
        }
    }
    const size_t width = static_cast<size_t>(bitmap->width);
    for (int32_t y = 0; y < bitmap->height; ++y) {
        uint8_t* p = bitmap->data + static_cast<size_t>(y) * bitmap->bytesPerLine;
        for (size_t x = 0; x < width; ++x, p += 3) {
            const uint32_t key =
                static_cast<uint32_t>(p[ri]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[bi];
            uint32_t result;
            if (cache != nullptr) {
                CacheSlot& slot = cache[SlotOf(key)];
                if (slot.key != key) {
                    slot.key = key;
                    slot.result = Adjust(p[ri], p[1], p[bi], v);
                }
                result = slot.result;
            } else {
                result = Adjust(p[ri], p[1], p[bi], v);
            }
            p[ri] = static_cast<uint8_t>(result >> 16);
            p[1] = static_cast<uint8_t>(result >> 8);
            p[bi] = static_cast<uint8_t>(result);
        }
    }
    std::free(cache);
    return kILSuccess;
}
