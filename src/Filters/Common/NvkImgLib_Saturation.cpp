// Conversion between RGB and the hue/chroma/lightness form, and the saturation
// change built on it.
//
// The round trip truncates, so even value 0 changes some pixels; those exact
// results are what the printer receives. The result of a pixel depends only on
// its three bytes and the value, so for whole pages the parts of the
// conversion that repeat are kept in tables built once per call from the very
// same operations.
#include <cstdlib>
#include <new>

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"
#include "NvkImgLib_Rows.h"

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

// The saturation change of one pixel, straight through both conversions.
inline void Adjust(uint8_t& r, uint8_t& g, uint8_t& b, double value) {
    double h, s, l;
    RGBtoHSL(r, g, b, &h, &s, &l);
    double s2 = (s * value) / 1000 + s;
    s2 = s2 < 0 ? 0 : (s2 > 255 ? 255 : s2);
    HSLtoRGB(h, s2, l, &r, &g, &b);
}

// The same result through tables, for whole pages.
//
// For a pixel with chroma S > 0 the hue depends only on which component is
// the minimum (three cases), the difference d of the other two and S. So the
// hue's sector and the factor that multiplies span in HSLtoRGB (for example
// (H / 60) or ((120 - H) / 60)) are computed once per (case, d, S), with the
// very operations HSLtoRGB uses, and the pixel loop only finishes
// factor x span + lo. The new chroma depends only on S: one more table.
class SaturationTables {
  public:
    // Entries per case: for S = 0 ... 255, d = -S ... S, at S x S + d + S. The
    // grey entry (S = 0) holds factor 0, which gives all three components L
    // truncated, as for a hue of -1.
    static constexpr size_t kPerCase = 65536;

    bool Build(double value) {
        m_factor = static_cast<double*>(std::malloc(3 * kPerCase * sizeof(double)));
        m_sector = static_cast<uint8_t*>(std::malloc(3 * kPerCase));
        if (m_factor == nullptr || m_sector == nullptr) {
            return false;
        }
        for (int s = 0; s < 256; ++s) {
            const double chroma = s;
            const double t = (chroma * value) / 1000 + chroma;
            m_chroma[s] = t < 0 ? 0 : (t > 255 ? 255 : t);
        }
        static constexpr double kOffset[3] = {60, 180, 300};
        for (int c = 0; c < 3; ++c) {
            m_sector[Index(c, 0, 0)] = 0;
            m_factor[Index(c, 0, 0)] = 0.0;
            for (int s = 1; s < 256; ++s) {
                const double chroma = s;
                for (int d = -s; d <= s; ++d) {
                    const double h = (static_cast<double>(d) * 60) / chroma + kOffset[c];
                    const size_t i = Index(c, d, s);
                    SectorOf(h, &m_sector[i], &m_factor[i]);
                }
            }
        }
        return true;
    }
    ~SaturationTables() {
        std::free(m_factor);
        std::free(m_sector);
    }

    static size_t Index(int c, int d, int s) {
        return static_cast<size_t>(c) * kPerCase + static_cast<size_t>(s * s + d + s);
    }

    // The hue sector of HSLtoRGB and the factor of its varying component.
    static void SectorOf(double h, uint8_t* sector, double* factor) {
        if (h < 60) {
            *sector = 0, *factor = h / 60;
        } else if (h < 120) {
            *sector = 1, *factor = (120 - h) / 60;
        } else if (h < 180) {
            *sector = 2, *factor = (h - 120) / 60;
        } else if (h < 240) {
            *sector = 3, *factor = (240 - h) / 60;
        } else if (h < 300) {
            *sector = 4, *factor = (h - 240) / 60;
        } else {
            *sector = 5, *factor = (360 - h) / 60;
        }
    }

