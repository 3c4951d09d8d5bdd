// Tone tables, HSL conversion, saturation and sharpening: worked examples,
// result codes, and the fast versions against the slow references.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ImgLibReference.h"
#include "NvkImgLib.h"

using imgref::Image;

namespace {

// An 8-bit plane with an identity palette, in memory owned by the test.
std::vector<uint8_t> Identity() {
    std::vector<uint8_t> t(256);
    for (int i = 0; i < 256; ++i) {
        t[i] = uint8_t(i);
    }
    return t;
}

struct Plane {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(4);
    std::vector<uint8_t> palette = std::vector<uint8_t>(1024);
    _tagBITMAPHANDLE bm{};
    Plane() {
        for (int i = 0; i < 256; ++i) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = uint8_t(i);
            palette[4 * i + 3] = 0xA5;
        }
        EXPECT_EQ(
            IL_CreateBitmap(&bm, sizeof bm, 2, 1, 1, 8, 2, palette.data(), 4, pixels.data(), 4), 1);
    }
    int At(int i) const { return palette[4 * i]; }
    // Every entry holds table[i] in bytes 0 to 2 and byte 3 is untouched.
    void ExpectTable(const std::vector<uint8_t>& table) const {
        for (int i = 0; i < 256; ++i) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(palette[4 * i + c], table[i]) << "entry " << i;
            }
            ASSERT_EQ(palette[4 * i + 3], 0xA5);
        }
    }
};

TEST(ImgLibTone, GammaExamples) {
    Plane bright, dark, same;
    ASSERT_EQ(IL_GammaCorrectBitmap(&bright.bm, 200), 1);
    EXPECT_EQ(bright.At(64), 128);
    EXPECT_EQ(bright.At(128), 181);
    EXPECT_EQ(bright.At(0), 0);
    EXPECT_EQ(bright.At(255), 255);
    ASSERT_EQ(IL_GammaCorrectBitmap(&dark.bm, 50), 1);
    EXPECT_EQ(dark.At(64), 16);
    EXPECT_EQ(dark.At(128), 64);
    ASSERT_EQ(IL_GammaCorrectBitmap(&same.bm, 100), 1);
    same.ExpectTable(Identity());
    // Extreme values stay defined and keep the ends fixed.
    for (unsigned g : {1u, 4000000000u}) {
        Plane p;
        ASSERT_EQ(IL_GammaCorrectBitmap(&p.bm, g), 1);
        EXPECT_EQ(p.At(0), 0);
        EXPECT_EQ(p.At(255), 255);
    }
}

TEST(ImgLibTone, IntensityExamples) {
    const int cases[][2] = {{0, 0},      {2, 1},      {-2, 0},      {200, 51},
                            {-200, -50}, {1000, 255}, {-1000, -254}};
    for (auto [value, d] : cases) {
        Plane p;
        ASSERT_EQ(IL_ChangeBitmapIntensity(&p.bm, value), 1);
        EXPECT_EQ(p.At(100), std::clamp(100 + d, 0, 255)) << value;
    }
    Plane up, down;
    IL_ChangeBitmapIntensity(&up.bm, 1000);
    IL_ChangeBitmapIntensity(&down.bm, -1000);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(up.At(i), 255);
        EXPECT_EQ(down.At(i), i == 255 ? 1 : 0);
    }
}

TEST(ImgLibTone, ContrastExamplesKeepThePivot) {
    Plane hi, lo;
    ASSERT_EQ(IL_ChangeBitmapContrast(&hi.bm, 1000), 1);
    EXPECT_EQ(hi.At(0), 0);
    EXPECT_EQ(hi.At(128), 192);
    EXPECT_EQ(hi.At(255), 255);
    ASSERT_EQ(IL_ChangeBitmapContrast(&lo.bm, -1000), 1);
    EXPECT_EQ(lo.At(0), 33);
    EXPECT_EQ(lo.At(128), 95);
    EXPECT_EQ(lo.At(255), 158);
    for (int v = -1000; v <= 1000; v += 41) {
        Plane p;
        ASSERT_EQ(IL_ChangeBitmapContrast(&p.bm, v), 1);
        EXPECT_EQ(p.At(64), 64);
    }
    Plane same;
    ASSERT_EQ(IL_ChangeBitmapContrast(&same.bm, 0), 1);
    same.ExpectTable(Identity());
}

