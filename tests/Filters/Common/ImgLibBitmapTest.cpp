// Bitmap records: creation checks, ownership, copying, separation and merge,
// untrusted sizes, and the memory shims.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "ImgLibReference.h"
#include "NvkImgLib.h"

using imgref::Image;

namespace {

constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

int Create(_tagBITMAPHANDLE* bm, int w, int h, int bpp, uint32_t order, uint8_t* pal, uint8_t* data,
           uint64_t size, uint32_t rec = kRec, int kind = 2, uint32_t layout = 4) {
    return IL_CreateBitmap(bm, rec, kind, w, h, bpp, order, pal, layout, data, size);
}

// Three empty plane records and the pointer array the library takes.
struct Planes {
    _tagBITMAPHANDLE rec[3]{};
    _tagBITMAPHANDLE* ptr[3] = {&rec[0], &rec[1], &rec[2]};
    ~Planes() {
        for (auto& r : rec) {
            IL_FreeBitmap(&r);
        }
    }
};

TEST(ImgLibCreate, StoresGeometryAndOwnsNothing) {
    uint8_t data[16 * 2];
    uint8_t pal[1024];
    _tagBITMAPHANDLE bm{};
    ASSERT_EQ(Create(&bm, 5, 2, 24, 2, nullptr, data, sizeof data), 1);
    EXPECT_EQ(bm.handle, nullptr);
    EXPECT_EQ(bm.data, data);
    EXPECT_EQ(bm.bytesPerLine, 16);
    EXPECT_EQ(bm.colorOrder, 1u);  // order 2 becomes 1 for colour bitmaps
    EXPECT_EQ(bm.colors, 0u);
    EXPECT_EQ(bm.layoutCode, 4u);
    EXPECT_EQ(bm.dataSize, 32u);

    _tagBITMAPHANDLE plane{};
    ASSERT_EQ(Create(&plane, 5, 2, 8, 2, pal, data, 16), 1);
    EXPECT_EQ(plane.bytesPerLine, 8);
    EXPECT_EQ(plane.colorOrder, 0u);
    EXPECT_EQ(plane.colors, 256u);
    EXPECT_EQ(plane.palette, pal);

    _tagBITMAPHANDLE one{};
    ASSERT_EQ(Create(&one, 1, 1, 24, 0, nullptr, data, 4), 1);
    EXPECT_EQ(one.bytesPerLine, 4);
    EXPECT_EQ(one.colorOrder, 0u);

    // IL_FreeBitmap releases nothing it does not own (the stack buffer would
    // make free() fail loudly), clears data and palette, keeps the rest.
    IL_FreeBitmap(&plane);
    EXPECT_EQ(plane.data, nullptr);
    EXPECT_EQ(plane.palette, nullptr);
    EXPECT_EQ(plane.width, 5);
    IL_FreeBitmap(&plane);
    IL_FreeBitmap(nullptr);
}

TEST(ImgLibCreate, RefusalsInCheckOrder) {
    uint8_t data[64];
    uint8_t pal[1024];
    _tagBITMAPHANDLE bm{};
    EXPECT_EQ(Create(nullptr, 1, 1, 24, 0, nullptr, data, 4, 0), -13);
    // The record size is checked before every other parameter.
    EXPECT_EQ(Create(&bm, 0, 0, 48, 9, pal, nullptr, 0, kRec - 1, 7, 5), -789);
    EXPECT_EQ(Create(&bm, 1, 1, 24, 0, nullptr, data, 4, kRec, 1), -13);
    EXPECT_EQ(Create(&bm, 0, 1, 24, 0, nullptr, data, 4), -13);
    EXPECT_EQ(Create(&bm, 1, 0, 24, 0, nullptr, data, 4), -13);
    EXPECT_EQ(Create(&bm, -1, 1, 24, 0, nullptr, data, 4), -13);
    EXPECT_EQ(Create(&bm, 1, -4, 24, 0, nullptr, data, 4), -13);
    for (int bpp : {1, 16, 32}) {
        EXPECT_EQ(Create(&bm, 1, 1, bpp, 0, nullptr, data, 4), -13) << bpp;
    }
    EXPECT_EQ(Create(&bm, 1, 1, 48, 0, nullptr, data, 4), -804);
    EXPECT_EQ(Create(&bm, 1, 1, 64, 0, nullptr, data, 4), -804);
    EXPECT_EQ(Create(&bm, 1, 1, 12, 0, nullptr, data, 4), -27);
    EXPECT_EQ(Create(&bm, 1, 1, 8, 2, nullptr, data, 4), -13);  // plane without palette
    EXPECT_EQ(Create(&bm, 1, 1, 8, 0, pal, data, 4), -13);      // plane order must be 2
    EXPECT_EQ(Create(&bm, 1, 1, 24, 0, pal, data, 4), -27);     // colour with palette
    EXPECT_EQ(Create(&bm, 1, 1, 24, 3, nullptr, data, 4), -13);
    EXPECT_EQ(Create(&bm, 1, 1, 24, 0, nullptr, data, 4, kRec, 2, 3), -13);
    EXPECT_EQ(Create(&bm, 1, 1, 24, 0, nullptr, nullptr, 4), -13);
    EXPECT_EQ(Create(&bm, 5, 2, 24, 0, nullptr, data, 31), -13);  // one byte short
    EXPECT_EQ(Create(&bm, 5, 2, 24, 0, nullptr, data, 33), -13);
    // A row whose size does not fit the record is refused, not wrapped.
    EXPECT_EQ(Create(&bm, INT32_MAX, 1, 24, 0, nullptr, data, 0), -13);
    EXPECT_EQ(bm.data, nullptr);  // nothing was changed by any refusal
}

TEST(ImgLibCopy, SameSizeAndAlignedLastRows) {
    std::mt19937 rng(1);
    Image a(3, 4), b(3, 4), tall(2, 6), wide(5, 2);
    imgref::FillRandom(a.bytes, rng);
    EXPECT_EQ(IL_CopyBitmapData(&b.bm, &a.bm), 1);
    EXPECT_EQ(a.bytes, b.bytes);

    // Into a taller, narrower target: the source's 4 rows land on the
    // target's last 4 rows, 2 pixels (8 bytes with padding) of each.
    std::vector<uint8_t> before = tall.bytes;
    ASSERT_EQ(IL_CopyBitmapData(&tall.bm, &a.bm), 1);
    for (int y = 0; y < 6; ++y) {
        for (int i = 0; i < 8; ++i) {
            const uint8_t want = y < 2 ? before[y * 8 + i] : a.bytes[(y - 2) * 12 + i];
            EXPECT_EQ(tall.bytes[y * 8 + i], want) << y << "," << i;
        }
    }
    // From a taller source: its last rows are taken.
    ASSERT_EQ(IL_CopyBitmapData(&wide.bm, &a.bm), 1);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(0, std::memcmp(&wide.bytes[y * 16], &a.bytes[(y + 2) * 12], 12)) << y;
    }
    EXPECT_EQ(IL_CopyBitmapData(nullptr, &a.bm), -2);
    EXPECT_EQ(IL_CopyBitmapData(&a.bm, nullptr), -2);
    _tagBITMAPHANDLE empty{};
    EXPECT_EQ(IL_CopyBitmapData(&empty, &a.bm), -13);
}

