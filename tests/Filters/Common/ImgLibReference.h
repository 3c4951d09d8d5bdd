// Slow reference versions of the bitmap library's pixel operations, written
// straight from the algorithms the printer's output is defined by, with no
// precomputation; and small helpers to build test bitmaps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "NvkImgLib.h"

namespace imgref {

inline int Stride(int width, int bitsPerPixel) {
    return (bitsPerPixel * width + 31) / 32 * 4;
}

// A 24-bit bitmap whose pixels live in a vector owned by the test.
struct Image {
    std::vector<uint8_t> bytes;
    _tagBITMAPHANDLE bm{};

    Image(int width, int height, uint32_t order = 0) : bytes(size_t(Stride(width, 24)) * height) {
        const int rc = IL_CreateBitmap(&bm, sizeof bm, 2, width, height, 24, order, nullptr, 4,
                                       bytes.data(), bytes.size());
        EXPECT_EQ(rc, 1);
    }
    uint8_t* At(int x, int y) { return bytes.data() + size_t(y) * bm.bytesPerLine + 3 * x; }
};

// Fills every byte, padding included, with random values (so padding that an
// operation must not write is recognisable).
inline void FillRandom(std::vector<uint8_t>& bytes, std::mt19937& rng) {
    std::uniform_int_distribution<int> d(0, 255);
    for (auto& b : bytes) {
        b = uint8_t(d(rng));
    }
}

// Smooth gradients with a little noise, like a photograph.
inline void FillPhoto(Image& img, std::mt19937& rng) {
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < img.bm.height; ++y) {
        for (int x = 0; x < img.bm.width; ++x) {
            uint8_t* p = img.At(x, y);
            const double fx = double(x) / img.bm.width, fy = double(y) / img.bm.height;
            const int v[3] = {int(200 * fx + 40 * std::sin(7 * fy)), int(180 * fy + 30 * fx),
                              int(120 + 100 * std::sin(3 * (fx + fy)))};
            for (int c = 0; c < 3; ++c) {
                p[c] = uint8_t(std::clamp(v[c] + noise(rng), 0, 255));
            }
        }
    }
}

// Rows of a bitmap without their padding, for comparisons.
inline std::vector<uint8_t> PixelsOf(const _tagBITMAPHANDLE& bm, int bytesPerPixel) {
    std::vector<uint8_t> out;
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* row = bm.data + size_t(y) * bm.bytesPerLine;
        out.insert(out.end(), row, row + size_t(bm.width) * bytesPerPixel);
    }
    return out;
}

// ---- Resampling ------------------------------------------------------------

inline double CubicWeight(double d) {
    if (d <= 1) {
        return d * d * d - 2 * d * d + 1;
    }
    return -d * d * d + 5 * d * d - 8 * d + 4;
}

// Packed rows of 3 x newWidth bytes.
inline std::vector<uint8_t> Resample(const std::vector<uint8_t>& src, int srcW, int srcH,
                                     int srcStride, int newW, int newH) {
    std::vector<double> inter(size_t(srcH) * newW * 3);
    for (int y = 0; y < srcH; ++y) {
        for (int x = 0; x < newW; ++x) {
            const double p = (double(srcW) / double(newW)) * x;
            const int base = int(p);
            double sum[3] = {0, 0, 0};
            for (int k = base - 1; k <= base + 2; ++k) {
                const double d = std::fabs(k - p);
                if (d > 2) {
                    continue;
                }
                const int col = (k < 0 || k >= srcW) ? base : k;
                for (int c = 0; c < 3; ++c) {
                    sum[c] = sum[c] + CubicWeight(d) * src[size_t(y) * srcStride + 3 * col + c];
                }
            }
            for (int c = 0; c < 3; ++c) {
                inter[(size_t(y) * newW + x) * 3 + c] = sum[c];
            }
        }
    }
    std::vector<uint8_t> out(size_t(newH) * newW * 3);
    for (int y = 0; y < newH; ++y) {
        const double p = (double(srcH) / double(newH)) * y;
        const int base = int(p);
        for (int x = 0; x < newW; ++x) {
            for (int c = 0; c < 3; ++c) {
                double s = 0;
                for (int k = base - 1; k <= base + 2; ++k) {
                    const double d = std::fabs(k - p);
                    if (d > 2) {
                        continue;
                    }
                    const int row = (k < 0 || k >= srcH) ? base : k;
                    s = s + CubicWeight(d) * inter[(size_t(row) * newW + x) * 3 + c];
                }
                uint8_t v;
                if (s < 0) {
                    v = 0;
                } else if (s > 255) {
                    v = 255;
                } else {
                    v = uint8_t(int(s + 0.5));
                }
                out[(size_t(y) * newW + x) * 3 + c] = v;
            }
        }
    }
    return out;
}

