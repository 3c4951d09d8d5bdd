// Memory exhaustion in the bitmap library. This program supplies its own
// memory shims (so the library's are not linked): they count the blocks in
// use and refuse the n-th request, which shows that every failing operation
// releases what it obtained, leaves its records as documented and changes
// nothing else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImgLibReference.h"
#include "NvkImgLib.h"

namespace {

int gFailAt = 0;  // 1-based number of the request to refuse; 0 = none
int gRequests = 0;
int gLive = 0;

void FailAt(int n) {
    gFailAt = n;
    gRequests = 0;
}

}  // namespace

HGLOBAL GlobalAlloc(uint32_t, size_t size) {
    if (++gRequests == gFailAt) {
        return nullptr;
    }
    void* p = std::malloc(size);
    gLive += p != nullptr;
    return p;
}
void* GlobalLock(HGLOBAL h) {
    return h;
}
int GlobalUnlock(HGLOBAL) {
    return 0;
}
HGLOBAL GlobalFree(HGLOBAL h) {
    gLive -= h != nullptr;
    std::free(h);
    return nullptr;
}
void CopyMemory(void* d, const void* s, size_t n) {
    std::memcpy(d, s, n);
}
void* ZeroMemory(void* p, size_t n) {
    return std::memset(p, 0, n);
}
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    return int32_t(int64_t(a) * b / c);
}

namespace {

constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

TEST(ImgLibAllocFail, SeparationReleasesEveryPlaneItObtained) {
    imgref::Image img(5, 3);
    for (int failing = 1; failing <= 3; ++failing) {
        _tagBITMAPHANDLE rec[3]{};
        _tagBITMAPHANDLE* planes[3] = {&rec[0], &rec[1], &rec[2]};
        FailAt(failing);
        EXPECT_EQ(IL_ColorSeparateBitmap(&img.bm, planes, kRec, 0), -1);
        EXPECT_EQ(gLive, 0) << "request " << failing;
        for (auto& r : rec) {
            EXPECT_EQ(r.handle, nullptr);
            EXPECT_EQ(r.data, nullptr);
            EXPECT_EQ(r.palette, nullptr);
        }
    }
    FailAt(0);
}

TEST(ImgLibAllocFail, MergeResizeAndSharpenLeaveTheirInputUnchanged) {
    imgref::Image img(6, 4);
    std::mt19937 rng(11);
    imgref::FillRandom(img.bytes, rng);
    const std::vector<uint8_t> before = img.bytes;
    const _tagBITMAPHANDLE saved = img.bm;

    _tagBITMAPHANDLE rec[3]{};
    _tagBITMAPHANDLE* planes[3] = {&rec[0], &rec[1], &rec[2]};
    FailAt(0);
    ASSERT_EQ(IL_ColorSeparateBitmap(&img.bm, planes, kRec, 0), 1);
    _tagBITMAPHANDLE merged{};
    FailAt(1);
    EXPECT_EQ(IL_ColorMergeBitmap(&merged, planes, kRec, 0), -1);
    EXPECT_EQ(merged.data, nullptr);
    EXPECT_EQ(merged.handle, nullptr);
    for (auto& r : rec) {
        IL_FreeBitmap(&r);
    }

    // The new block, then the working memory of the passes.
    for (int failing = 1; failing <= 4; ++failing) {
        FailAt(failing);
        const int rc = IL_SizeBitmap(&img.bm, 9, 2, 4);
        if (rc == 1) {
            IL_FreeBitmap(&img.bm);
            img.bm = saved;
            break;
        }
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(0, std::memcmp(&img.bm, &saved, sizeof saved)) << "request " << failing;
    }
    FailAt(1);
    EXPECT_EQ(IL_SharpenBitmap(&img.bm, 1000), -1);
    FailAt(0);
    EXPECT_EQ(img.bytes, before);
    EXPECT_EQ(gLive, 0);
}

}  // namespace
