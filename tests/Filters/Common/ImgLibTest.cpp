// The bitmap library: records and their refusals, untrusted sizes, planes,
// tone tables by worked examples, and the pixel operations (resampling,
// sharpening, saturation) on edge sizes and at the boundaries of their
// parameter against digests of their known-good bytes, padding included.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Digest.h"
#include "NvkImgLib.h"

namespace {

constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

int Stride(int width, int bitsPerPixel) {
    return (bitsPerPixel * width + 31) / 32 * 4;
}

// A 24-bit bitmap over memory owned by the test: a smooth picture with
// noise, padding bytes 0xA5 that no operation may write.
struct Image {
    std::vector<uint8_t> bytes;
    _tagBITMAPHANDLE bm{};
    Image(int w, int h, uint32_t order = 0) : bytes(size_t(Stride(w, 24)) * h, 0xA5) {
        EXPECT_EQ(IL_CreateBitmap(&bm, kRec, 2, w, h, 24, order, nullptr, 4, bytes.data(), bytes.size()), 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < 3 * w; ++x)
                At(0, y)[x] = uint8_t((x * 5 + y * 3) % 256 ^ ((x * 131 + y * 71) & 31));
    }
    uint8_t* At(int x, int y) { return bytes.data() + size_t(y) * bm.bytesPerLine + 3 * x; }
};

// Three empty plane records and the pointer array the library takes.
struct Planes {
    _tagBITMAPHANDLE rec[3]{};
    _tagBITMAPHANDLE* ptr[3] = {&rec[0], &rec[1], &rec[2]};
    ~Planes() {
        for (auto& r : rec)
            IL_FreeBitmap(&r);
    }
};

TEST(ImgLibCreate, GeometryAndRefusalsInCheckOrder) {
    uint8_t data[64], pal[1024];
    _tagBITMAPHANDLE bm{};
    // The record size is checked before every other parameter.
    EXPECT_EQ(IL_CreateBitmap(&bm, kRec - 1, 7, 0, 0, 48, 9, pal, 5, nullptr, 0), -789);
    const struct {
        int kind, w, h, bpp;
        uint32_t order;
        uint8_t* palette;
        uint64_t size;
        int result;
    } refusals[] = {
        {1, 1, 1, 24, 0, nullptr, 4, -13}, {2, 0, 1, 24, 0, nullptr, 4, -13},
        {2, 1, -4, 24, 0, nullptr, 4, -13}, {2, 1, 1, 16, 0, nullptr, 4, -13},
        {2, 1, 1, 48, 0, nullptr, 4, -804}, {2, 1, 1, 12, 0, nullptr, 4, -27},
        {2, 1, 1, 8, 2, nullptr, 4, -13},   {2, 1, 1, 8, 0, pal, 4, -13},
        {2, 1, 1, 24, 0, pal, 4, -27},      {2, 1, 1, 24, 3, nullptr, 4, -13},
        {2, 5, 2, 24, 0, nullptr, 31, -13}, {2, 5, 2, 24, 0, nullptr, 33, -13},
        {2, INT32_MAX, 1, 24, 0, nullptr, 0, -13},  // a row too long for the record
    };
    for (const auto& r : refusals)
        EXPECT_EQ(IL_CreateBitmap(&bm, kRec, r.kind, r.w, r.h, r.bpp, r.order, r.palette, 4, data, r.size),
                  r.result)
            << r.w << "x" << r.h << " " << r.bpp << " bits, " << r.size << " bytes";
    EXPECT_EQ(IL_CreateBitmap(&bm, kRec, 2, 1, 1, 24, 0, nullptr, 3, data, 4), -13);
    EXPECT_EQ(bm.data, nullptr);  // no refusal changed the record
    ASSERT_EQ(IL_CreateBitmap(&bm, kRec, 2, 5, 2, 24, 2, nullptr, 4, data, 32), 1);
    EXPECT_TRUE(bm.handle == nullptr && bm.bytesPerLine == 16 && bm.colorOrder == 1u);
    ASSERT_EQ(IL_CreateBitmap(&bm, kRec, 2, 5, 2, 8, 2, pal, 4, data, 16), 1);
    EXPECT_TRUE(bm.bytesPerLine == 8 && bm.colors == 256u);
    IL_FreeBitmap(&bm);  // releases nothing it does not own
}

// Separation gives blue, green, red planes with identity palettes; merging
// them back through each plane's own palette byte gives order 1.
TEST(ImgLibPlanes, SeparateAndMergeRoundTripOnAwkwardSizes) {
    const int sizes[][2] = {{1, 1}, {1, 9}, {5, 3}, {7, 1}, {33, 2}};
    for (auto [w, h] : sizes) {
        for (uint32_t order : {0u, 1u}) {
            Image img(w, h, order);
            Planes pl;
            ASSERT_EQ(IL_ColorSeparateBitmap(&img.bm, pl.ptr, kRec, 0), 1);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(pl.rec[i].bytesPerLine, Stride(w, 8));
                EXPECT_EQ(pl.rec[i].palette[4 * 200 + i], 200);
            }
            const uint8_t green = img.At(0, 0)[1];
            pl.rec[1].palette[4 * green + 1] = 7;  // only byte i of plane i is read
            pl.rec[1].palette[4 * green + 0] = 9;
            _tagBITMAPHANDLE merged{};
            ASSERT_EQ(IL_ColorMergeBitmap(&merged, pl.ptr, kRec, 0), 1);
            EXPECT_EQ(merged.colorOrder, 1u);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 3 * w; ++x) {
                    const uint8_t v = img.At(x / 3, y)[order == 1 ? x % 3 : 2 - x % 3];
                    ASSERT_EQ(merged.data[y * merged.bytesPerLine + x], x % 3 == 1 && v == green ? 7 : v)
                        << w << "x" << h << " order " << order;
                }
            IL_FreeBitmap(&merged);
        }
    }
}

