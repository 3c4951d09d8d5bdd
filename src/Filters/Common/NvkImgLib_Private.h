// Helpers shared by the bitmap library's source files; not part of its interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "NvkImgLib.h"

// Pixel loops built twice, for the baseline processor and for one with wider
// vectors, chosen when the program starts. Only plain IEEE operations and
// conversions are used (no fused multiply-add), so both give the same bytes.
// ThreadSanitizer builds use the baseline only: the choice is made by a
// resolver that runs while the program is loaded, before the sanitizer's
// runtime is ready for the instrumented code in it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define NVK_PIXEL_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define NVK_PIXEL_LOOP
#endif

namespace nvk {

// Row stride in bytes of width pixels at bitsPerPixel, rounded up to a
// multiple of 4: ((bitsPerPixel x width + 31) / 32) x 4. -1 when width is
// negative or the stride does not fit the record's int32 field.
int32_t StrideFor(int64_t width, int bitsPerPixel);

// Whether a record's geometry keeps every pixel it describes inside its
// dataSize bytes: width and height not negative, rows at least width x
// bytesPerPixel long, and the last row ending within dataSize. Sizes come
// from raster headers and are not trusted.
bool GeometryFits(const _tagBITMAPHANDLE& bitmap, int bytesPerPixel);

// A block from GlobalAlloc, released when the holder goes out of scope unless
// it was handed on with Release().
class GlobalBlock {
  public:
    explicit GlobalBlock(size_t size) : m_handle(GlobalAlloc(0, size)) {
        m_data = static_cast<uint8_t*>(m_handle ? GlobalLock(m_handle) : nullptr);
    }
    ~GlobalBlock() {
        if (m_handle) {
            GlobalUnlock(m_handle);
            GlobalFree(m_handle);
        }
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    // Null when either GlobalAlloc or GlobalLock failed.
    uint8_t* Data() const { return m_data; }
    HGLOBAL Release() {
        HGLOBAL h = m_handle;
        m_handle = nullptr;
        return h;
    }

  private:
    HGLOBAL m_handle;
    uint8_t* m_data;
};

// Truncates toward zero into a byte the way a C conversion to int followed by
// keeping the low 8 bits does, defined for every input: values outside the
// int32 range and NaN give 0.
inline uint8_t TruncLow8(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(v)));
}

}  // namespace nvk
