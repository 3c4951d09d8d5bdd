// Resampling by cubic convolution: worked cases and the fast version against
// the slow reference on awkward sizes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ImgLibReference.h"
#include "NvkImgLib.h"

using imgref::Image;

namespace {

// Resamples a copy of img and returns its pixels; checks the new record.
std::vector<uint8_t> Resized(Image& img, int w, int h) {
    _tagBITMAPHANDLE bm = img.bm;
    EXPECT_EQ(IL_SizeBitmap(&bm, w, h, 4), 1);
    EXPECT_NE(bm.handle, nullptr);
    EXPECT_EQ(bm.data, bm.handle);
    EXPECT_EQ(bm.width, w);
    EXPECT_EQ(bm.height, h);
    EXPECT_EQ(bm.bytesPerLine, imgref::Stride(w, 24));
    EXPECT_EQ(bm.dataSize, uint64_t(bm.bytesPerLine) * h);
    EXPECT_EQ(bm.colorOrder, img.bm.colorOrder);
    std::vector<uint8_t> out = imgref::PixelsOf(bm, 3);
    IL_FreeBitmap(&bm);
    return out;
}

TEST(ImgLibSize, WorkedCases) {
    std::mt19937 rng(3);
    Image img(7, 5, 1);
    imgref::FillRandom(img.bytes, rng);
    // Same size: every tap but the centre has weight 0.
    EXPECT_EQ(Resized(img, 7, 5), imgref::PixelsOf(img.bm, 3));

    // Two columns to one keeps column 0.
    Image two(2, 1);
    two.At(0, 0)[0] = 9, two.At(0, 0)[1] = 99, two.At(0, 0)[2] = 199;
    two.At(1, 0)[0] = 250;
    EXPECT_EQ(Resized(two, 1, 1), (std::vector<uint8_t>{9, 99, 199}));

    // Enlarging a single pixel repeats it: out-of-range taps use column 0.
    Image dot(1, 1);
    dot.At(0, 0)[0] = 17, dot.At(0, 0)[1] = 128, dot.At(0, 0)[2] = 255;
    const std::vector<uint8_t> big = Resized(dot, 5, 3);
    for (size_t i = 0; i < big.size(); i += 3) {
        EXPECT_EQ(big[i], 17);
        EXPECT_EQ(big[i + 1], 128);
        EXPECT_EQ(big[i + 2], 255);
    }
}

// 3 columns to 2: output column 1 samples p = 1.5, base 1, taps 0 to 3 with
// weights -0.125, 0.625, 0.625, -0.125. Tap 3 lies past the edge and takes
// column 1 (the truncated position), not the last column 2.
TEST(ImgLibSize, TapPastRightEdgeUsesTruncatedPosition) {
    Image img(3, 1);
    img.At(2, 0)[0] = 200;
    const std::vector<uint8_t> out = Resized(img, 2, 1);
    EXPECT_EQ(out[3], 125);  // 0.625 x 200; the last column would give 100
}

TEST(ImgLibSize, PaddingAndSourceAreLeftAlone) {
    Image img(3, 3);
    std::mt19937 rng(4);
    imgref::FillRandom(img.bytes, rng);
    const std::vector<uint8_t> before = img.bytes;
    _tagBITMAPHANDLE bm = img.bm;
    ASSERT_EQ(IL_SizeBitmap(&bm, 5, 4, 4), 1);
    // The caller's buffer is not released nor written.
    EXPECT_EQ(img.bytes, before);
    // The record owns the new block now; resizing again releases it.
    ASSERT_EQ(IL_SizeBitmap(&bm, 2, 2, 4), 1);
    IL_FreeBitmap(&bm);
}

TEST(ImgLibSize, ResultCodes) {
    Image img(3, 3);
    _tagBITMAPHANDLE bm = img.bm;
    EXPECT_EQ(IL_SizeBitmap(nullptr, 2, 2, 4), -13);
    EXPECT_EQ(IL_SizeBitmap(&bm, 0, 2, 4), -13);
    EXPECT_EQ(IL_SizeBitmap(&bm, 2, -1, 4), -13);
    EXPECT_EQ(IL_SizeBitmap(&bm, 2, 2, 3), -13);
    bm.colorOrder = 2;
    EXPECT_EQ(IL_SizeBitmap(&bm, 2, 2, 4), -13);
    bm = img.bm;
    bm.bitsPerPixel = 8;
    EXPECT_EQ(IL_SizeBitmap(&bm, 2, 2, 4), -13);
    bm = img.bm;
    bm.data = nullptr;
    EXPECT_EQ(IL_SizeBitmap(&bm, 2, 2, 4), -13);
}

// The fast resampler against the reference on awkward sizes, both directions
// and both axes independently.
TEST(ImgLibSize, MatchesReference) {
    std::mt19937 rng(5);
    const int sizes[][4] = {{1, 1, 1, 1},     {1, 1, 4, 7},   {5, 3, 1, 1},   {1, 9, 1, 4},
                            {9, 1, 4, 1},     {7, 5, 13, 2},  {13, 11, 5, 9}, {2, 2, 3, 3},
                            {31, 7, 29, 8},   {64, 3, 17, 5}, {3, 64, 5, 17}, {100, 80, 37, 91},
                            {37, 91, 100, 80}};
    for (auto [sw, sh, nw, nh] : sizes) {
        for (int photo = 0; photo < 2; ++photo) {
            Image img(sw, sh, photo);
            if (photo) {
                imgref::FillPhoto(img, rng);
            } else {
                imgref::FillRandom(img.bytes, rng);
            }
            const auto want = imgref::Resample(img.bytes, sw, sh, img.bm.bytesPerLine, nw, nh);
            EXPECT_EQ(Resized(img, nw, nh), want) << sw << "x" << sh << " -> " << nw << "x" << nh;
        }
    }
}

}  // namespace