// Sizes from a raster header are untrusted: sizes that cannot be represented
// are refused, memory that cannot be had gives -1, nothing is written out of
// bounds and the records stay as they were.
TEST(ImgLibUntrustedSizes, AreRefusedCleanly) {
    uint8_t small[64] = {};
    _tagBITMAPHANDLE huge{};  // ~1.5e18 bytes of planes claimed over 64 bytes
    huge.data = small;
    huge.width = 700000000;
    huge.height = INT32_MAX;
    huge.bitsPerPixel = 24;
    huge.bytesPerLine = 2100000000;
    huge.layoutCode = 4;
    huge.dataSize = uint64_t(huge.bytesPerLine) * uint64_t(huge.height);
    Planes pl;
    EXPECT_EQ(IL_ColorSeparateBitmap(&huge, pl.ptr, kRec, 0), -1);
    EXPECT_EQ(pl.rec[0].handle, nullptr);
    _tagBITMAPHANDLE tall = huge;  // an intermediate beyond any address space
    tall.width = 1;
    tall.bytesPerLine = 4;
    tall.dataSize = 4ull * INT32_MAX;
    EXPECT_EQ(IL_SizeBitmap(&tall, 400000000, 1, 4), -1);
    EXPECT_EQ(tall.data, small);

    Image img(6, 3);
    EXPECT_EQ(IL_SizeBitmap(&img.bm, INT32_MAX, 1, 4), -13);  // a row too long for the record
    EXPECT_EQ(IL_SizeBitmap(&img.bm, 0, 3, 4), -13);          // no columns
    EXPECT_EQ(IL_SizeBitmap(&img.bm, 700000000, 2000000000, 4), -1);
    EXPECT_EQ(img.bm.data, img.bytes.data());
    _tagBITMAPHANDLE bad = img.bm;
    bad.bytesPerLine = 12;  // rows shorter than their pixels
    EXPECT_EQ(IL_ColorSeparateBitmap(&bad, pl.ptr, kRec, 0), -13);
    EXPECT_EQ(IL_SizeBitmap(&bad, 3, 3, 4), -13);
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), -13);
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 300), -13);
    bad = img.bm;
    bad.dataSize = 2 * 20 + 17;  // one byte short of the last pixel
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), -13);
    EXPECT_EQ(IL_CopyBitmapData(&bad, &img.bm), -13);
    bad.dataSize = 2 * 20 + 18;  // the last row's padding may be missing
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), 1);
    bad = img.bm;
    bad.height = -1;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), -13);
    bad.height = 0;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), 1);  // no rows: nothing to do
    for (int32_t level : {-1001, 1001}) {
        EXPECT_EQ(IL_SharpenBitmap(&img.bm, level), -13);
        EXPECT_EQ(IL_ChangeBitmapSaturation(&img.bm, level), -13);
    }
    bad = img.bm;
    bad.colorOrder = 2;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -13);
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), -13);
    EXPECT_EQ(IL_ChangeBitmapSaturation(nullptr, 0), -814);
    bad.colorOrder = 1;
    bad.bitsPerPixel = 8;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -13);
    bad.data = nullptr;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 0), -2);
    EXPECT_EQ(IL_SharpenBitmap(nullptr, 0), -2);
}

