#include "NvkImgLib_LinuxDef.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// No pixel block of a photo printer comes near this; a size beyond it comes
// from a broken or hostile header. Refusing it here keeps every allocator
// (instrumented ones included) on the "no memory" path instead of aborting.
constexpr size_t kMaxBlock = size_t{1} << 40;

// Page-sized blocks ask the kernel for huge pages: first touching a block of
// small pages costs one page fault per 4 KiB, which on a virtual machine
// takes longer than the pixel work on them.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargeBlock = size_t{4} << 20;

}  // namespace

void AdviseHugePages(void* block, size_t size) {
    if (block == nullptr || size < kLargeBlock) {
        return;
    }
    // The whole huge pages inside the block; only advice, the block is the
    // same without them.
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (start + size) & ~(kHugePage - 1);
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
}

HGLOBAL GlobalAlloc(uint32_t /*flags*/, size_t size) {
    if (size > kMaxBlock) {
        return nullptr;
    }
    void* block = std::malloc(size);
    AdviseHugePages(block, size);
    return block;
}

void* GlobalLock(HGLOBAL handle) {
    return handle;
}

int GlobalUnlock(HGLOBAL /*handle*/) {
    return 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    std::free(handle);
    return nullptr;
}

void CopyMemory(void* dst, const void* src, size_t n) {
    if (n != 0) {
        std::memcpy(dst, src, n);
    }
}

void* ZeroMemory(void* p, size_t n) {
    if (n != 0) {
        std::memset(p, 0, n);
    }
    return p;
}

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) {
        return -1;
    }
    const int64_t q = static_cast<int64_t>(a) * static_cast<int64_t>(b) / c;
    if (q < std::numeric_limits<int32_t>::min() || q > std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return static_cast<int32_t>(q);
}
