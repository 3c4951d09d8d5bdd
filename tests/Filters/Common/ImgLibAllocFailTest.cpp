// Memory exhaustion in the bitmap library. This program supplies its own
// memory shims (so the library's are not linked): they count the blocks in
// use and refuse the n-th request, which shows that every failing operation
// releases what it obtained and leaves its records and pixels as they were.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "NvkImgLib.h"

namespace {
int gFailAt = 0;  // 1-based number of the request to refuse; 0 = none
int gRequests = 0;
int gLive = 0;
}  // namespace

HGLOBAL GlobalAlloc(uint32_t, size_t size) {
    if (++gRequests == gFailAt)
        return nullptr;
    void* p = std::malloc(size);
    gLive += p != nullptr;
    return p;
}
void* GlobalLock(HGLOBAL h) { return h; }
int GlobalUnlock(HGLOBAL) { return 0; }
HGLOBAL GlobalFree(HGLOBAL h) {
    gLive -= h != nullptr;
    std::free(h);
    return nullptr;
}
void CopyMemory(void* d, const void* s, size_t n) { std::memcpy(d, s, n); }
void* ZeroMemory(void* p, size_t n) { return std::memset(p, 0, n); }
int32_t MulDiv(int32_t a, int32_t b, int32_t c) { return int32_t(int64_t(a) * b / c); }

namespace {

constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

// Each operation is run with its 1st, 2nd, ... request refused until it
// succeeds; every failure must give -1 and leave everything as it was.
TEST(ImgLibAllocFail, EveryFailingRequestLeavesEverythingAsItWas) {
    std::vector<uint8_t> bytes(size_t(20) * 4);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 37);
    _tagBITMAPHANDLE img{};
    ASSERT_EQ(IL_CreateBitmap(&img, kRec, 2, 6, 4, 24, 0, nullptr, 4, bytes.data(), bytes.size()), 1);
    const std::vector<uint8_t> before = bytes;
    const _tagBITMAPHANDLE saved = img;
    _tagBITMAPHANDLE rec[3]{};
    _tagBITMAPHANDLE* planes[3] = {&rec[0], &rec[1], &rec[2]};
    _tagBITMAPHANDLE merged{};

    enum { kSeparate, kMerge, kSize, kSharpen, kCount };
    for (int op = 0; op < kCount; ++op) {
        for (int failing = 1;; ++failing) {
            gFailAt = failing;
            gRequests = 0;
            const int rc = op == kSeparate ? IL_ColorSeparateBitmap(&img, planes, kRec, 0)
                           : op == kMerge  ? IL_ColorMergeBitmap(&merged, planes, kRec, 0)
                           : op == kSize   ? IL_SizeBitmap(&img, 9, 2, 4)
                                           : IL_SharpenBitmap(&img, 1000);
            if (rc == 1)
                break;
            SCOPED_TRACE(testing::Message() << "operation " << op << ", request " << failing);
            ASSERT_EQ(rc, -1);
            EXPECT_EQ(0, std::memcmp(&img, &saved, sizeof saved));
            EXPECT_EQ(bytes, before);
            if (op == kMerge) {
                EXPECT_EQ(merged.data, nullptr);
            } else if (op == kSeparate) {
                EXPECT_EQ(gLive, 0);
                for (auto& r : rec)
                    EXPECT_TRUE(r.handle == nullptr && r.data == nullptr && r.palette == nullptr);
            }
        }
        gFailAt = 0;
        if (op == kSize) {
            IL_FreeBitmap(&img);
            img = saved;
        }
    }
    IL_FreeBitmap(&merged);
    for (auto& r : rec)
        IL_FreeBitmap(&r);
    EXPECT_EQ(gLive, 0);
}

}  // namespace