// Gamma, then intensity, then contrast: each table applies to the previous output.
TEST(ImgLibTone, TablesCompose) {
    Plane p;
    ASSERT_EQ(IL_GammaCorrectBitmap(&p.bm, 141), 1);
    ASSERT_EQ(IL_ChangeBitmapIntensity(&p.bm, 60), 1);
    ASSERT_EQ(IL_ChangeBitmapContrast(&p.bm, -300), 1);
    Plane gp, ip, cp;
    IL_GammaCorrectBitmap(&gp.bm, 141);
    IL_ChangeBitmapIntensity(&ip.bm, 60);
    IL_ChangeBitmapContrast(&cp.bm, -300);
    std::vector<uint8_t> g(256), i(256), c(256), want(256);
    for (int k = 0; k < 256; ++k) {
        g[k] = uint8_t(gp.At(k)), i[k] = uint8_t(ip.At(k)), c[k] = uint8_t(cp.At(k));
    }
    for (int k = 0; k < 256; ++k) {
        want[k] = c[i[g[k]]];
    }
    p.ExpectTable(want);

    // ConvertLUT8 applies a table the same way.
    Plane q;
    ConvertLUT8(&q.bm, want.data());
    q.ExpectTable(want);
    ConvertLUT8(nullptr, want.data());
}

TEST(ImgLibTone, ResultCodes) {
    Plane p;
    Image colour(2, 2);
    EXPECT_EQ(IL_GammaCorrectBitmap(nullptr, 100), -814);
    EXPECT_EQ(IL_ChangeBitmapIntensity(nullptr, 0), -814);
    EXPECT_EQ(IL_ChangeBitmapContrast(nullptr, 0), -814);
    EXPECT_EQ(IL_ChangeBitmapSaturation(nullptr, 0), -814);
    EXPECT_EQ(IL_GammaCorrectBitmap(&p.bm, 0), -13);
    EXPECT_EQ(IL_GammaCorrectBitmap(&colour.bm, 100), -13);
    for (int v : {-1001, 1001}) {
        EXPECT_EQ(IL_ChangeBitmapIntensity(&p.bm, v), -13);
        EXPECT_EQ(IL_ChangeBitmapContrast(&p.bm, v), -13);
        EXPECT_EQ(IL_ChangeBitmapSaturation(&colour.bm, v), -13);
        EXPECT_EQ(IL_SharpenBitmap(&colour.bm, v), -13);
    }
    _tagBITMAPHANDLE bad = p.bm;
    bad.colors = 255;
    EXPECT_EQ(IL_ChangeBitmapContrast(&bad, 0), -13);
    bad = p.bm;
    bad.palette = nullptr;
    EXPECT_EQ(IL_ChangeBitmapIntensity(&bad, 0), -13);
    bad = p.bm;
    bad.data = nullptr;
    EXPECT_EQ(IL_GammaCorrectBitmap(&bad, 100), -13);
    p.ExpectTable(Identity());  // no refusal changed anything

    bad = colour.bm;
    bad.colorOrder = 2;
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), -13);
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -13);
    EXPECT_EQ(IL_SharpenBitmap(nullptr, 0), -2);
    bad = colour.bm;
    bad.data = nullptr;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -2);
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), -13);
    bad = colour.bm;
    bad.bitsPerPixel = 8;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -13);
    bad = colour.bm;
    bad.height = 0;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), 1);  // no rows: nothing to do
}