// Separation gives blue, green, red planes with identity palettes; merging
// them back gives order 1. Checked on awkward sizes in both orders.
TEST(ImgLibSeparateMerge, RoundTripOnAwkwardSizes) {
    std::mt19937 rng(2);
    const int sizes[][2] = {{1, 1}, {1, 9}, {5, 3}, {7, 1}, {33, 2}, {2, 40}};
    for (auto [w, h] : sizes) {
        for (uint32_t order : {0u, 1u}) {
            Image img(w, h, order);
            imgref::FillRandom(img.bytes, rng);
            Planes pl;
            // Padding of the planes is left as the allocator gave it; the
            // pixels and palettes are what counts.
            ASSERT_EQ(IL_ColorSeparateBitmap(&img.bm, pl.ptr, kRec, 0), 1);
            for (int i = 0; i < 3; ++i) {
                const _tagBITMAPHANDLE& p = pl.rec[i];
                ASSERT_NE(p.handle, nullptr);
                EXPECT_EQ(p.data, p.handle);
                EXPECT_EQ(p.palette, p.data + p.dataSize);
                EXPECT_EQ(p.bytesPerLine, imgref::Stride(w, 8));
                EXPECT_EQ(p.dataSize, uint64_t(p.bytesPerLine) * h);
                EXPECT_EQ(p.colors, 256u);
                EXPECT_EQ(p.bitsPerPixel, 8);
                EXPECT_EQ(p.palette[4 * 77 + 0], 77);
                EXPECT_EQ(p.palette[4 * 200 + 2], 200);
            }
            const int blue = order == 1 ? 0 : 2;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    EXPECT_EQ(pl.rec[0].data[y * pl.rec[0].bytesPerLine + x], img.At(x, y)[blue]);
                    EXPECT_EQ(pl.rec[2].data[y * pl.rec[2].bytesPerLine + x],
                              img.At(x, y)[2 - blue]);
                }
            }
            _tagBITMAPHANDLE merged{};
            ASSERT_EQ(IL_ColorMergeBitmap(&merged, pl.ptr, kRec, 0), 1);
            EXPECT_EQ(merged.colorOrder, 1u);
            EXPECT_EQ(merged.bytesPerLine, img.bm.bytesPerLine);
            std::vector<uint8_t> want = imgref::PixelsOf(img.bm, 3);
            if (order == 0) {
                for (size_t i = 0; i < want.size(); i += 3) {
                    std::swap(want[i], want[i + 2]);
                }
            }
            EXPECT_EQ(imgref::PixelsOf(merged, 3), want) << w << "x" << h;
            IL_FreeBitmap(&merged);
            EXPECT_EQ(merged.handle, nullptr);
        }
    }
}