    // One pixel, bit-identical to Adjust.
    void Apply(uint8_t& r, uint8_t& g, uint8_t& b) const {
        // For each sector: which of (hi, lo, varying) goes to red, green, blue.
        static constexpr uint8_t kPick[6][3] = {{0, 2, 1}, {2, 0, 1}, {1, 0, 2},
                                                {1, 2, 0}, {2, 1, 0}, {0, 1, 2}};
        const int ri = r, gi = g, bi = b;
        int max = ri > gi ? ri : gi;
        max = bi > max ? bi : max;
        int min = ri < gi ? ri : gi;
        min = bi < min ? bi : min;
        const int s = max - min;
        // The same order of tests as RGBtoHSL.
        const int c = min == bi ? 0 : (min == ri ? 1 : 2);
        const int d = c == 0 ? gi - ri : (c == 1 ? bi - gi : ri - bi);
        const size_t i = Index(c, d, s);

        const double l = (static_cast<double>(max) + static_cast<double>(min)) * 0.5;
        const double wide = m_chroma[s] * 0.5;
        const double half = wide > l ? l : (wide + l > 255 ? 255 - l : wide);
        const double hi = l + half;
        const double lo = l - half;
        const double span = hi - lo;
        // All three lie within 0 ... 255 here.
        const uint8_t v[3] = {static_cast<uint8_t>(static_cast<int32_t>(hi)),
                              static_cast<uint8_t>(static_cast<int32_t>(lo)),
                              static_cast<uint8_t>(static_cast<int32_t>(m_factor[i] * span + lo))};
        const uint8_t* pick = kPick[m_sector[i]];
        r = v[pick[0]];
        g = v[pick[1]];
        b = v[pick[2]];
    }

    // A row of width pixels; ri and bi are the byte positions of red and
    // blue. (Four pixels at a time in vector lanes, with the tables read by
    // lane, gave the same bytes but took twice as long on the processors at
    // hand: the table reads dominate.)
    void ApplyRow(uint8_t* p, size_t width, size_t ri, size_t bi) const;

  private:
    double m_chroma[256];
    double* m_factor = nullptr;
    uint8_t* m_sector = nullptr;
};

void SaturationTables::ApplyRow(uint8_t* p, size_t width, size_t ri, size_t bi) const {
    for (size_t x = 0; x < width; ++x, p += 3) {
        Apply(p[ri], p[1], p[bi]);
    }
}

// Below this many pixels building the tables costs more than it saves.
constexpr uint64_t kTablePixels = 1 << 17;

}  // namespace

// What a page needs: the value and, for a page of many pixels, the tables.
class nvk::SaturationPlan {
  public:
    double value = 0;
    SaturationTables tables;
    bool useTables = false;
};

namespace nvk {

bool SaturationUsesTables(uint64_t pixels) {
    return pixels >= kTablePixels;
}

const SaturationPlan* MakeSaturation(int32_t value, uint64_t pixels) {
    auto* plan = new (std::nothrow) SaturationPlan;
    if (plan == nullptr) {
        return nullptr;
    }
    plan->value = value;
    if (pixels >= kTablePixels) {
        if (!plan->tables.Build(value)) {
            delete plan;
            return nullptr;
        }
        plan->useTables = true;
    }
    return plan;
}

void Release(const SaturationPlan* plan) {
    delete plan;
}

void SaturateRow(const SaturationPlan* plan, uint8_t* p, size_t width, size_t ri, size_t bi) {
    if (plan->useTables) {
        plan->tables.ApplyRow(p, width, ri, bi);
    } else {
        for (size_t x = 0; x < width; ++x, p += 3) {
            Adjust(p[ri], p[1], p[bi], plan->value);
        }
    }
}

}  // namespace nvk

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
    const size_t width = static_cast<size_t>(bitmap->width);
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(bitmap->height);

    // Without the tables' memory every pixel is simply converted.
    SaturationTables tables;
    const bool useTables = pixels >= kTablePixels && tables.Build(value);
    for (int32_t y = 0; y < bitmap->height; ++y) {
        uint8_t* p = bitmap->data + static_cast<size_t>(y) * bitmap->bytesPerLine;
        if (useTables) {
            tables.ApplyRow(p, width, ri, bi);
        } else {
            for (size_t x = 0; x < width; ++x, p += 3) {
                Adjust(p[ri], p[1], p[bi], value);
            }
        }
    }
    return kILSuccess;
}