TEST(ImgLibHsl, PrimaryHuesAndRoundTripRules) {
    double h, s, l;
    const int hues[][4] = {{255, 0, 0, 0},     {255, 255, 0, 60}, {0, 255, 0, 120},
                           {0, 255, 255, 180}, {0, 0, 255, 240},  {255, 0, 255, 300}};
    for (auto [r, g, b, hue] : hues) {
        RGBtoHSL(r, g, b, &h, &s, &l);
        EXPECT_EQ(h, hue);
        EXPECT_EQ(s, 255);
        EXPECT_EQ(l, 127.5);
    }
    RGBtoHSL(7, 7, 7, h, s, l);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(s, 0);
    uint8_t r, g, b;
    HSLtoRGB(-1, 0, 99.5, r, g, b);
    EXPECT_EQ(r, 99);
    EXPECT_EQ(b, 99);
    // Out-of-range hues from a caller are defined (no undefined conversion).
    HSLtoRGB(-1e300 * -1e10, 10, 10, &r, &g, &b);
    HSLtoRGB(1e300, 255, 127.5, &r, &g, &b);
}

TEST(ImgLibSaturation, WorkedExamples) {
    const int cases[][4] = {{-1000, 125, 125, 125}, {1000, 250, 83, 0}, {0, 200, 100, 50}};
    for (auto [value, r, g, b] : cases) {
        Image img(1, 1, 0);
        img.At(0, 0)[0] = 200, img.At(0, 0)[1] = 100, img.At(0, 0)[2] = 50;
        ASSERT_EQ(IL_ChangeBitmapSaturation(&img.bm, value), 1);
        EXPECT_EQ(img.At(0, 0)[0], r) << value;
        EXPECT_EQ(img.At(0, 0)[1], g) << value;
        EXPECT_EQ(img.At(0, 0)[2], b) << value;
    }
    // Value 0 still truncates the middle component of some colours.
    Image odd(1, 1, 0);
    odd.At(0, 0)[0] = 0, odd.At(0, 0)[1] = 5, odd.At(0, 0)[2] = 21;
    ASSERT_EQ(IL_ChangeBitmapSaturation(&odd.bm, 0), 1);
    EXPECT_EQ(odd.At(0, 0)[1], 4);
    EXPECT_EQ(odd.At(0, 0)[0], 0);
    EXPECT_EQ(odd.At(0, 0)[2], 21);
    // Order 1 reads byte 2 as red: the same bytes exchanged give the same colour.
    Image rev(1, 1, 1);
    rev.At(0, 0)[0] = 21, rev.At(0, 0)[1] = 5, rev.At(0, 0)[2] = 0;
    ASSERT_EQ(IL_ChangeBitmapSaturation(&rev.bm, 0), 1);
    EXPECT_EQ(rev.At(0, 0)[0], 21);
    EXPECT_EQ(rev.At(0, 0)[1], 4);
}

// Every colour of the cube (in steps) at every boundary value, both orders,
// against the reference; the padding bytes stay as they were.
TEST(ImgLibSaturation, MatchesReference) {
    std::mt19937 rng(6);
    for (int value : {-1000, -999, -500, -1, 0, 1, 300, 999, 1000}) {
        for (uint32_t order : {0u, 1u}) {
            Image img(37, 41, order);
            imgref::FillRandom(img.bytes, rng);
            std::vector<uint8_t> want = img.bytes;
            for (int y = 0; y < 41; ++y) {
                for (int x = 0; x < 37; ++x) {
                    uint8_t* p = want.data() + y * img.bm.bytesPerLine + 3 * x;
                    uint8_t& red = order == 0 ? p[0] : p[2];
                    uint8_t& blue = order == 0 ? p[2] : p[0];
                    imgref::Saturate(red, p[1], blue, value);
                }
            }
            ASSERT_EQ(IL_ChangeBitmapSaturation(&img.bm, value), 1);
            ASSERT_EQ(img.bytes, want) << "value " << value << " order " << order;
        }
    }
}