// Worked examples of the tone tables on a plane's palette; byte 3 of an
// entry is never written, and a refused value changes nothing.
TEST(ImgLibTone, WorkedExamplesAndRefusals) {
    uint8_t pixel[4] = {}, palette[1024];
    _tagBITMAPHANDLE plane{};
    const struct {
        int (*op)(_tagBITMAPHANDLE*, int32_t);  // null: the gamma correction
        int value, entry, result;
    } cases[] = {
        {nullptr, 200, 64, 128}, {nullptr, 50, 128, 64}, {nullptr, 0, 9, 9},
        {IL_ChangeBitmapIntensity, 200, 100, 151}, {IL_ChangeBitmapIntensity, -1000, 255, 1},
        {IL_ChangeBitmapIntensity, 1001, 9, 9},   {IL_ChangeBitmapContrast, 1000, 128, 192},
        {IL_ChangeBitmapContrast, -1000, 255, 158}, {IL_ChangeBitmapContrast, -1001, 9, 9},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 1024; ++i)
            palette[i] = i % 4 == 3 ? 0xA5 : uint8_t(i / 4);
        ASSERT_EQ(IL_CreateBitmap(&plane, kRec, 2, 1, 1, 8, 2, palette, 4, pixel, 4), 1);
        const int rc = c.op ? c.op(&plane, c.value) : IL_GammaCorrectBitmap(&plane, uint32_t(c.value));
        EXPECT_EQ(rc, c.entry == 9 ? -13 : 1) << c.value;
        const uint8_t* e = palette + 4 * c.entry;
        EXPECT_TRUE(e[0] == c.result && e[1] == c.result && e[2] == c.result && e[3] == 0xA5)
            << c.value << " at " << c.entry << ": " << int(e[0]);
    }
    // Only an 8-bit plane with a palette of 256 entries is accepted.
    _tagBITMAPHANDLE bad[4] = {plane, plane, plane, plane};
    bad[0].data = nullptr;
    bad[1].bitsPerPixel = 24;
    bad[2].colors = 255;
    bad[3].palette = nullptr;
    for (auto& b : bad)
        EXPECT_EQ(IL_GammaCorrectBitmap(&b, 200), -13);
}

TEST(ImgLibSharpen, CoefficientsInterpolateTheTable) {
    const std::pair<int, double> cases[] = {{-1000, -1.0}, {-999, -0.995}, {-150, -0.1295},
                                            {-75, -0.1215}, {-1, -0.117},  {0, 0.0},
                                            {1, 0.126},     {675, 0.3885}, {999, 8.865},
                                            {1000, 9.0}};
    for (auto [level, coefficient] : cases)
        EXPECT_NEAR(_SharpenCoefficient(level), coefficient, 1e-12) << level;
}

// ---- Pixel operations against digests of their known-good bytes ----------

enum class Op { kSharpen, kSaturation, kSaturationCube, kSize };

struct PixelCase {
    Op op;
    int value;
    const char* digest;
};

