#include "NvkImgLib_LinuxDef.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// No pixel block of a photo printer comes near this; a size beyond it comes
// from a broken or hostile header. Refusing it here keeps every allocator
// (instrumented ones included) on the "no memory" path instead of aborting.
constexpr size_t kMaxBlock = size_t{1} << 40;

}  // namespace

HGLOBAL GlobalAlloc(uint32_t /*flags*/, size_t size) {
    if (size > kMaxBlock) {
        return nullptr;
    }
    return std::malloc(size);
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