TEST(ImgLibSeparateMerge, MergeAppliesEachPlanesOwnPaletteByte) {
    Image img(2, 1, 1);
    img.At(0, 0)[0] = 10, img.At(0, 0)[1] = 20, img.At(0, 0)[2] = 30;
    Planes pl;
    ASSERT_EQ(IL_ColorSeparateBitmap(&img.bm, pl.ptr, kRec, 0), 1);
    // Only byte i of plane i's palette is read.
    pl.rec[0].palette[10 * 4 + 0] = 111, pl.rec[0].palette[10 * 4 + 1] = 1;
    pl.rec[1].palette[20 * 4 + 1] = 122, pl.rec[1].palette[20 * 4 + 0] = 1;
    pl.rec[2].palette[30 * 4 + 2] = 133, pl.rec[2].palette[30 * 4 + 0] = 1;
    _tagBITMAPHANDLE merged{};
    ASSERT_EQ(IL_ColorMergeBitmap(&merged, pl.ptr, kRec, 0), 1);
    EXPECT_EQ(merged.data[0], 111);
    EXPECT_EQ(merged.data[1], 122);
    EXPECT_EQ(merged.data[2], 133);
    IL_FreeBitmap(&merged);
}

TEST(ImgLibSeparateMerge, ResultCodes) {
    Image img(4, 2);
    Planes pl;
    _tagBITMAPHANDLE* missing[3] = {&pl.rec[0], &pl.rec[1], nullptr};
    EXPECT_EQ(IL_ColorSeparateBitmap(nullptr, pl.ptr, kRec, 0), -13);
    EXPECT_EQ(IL_ColorSeparateBitmap(&img.bm, nullptr, kRec + 8, 0), -789);
    EXPECT_EQ(IL_ColorSeparateBitmap(&img.bm, nullptr, kRec, 0), -13);
    EXPECT_EQ(IL_ColorSeparateBitmap(&img.bm, missing, kRec, 0), -13);
    EXPECT_EQ(IL_ColorSeparateBitmap(&img.bm, pl.ptr, kRec, 1), -13);
    _tagBITMAPHANDLE odd = img.bm;
    odd.colorOrder = 2;
    EXPECT_EQ(IL_ColorSeparateBitmap(&odd, pl.ptr, kRec, 0), -13);
    odd = img.bm;
    odd.dataSize -= 9;  // the last row would reach past the block
    EXPECT_EQ(IL_ColorSeparateBitmap(&odd, pl.ptr, kRec, 0), -13);
    EXPECT_EQ(pl.rec[0].data, nullptr);

    ASSERT_EQ(IL_ColorSeparateBitmap(&img.bm, pl.ptr, kRec, 0), 1);
    _tagBITMAPHANDLE out{};
    EXPECT_EQ(IL_ColorMergeBitmap(nullptr, pl.ptr, kRec, 0), -13);
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, 1, 0), -789);
    EXPECT_EQ(IL_ColorMergeBitmap(&out, nullptr, kRec, 0), -13);
    EXPECT_EQ(IL_ColorMergeBitmap(&out, missing, kRec, 1), -2);  // -2 comes before flags
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 1), -13);
    const _tagBITMAPHANDLE keep = pl.rec[1];
    pl.rec[1].data = nullptr;
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), -2);
    pl.rec[1] = keep;
    pl.rec[1].width = 3;
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), -13);
    pl.rec[1] = keep;
    pl.rec[2].palette = nullptr;
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), -13);
    pl.rec[2].palette = pl.rec[2].data + pl.rec[2].dataSize;
    pl.rec[0].layoutCode = 5;  // plane 0 is the reference: the others now differ
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), -13);
    pl.rec[0].layoutCode = 4;
    pl.rec[2].dataSize += 1;
    EXPECT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), -13);
    pl.rec[2].dataSize -= 1;
    EXPECT_EQ(out.data, nullptr);
    ASSERT_EQ(IL_ColorMergeBitmap(&out, pl.ptr, kRec, 0), 1);
    IL_FreeBitmap(&out);
}