// Whole pages go through tables: every colour of the cube once, and pages of
// random colours at the boundary values, against the reference.
TEST(ImgLibSaturation, PagesMatchReferenceForEveryColour) {
    Image cube(4096, 4096, 0);
    for (int y = 0; y < 4096; ++y) {
        for (int x = 0; x < 4096; ++x) {
            uint8_t* p = cube.At(x, y);
            p[0] = uint8_t(y >> 4), p[1] = uint8_t((y & 15) << 4 | x >> 8), p[2] = uint8_t(x);
        }
    }
    ASSERT_EQ(IL_ChangeBitmapSaturation(&cube.bm, 300), 1);
    for (int y = 0; y < 4096; ++y) {
        for (int x = 0; x < 4096; ++x) {
            uint8_t r = uint8_t(y >> 4), g = uint8_t((y & 15) << 4 | x >> 8), b = uint8_t(x);
            imgref::Saturate(r, g, b, 300);
            const uint8_t* p = cube.At(x, y);
            ASSERT_TRUE(p[0] == r && p[1] == g && p[2] == b) << x << "," << y;
        }
    }
    std::mt19937 rng(9);
    for (int value : {-1000, -999, -1, 0, 1, 999, 1000}) {
        Image img(513, 256, value & 1);  // 131328 pixels, rows with padding
        imgref::FillRandom(img.bytes, rng);
        std::vector<uint8_t> want = img.bytes;
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 513; ++x) {
                uint8_t* p = want.data() + y * img.bm.bytesPerLine + 3 * x;
                uint8_t& red = (value & 1) == 0 ? p[0] : p[2];
                uint8_t& blue = (value & 1) == 0 ? p[2] : p[0];
                imgref::Saturate(red, p[1], blue, value);
            }
        }
        ASSERT_EQ(IL_ChangeBitmapSaturation(&img.bm, value), 1);
        ASSERT_EQ(img.bytes, want) << "value " << value;
    }
}

TEST(ImgLibSharpen, Coefficients) {
    EXPECT_EQ(_SharpenCoefficient(650), 0.365);
    EXPECT_NEAR(_SharpenCoefficient(675), 0.3885, 1e-12);
    EXPECT_EQ(_SharpenCoefficient(-1000), -1.0);
    EXPECT_EQ(_SharpenCoefficient(1000), 9.0);
    EXPECT_EQ(_SharpenCoefficient(0), 0.0);
    // Between the first two points: interpolated from -1000, not taken directly.
    EXPECT_EQ(_SharpenCoefficient(-999), 1.0 * (-0.75 - -1.0) / 50 + -1.0);
}

TEST(ImgLibSharpen, WorkedExamples) {
    for (int level : {1000, 650}) {
        Image img(3, 3);
        img.At(1, 1)[0] = 255;
        ASSERT_EQ(IL_SharpenBitmap(&img.bm, level), 1);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(img.At(x, y)[0], x == 1 && y == 1 ? 255 : 0) << level;
            }
        }
    }
    // Level -1000 averages the 3 x 3 neighbourhood; a corner counts its edge
    // neighbours again: (4 x 90 + 2 x 0 + 2 x 0 + 0) / 9 = 40 at (0, 0).
    Image avg(2, 2);
    avg.At(0, 0)[1] = 90;
    ASSERT_EQ(IL_SharpenBitmap(&avg.bm, -1000), 1);
    EXPECT_EQ(avg.At(0, 0)[1], 40);
    EXPECT_EQ(avg.At(1, 1)[1], 10);

    std::mt19937 rng(7);
    Image same(5, 4);
    imgref::FillRandom(same.bytes, rng);
    const auto before = same.bytes;
    ASSERT_EQ(IL_SharpenBitmap(&same.bm, 0), 1);
    EXPECT_EQ(same.bytes, before);
}

TEST(ImgLibSharpen, MatchesReference) {
    std::mt19937 rng(8);
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {5, 3}, {3, 5}, {33, 17}, {64, 2}};
    for (int level : {-1000, -999, -950, -501, -1, 1, 49, 650, 675, 999, 1000}) {
        for (auto [w, h] : sizes) {
            Image img(w, h, level & 1);
            if (w > 10) {
                imgref::FillPhoto(img, rng);
            } else {
                imgref::FillRandom(img.bytes, rng);
            }
            // The padding bytes too must come back untouched.
            const auto want = imgref::Sharpen(img.bytes, w, h, img.bm.bytesPerLine, level);
            ASSERT_EQ(IL_SharpenBitmap(&img.bm, level), 1);
            ASSERT_EQ(img.bytes, want) << w << "x" << h << " level " << level;
        }
    }
}

}  // namespace