std::string Operate(const PixelCase& c) {
    std::vector<uint8_t> all;
    if (c.op == Op::kSaturationCube) {  // every colour once, as whole pages go through tables
        Image cube(4096, 4096);
        for (int y = 0; y < 4096; ++y)
            for (int x = 0; x < 4096; ++x) {
                uint8_t* p = cube.At(x, y);
                p[0] = uint8_t(y >> 4), p[1] = uint8_t((y & 15) << 4 | x >> 8), p[2] = uint8_t(x);
            }
        EXPECT_EQ(IL_ChangeBitmapSaturation(&cube.bm, c.value), 1);
        return qzm::test::Sha256(cube.bytes);
    }
    // Both directions of resampling, both axes independently; the last two
    // numbers are the new size.
    const int sizes[][4] = {{1, 1, 1, 1}, {1, 1, 4, 7},   {1, 7, 5, 3},   {7, 1, 1, 1},
                            {2, 2, 3, 3}, {5, 3, 13, 2},  {3, 5, 1, 4},   {9, 1, 4, 1},
                            {3, 1, 2, 1}, {33, 17, 5, 9}, {64, 2, 17, 5}, {3, 64, 5, 17},
                            {100, 80, 37, 91}, {37, 91, 100, 80}};
    for (auto [w, h, nw, nh] : sizes) {
        for (uint32_t order : {0u, 1u}) {
            Image img(w, h, order);
            if (c.op == Op::kSize) {
                const std::vector<uint8_t> before = img.bytes;
                _tagBITMAPHANDLE bm = img.bm;
                EXPECT_EQ(IL_SizeBitmap(&bm, nw, nh, 4), 1);
                EXPECT_EQ(img.bytes, before);  // the caller's memory is not written
                EXPECT_TRUE(bm.data == bm.handle && bm.width == nw && bm.height == nh &&
                            bm.dataSize == uint64_t(Stride(nw, 24)) * nh && bm.colorOrder == order);
                for (int y = 0; y < nh; ++y)
                    all.insert(all.end(), bm.data + y * bm.bytesPerLine, bm.data + y * bm.bytesPerLine + 3 * nw);
                IL_FreeBitmap(&bm);
                continue;
            }
            EXPECT_EQ(c.op == Op::kSharpen ? IL_SharpenBitmap(&img.bm, c.value)
                                           : IL_ChangeBitmapSaturation(&img.bm, c.value),
                      1);
            all.insert(all.end(), img.bytes.begin(), img.bytes.end());
        }
    }
    return qzm::test::Sha256(all);
}

void PrintTo(const PixelCase& c, std::ostream* os) {
    static const char* const kNames[] = {"Sharpen", "Saturation", "SaturationCube", "Size"};
    *os << kNames[int(c.op)] << (c.value < 0 ? "Minus" : "") << std::abs(c.value);
}

class PixelOperation : public testing::TestWithParam<PixelCase> {};

TEST_P(PixelOperation, GivesTheKnownGoodBytes) {
    EXPECT_EQ(Operate(GetParam()), GetParam().digest);
}

const PixelCase kPixelCases[] = {
    {Op::kSharpen, -1000, "cb47514d6e27395c825ccc0428e318eab80ac605d1b7d304ebf22d8a85172549"},
    {Op::kSharpen, 0, "8b46245999da17978675a6c6d28496d79731e9760d9f92919ff20a6c55533c65"},
    {Op::kSharpen, 1000, "98ef1fc93cff39d9413833e59c7e38faf4ca5174e6d699ba281a604000d4018c"},
    {Op::kSaturation, -1000, "bd90f1e8c5021f079a5365c59fa8f95806b53a2ccecb99e33b786c4ec908e181"},
    {Op::kSaturation, 0, "cce873b39d4840a672af72681afcb0292fa8169227255b103eb068d29fdc8342"},
    {Op::kSaturation, 1000, "5e308ddb199765cf8a61434e4ef206db77fbfe19c1a8933525593f13b95488ac"},
    {Op::kSaturationCube, -1000, "aeebe1fcac18407598f29079916ce500d22a860015df0da53dd5075bb880d402"},
    {Op::kSaturationCube, -999, "84c1735448514d80a9f945b1d81cb2962ed1201a6db18cc331b38d3416bcc8b9"},
    {Op::kSaturationCube, 300, "557827303ea6a8415c01fbe61ab12b4cf35900860da925f7cfb93d571a7b0446"},
    {Op::kSaturationCube, 1000, "e104030b3544eb287773766d0e9b2fc7bc7217e5128ea857d3b3eff7d2d0f085"},
    {Op::kSize, 0, "909f1ed7c9f52f86a8b6ef76ac41310c1ce25119f3f4cb49fc54a457d8bfe8e7"},
};

INSTANTIATE_TEST_SUITE_P(ImgLib, PixelOperation, testing::ValuesIn(kPixelCases),
                         [](const auto& info) { return testing::PrintToString(info.param); });

}  // namespace