// Sizes from a raster header are untrusted: sizes that cannot be represented
// are refused, sizes whose memory cannot be had give -1, and nothing is
// allocated short or written out of bounds.
TEST(ImgLibUntrustedSizes, HugeSizesAreRefusedCleanly) {
    uint8_t small[64] = {};
    // A record claiming ~1.5e18 bytes of plane memory, over a tiny buffer.
    _tagBITMAPHANDLE huge{};
    huge.data = small;
    huge.width = 700000000;
    huge.height = INT32_MAX;
    huge.bitsPerPixel = 24;
    huge.bytesPerLine = 2100000000;
    huge.layoutCode = 4;
    huge.dataSize = uint64_t(huge.bytesPerLine) * uint64_t(huge.height);
    Planes pl;
    EXPECT_EQ(IL_ColorSeparateBitmap(&huge, pl.ptr, kRec, 0), -1);
    for (auto& r : pl.rec) {
        EXPECT_EQ(r.handle, nullptr);
        EXPECT_EQ(r.data, nullptr);
        EXPECT_EQ(r.palette, nullptr);
    }

    // Resampling: a new row too long for the record's stride field.
    Image img(2, 2);
    EXPECT_EQ(IL_SizeBitmap(&img.bm, INT32_MAX, 1, 4), -13);
    // A new block that cannot be had.
    EXPECT_EQ(IL_SizeBitmap(&img.bm, 700000000, 2000000000, 4), -1);
    EXPECT_EQ(img.bm.width, 2);
    EXPECT_EQ(img.bm.data, img.bytes.data());
    // An intermediate (source rows x output columns x 24) beyond any address
    // space, over a record whose rows are never read.
    _tagBITMAPHANDLE tall{};
    tall.data = small;
    tall.width = 1;
    tall.height = INT32_MAX;
    tall.bitsPerPixel = 24;
    tall.bytesPerLine = 4;
    tall.layoutCode = 4;
    tall.dataSize = 4ull * INT32_MAX;
    EXPECT_EQ(IL_SizeBitmap(&tall, 400000000, 1, 4), -1);
    EXPECT_EQ(tall.data, small);
    EXPECT_EQ(tall.handle, nullptr);
}

TEST(ImgLibUntrustedSizes, InconsistentRecordsAreRefused) {
    Image img(6, 3);
    Planes pl;
    _tagBITMAPHANDLE bad = img.bm;
    bad.bytesPerLine = 12;  // rows shorter than their pixels
    EXPECT_EQ(IL_ColorSeparateBitmap(&bad, pl.ptr, kRec, 0), -13);
    EXPECT_EQ(IL_SizeBitmap(&bad, 3, 3, 4), -13);
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), -13);
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 300), -13);
    bad = img.bm;
    bad.height = -1;
    EXPECT_EQ(IL_SharpenBitmap(&bad, 650), -13);
    EXPECT_EQ(IL_SizeBitmap(&bad, 3, 3, 4), -13);
    bad = img.bm;
    bad.dataSize = 2 * 20 + 17;  // one byte short of the last pixel
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), -13);
    EXPECT_EQ(IL_CopyBitmapData(&bad, &img.bm), -13);
    bad.dataSize = 2 * 20 + 18;  // the last row's padding may be missing
    EXPECT_EQ(IL_ChangeBitmapSaturation(&bad, 0), 1);
}

TEST(ImgLibShims, HeapAndArithmetic) {
    HGLOBAL h = GlobalAlloc(0, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    EXPECT_EQ(ZeroMemory(h, 16), h);
    const char text[] = "0123456789abcde";
    CopyMemory(h, text, 16);
    EXPECT_EQ(0, std::memcmp(h, text, 16));
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalAlloc(0, SIZE_MAX), nullptr);
    EXPECT_EQ(MulDiv(7, 3, 2), 10);
    EXPECT_EQ(MulDiv(-7, 3, 2), -10);
    EXPECT_EQ(MulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);  // 64-bit product
    EXPECT_EQ(MulDiv(1, 1, 0), -1);                                 // no division by zero
    EXPECT_EQ(MulDiv(INT32_MAX, 4, 2), -1);                         // quotient beyond int32
}

}  // namespace