// ---- Sharpening --------------------------------------------------------------

// Sharpens packed-or-padded rows (stride given) and returns the new bytes.
inline std::vector<uint8_t> Sharpen(const std::vector<uint8_t>& src, int w, int h, int stride,
                                    int level) {
    const double b = _SharpenCoefficient(level);  // checked by its worked examples
    const double centre = b * 8 / 9 + 1;
    const double edge = b / -9;
    std::vector<uint8_t> out = src;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    const int yy = (y + dy < 0 || y + dy >= h) ? y : y + dy;
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int xx = (x + dx < 0 || x + dx >= w) ? x : x + dx;
                        const double weight = (dx == 0 && dy == 0) ? centre : edge;
                        sum = sum + weight * src[size_t(yy) * stride + 3 * xx + c];
                    }
                }
                int t = int(sum);
                if (t >= 255) {
                    t = 255;
                } else if (t <= 0) {
                    t = 0;
                }
                out[size_t(y) * stride + 3 * x + c] = uint8_t(t);
            }
        }
    }
    return out;
}

// ---- Saturation ----------------------------------------------------------------

inline void ToHsl(int r, int g, int b, double& H, double& S, double& L) {
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    S = mx - mn;
    L = (mx + mn) * 0.5;
    if (mx == mn) {
        H = -1;
    } else if (mn == b) {
        H = ((double(g) - double(r)) * 60) / S + 60;
    } else if (mn == r) {
        H = ((double(b) - double(g)) * 60) / S + 180;
    } else {
        H = ((double(r) - double(b)) * 60) / S + 300;
    }
}

inline void ToRgb(double H, double S, double L, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (H < 0) {
        r = g = b = uint8_t(int(L));
        return;
    }
    double half = S * 0.5;
    if (half > L) {
        half = L;
    } else if (half + L > 255) {
        half = 255 - L;
    }
    const double hi = L + half, lo = L - half, span = hi - lo;
    double R, G, B;
    if (H < 60) {
        R = hi, G = (H / 60) * span + lo, B = lo;
    } else if (H < 120) {
        R = ((120 - H) / 60) * span + lo, G = hi, B = lo;
    } else if (H < 180) {
        R = lo, G = hi, B = ((H - 120) / 60) * span + lo;
    } else if (H < 240) {
        R = lo, G = ((240 - H) / 60) * span + lo, B = hi;
    } else if (H < 300) {
        R = ((H - 240) / 60) * span + lo, G = lo, B = hi;
    } else {
        R = hi, G = lo, B = ((360 - H) / 60) * span + lo;
    }
    r = uint8_t(int(R));
    g = uint8_t(int(G));
    b = uint8_t(int(B));
}

// One pixel (r, g, b) through the saturation change.
inline void Saturate(uint8_t& r, uint8_t& g, uint8_t& b, int value) {
    double H, S, L;
    ToHsl(r, g, b, H, S, L);
    double S2 = (S * value) / 1000 + S;
    S2 = std::min(255.0, std::max(0.0, S2));
    ToRgb(H, S2, L, r, g, b);
}

}  // namespace imgref
