// Creating, releasing, copying, separating and merging bitmaps.
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"
#include "NvkImgLib_Rows.h"

namespace nvk {

int32_t StrideFor(int64_t width, int bitsPerPixel) {
    if (width < 0) {
        return -1;
    }
    const int64_t stride = (bitsPerPixel * width + 31) / 32 * 4;
    return stride > INT32_MAX ? -1 : static_cast<int32_t>(stride);
}

bool GeometryFits(const _tagBITMAPHANDLE& b, int bytesPerPixel) {
    if (b.width < 0 || b.height < 0 || b.bytesPerLine < 0) {
        return false;
    }
    const uint64_t rowBytes = static_cast<uint64_t>(b.width) * bytesPerPixel;
    if (static_cast<uint64_t>(b.bytesPerLine) < rowBytes) {
        return false;
    }
    if (b.height == 0 || b.width == 0) {
        return true;
    }
    // Both factors are below 2^31, so the product cannot overflow.
    const uint64_t needed =
        static_cast<uint64_t>(b.height - 1) * static_cast<uint64_t>(b.bytesPerLine) + rowBytes;
    return needed <= b.dataSize;
}

namespace {

void SeparatePlain(const uint8_t* __restrict in, size_t count, uint8_t* __restrict o0,
                   uint8_t* __restrict o1, uint8_t* __restrict o2) {
    for (size_t x = 0; x < count; ++x) {
        o0[x] = in[3 * x + 0];
        o1[x] = in[3 * x + 1];
        o2[x] = in[3 * x + 2];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// 16 pixels at a time: three byte shuffles per plane pick its bytes out of
// the 48 bytes, the rest as above.
__attribute__((target("ssse3"))) void SeparateShuffled(const uint8_t* __restrict in,
                                                       size_t count, uint8_t* __restrict o0,
                                                       uint8_t* __restrict o1,
                                                       uint8_t* __restrict o2) {
    const __m128i a0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i a1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
    const __m128i a2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
    const __m128i b0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i b1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m128i c0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i c1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
    const __m128i c2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x + 32));
        const __m128i p0 = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(v0, a0), _mm_shuffle_epi8(v1, a1)),
            _mm_shuffle_epi8(v2, a2));
        const __m128i p1 = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(v0, b0), _mm_shuffle_epi8(v1, b1)),
            _mm_shuffle_epi8(v2, b2));
        const __m128i p2 = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(v0, c0), _mm_shuffle_epi8(v1, c1)),
            _mm_shuffle_epi8(v2, c2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o0 + x), p0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o1 + x), p1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o2 + x), p2);
    }
    SeparatePlain(in + 3 * x, count - x, o0 + x, o1 + x, o2 + x);
}
#endif

}  // namespace

void SeparateRow(const uint8_t* in, size_t count, uint8_t* out0, uint8_t* out1, uint8_t* out2) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("ssse3")) {
        SeparateShuffled(in, count, out0, out1, out2);
        return;
    }
#endif
    SeparatePlain(in, count, out0, out1, out2);
}

void MapRow(uint8_t* row, size_t count, const uint8_t (&tables)[3][256]) {
    const uint8_t* t0 = tables[0];
    const uint8_t* t1 = tables[1];
    const uint8_t* t2 = tables[2];
    for (size_t x = 0; x < count; ++x, row += 3) {
        row[0] = t0[row[0]];
        row[1] = t1[row[1]];
        row[2] = t2[row[2]];
    }
}

}  // namespace nvk

using nvk::StrideFor;

int IL_CreateBitmap(_tagBITMAPHANDLE* bitmap, uint32_t recordSize, int32_t memoryKind,
                    int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t colorOrder,
                    uint8_t* palette, uint32_t layoutCode, uint8_t* data, uint64_t dataSize) {
    if (bitmap == nullptr) {
        return kILErrInvalidParameter;
    }
    if (recordSize != sizeof(_tagBITMAPHANDLE)) {
        return kILErrRecordSize;
    }
    // Negative sizes are refused like zero ones: they describe no memory.
    if (memoryKind != static_cast<int32_t>(kILMemoryKind) || width <= 0 || height <= 0) {
        return kILErrInvalidParameter;
    }
    uint32_t order = 0;
    switch (bitsPerPixel) {
        case 1:
        case 16:
        case 32:
            return kILErrInvalidParameter;
        case 48:
        case 64:
            return kILErrDeepColor;
        case 8:
            if (palette == nullptr || colorOrder != 2) {
                return kILErrInvalidParameter;
            }
            break;
        case 24:
            if (palette != nullptr) {
                return kILErrBitsPerPixel;
            }
            if (colorOrder > 2) {
                return kILErrInvalidParameter;
            }
            order = colorOrder == 0 ? 0 : 1;
            break;
        default:
            return kILErrBitsPerPixel;
    }
    if (layoutCode != kILLayoutCode || data == nullptr) {
        return kILErrInvalidParameter;
    }
    const int32_t stride = StrideFor(width, bitsPerPixel);
    if (stride < 0 || dataSize != static_cast<uint64_t>(stride) * static_cast<uint64_t>(height)) {
        return kILErrInvalidParameter;
    }
    bitmap->handle = nullptr;
    bitmap->data = data;
    bitmap->palette = palette;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = bitsPerPixel;
    bitmap->bytesPerLine = stride;
    bitmap->colors = bitsPerPixel == 8 ? 256 : 0;
    bitmap->colorOrder = order;
    bitmap->layoutCode = kILLayoutCode;
    bitmap->dataSize = dataSize;
    return kILSuccess;
}

void IL_FreeBitmap(_tagBITMAPHANDLE* bitmap) {
    if (bitmap == nullptr) {
        return;
    }
    if (bitmap->handle != nullptr) {
        if (bitmap->data != nullptr) {
            GlobalUnlock(bitmap->handle);
        }
        GlobalFree(bitmap->handle);
        bitmap->handle = nullptr;
    }
    bitmap->data = nullptr;
    bitmap->palette = nullptr;
}

int IL_CopyBitmapData(_tagBITMAPHANDLE* dst, const _tagBITMAPHANDLE* src) {
    if (dst == nullptr || src == nullptr) {
        return kILErrNoBitmap;
    }
    if (dst->data == nullptr || src->data == nullptr || dst->bitsPerPixel != 24 ||
        src->bitsPerPixel != 24) {
        return kILErrInvalidParameter;
    }
    if (!nvk::GeometryFits(*dst, 3) || !nvk::GeometryFits(*src, 3)) {
        return kILErrInvalidParameter;
    }
    const uint64_t paletteBytes = static_cast<uint64_t>(src->colors) * 4;
    if (paletteBytes != 0 && dst->colors != 0 && dst->palette != nullptr &&
        src->palette != nullptr) {
        // Palettes of this library never exceed 256 entries.
        CopyMemory(dst->palette, src->palette, paletteBytes < 1024 ? paletteBytes : 1024);
    }
    if (dst->width == src->width && dst->height == src->height) {
        const uint64_t n = src->dataSize < dst->dataSize ? src->dataSize : dst->dataSize;
        CopyMemory(dst->data, src->data, n);
        return kILSuccess;
    }
    const int32_t rows = dst->height < src->height ? dst->height : src->height;
    const int32_t cols = dst->width < src->width ? dst->width : src->width;
    const size_t rowBytes = static_cast<size_t>(StrideFor(cols, 24));
    uint64_t dOff = 0;
    uint64_t sOff = 0;
    if (dst->height > src->height) {
        dOff = static_cast<uint64_t>(dst->height - src->height) * dst->bytesPerLine;
    } else {
        sOff = static_cast<uint64_t>(src->height - dst->height) * src->bytesPerLine;
    }
    for (int32_t y = 0; y < rows; ++y) {
        // The padded row length may reach past a row's last pixel; where that
        // would leave either block, only the pixels are copied.
        const bool whole = rowBytes <= static_cast<uint64_t>(dst->bytesPerLine) &&
                           rowBytes <= static_cast<uint64_t>(src->bytesPerLine) &&
                           dOff + rowBytes <= dst->dataSize && sOff + rowBytes <= src->dataSize;
        CopyMemory(dst->data + dOff, src->data + sOff,
                   whole ? rowBytes : static_cast<size_t>(cols) * 3);
        dOff += dst->bytesPerLine;
        sOff += src->bytesPerLine;
    }
    return kILSuccess;
}

int IL_ColorSeparateBitmap(const _tagBITMAPHANDLE* src, _tagBITMAPHANDLE** planes,
                           uint32_t recordSize, uint32_t flags) {
    if (src == nullptr) {
        return kILErrInvalidParameter;
    }
    if (recordSize != sizeof(_tagBITMAPHANDLE)) {
        return kILErrRecordSize;
    }
    if (src->data == nullptr || src->bitsPerPixel != 24 || planes == nullptr ||
        src->colorOrder > 1 || planes[0] == nullptr || planes[1] == nullptr || flags != 0 ||
        planes[2] == nullptr) {
        return kILErrInvalidParameter;
    }
    // A copy: the caller may pass the source record among the plane records.
    const _tagBITMAPHANDLE s = *src;
    const int32_t stride = StrideFor(s.width, 8);
    if (!nvk::GeometryFits(s, 3) || stride < 0) {
        return kILErrInvalidParameter;
    }
    const uint64_t pixelBytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(s.height);

    for (int i = 0; i < 3; ++i) {
        _tagBITMAPHANDLE* p = planes[i];
        nvk::GlobalBlock block(pixelBytes + 1024);
        if (block.Data() == nullptr) {
            for (int j = 0; j < i; ++j) {
                IL_FreeBitmap(planes[j]);
            }
            p->handle = nullptr;
            p->data = nullptr;
            p->palette = nullptr;
            return kILErrNoMemory;
        }
        p->data = block.Data();
        p->handle = block.Release();
        p->palette = p->data + pixelBytes;
        for (int e = 0; e < 256; ++e) {
            p->palette[e * 4 + 0] = static_cast<uint8_t>(e);
            p->palette[e * 4 + 1] = static_cast<uint8_t>(e);
            p->palette[e * 4 + 2] = static_cast<uint8_t>(e);
        }
        p->width = s.width;
        p->height = s.height;
        p->bitsPerPixel = 8;
        p->bytesPerLine = stride;
        p->colors = 256;
        p->colorOrder = 0;
        p->layoutCode = s.layoutCode;
        p->dataSize = pixelBytes;
    }

    // Plane 0 always receives blue, plane 1 green, plane 2 red.
    uint8_t* out0 = planes[s.colorOrder == 1 ? 0 : 2]->data;
    uint8_t* out1 = planes[1]->data;
    uint8_t* out2 = planes[s.colorOrder == 1 ? 2 : 0]->data;
    const size_t width = static_cast<size_t>(s.width);
    for (int32_t y = 0; y < s.height; ++y) {
        const size_t row = static_cast<size_t>(y) * stride;
        nvk::SeparateRow(s.data + static_cast<size_t>(y) * s.bytesPerLine, width, out0 + row,
                         out1 + row, out2 + row);
    }
    return kILSuccess;
}

namespace {

// Whether a plane agrees with plane 0 in everything the merge relies on.
bool PlaneMatches(const _tagBITMAPHANDLE& p, const _tagBITMAPHANDLE& first) {
    const int32_t stride = StrideFor(p.width, 8);
    return p.data != nullptr && p.width == first.width && p.height == first.height &&
           p.bitsPerPixel == 8 && stride >= 0 && p.bytesPerLine == stride && p.colors == 256 &&
           p.palette != nullptr && p.colorOrder == 0 && p.layoutCode == first.layoutCode &&
           p.dataSize == static_cast<uint64_t>(stride) * static_cast<uint64_t>(p.height);
}

}  // namespace

int IL_ColorMergeBitmap(_tagBITMAPHANDLE* dst, _tagBITMAPHANDLE* const* planes, uint32_t recordSize,
                        uint32_t flags) {
    if (dst == nullptr) {
        return kILErrInvalidParameter;
    }
    if (recordSize != sizeof(_tagBITMAPHANDLE)) {
        return kILErrRecordSize;
    }
    if (planes == nullptr) {
        return kILErrInvalidParameter;
    }
    for (int i = 0; i < 3; ++i) {
        if (planes[i] == nullptr || planes[i]->data == nullptr) {
            return kILErrNoBitmap;
        }
    }
    if (flags != 0) {
        return kILErrInvalidParameter;
    }
    // Copies: dst may be one of the plane records.
    const _tagBITMAPHANDLE p0 = *planes[0];
    const _tagBITMAPHANDLE p1 = *planes[1];
    const _tagBITMAPHANDLE p2 = *planes[2];
    if (!PlaneMatches(p0, p0) || !PlaneMatches(p1, p0) || !PlaneMatches(p2, p0) || p0.width <= 0 ||
        p0.height <= 0) {
        return kILErrInvalidParameter;
    }
    const int32_t stride = StrideFor(p0.width, 24);
    if (stride < 0) {
        return kILErrInvalidParameter;
    }
    const uint64_t size = static_cast<uint64_t>(stride) * static_cast<uint64_t>(p0.height);
    nvk::GlobalBlock block(size);
    if (block.Data() == nullptr) {
        return kILErrNoMemory;
    }

    // Each output byte position comes from its own plane's palette byte.
    uint8_t lut0[256], lut1[256], lut2[256];
    for (int e = 0; e < 256; ++e) {
        lut0[e] = p0.palette[e * 4 + 0];
        lut1[e] = p1.palette[e * 4 + 1];
        lut2[e] = p2.palette[e * 4 + 2];
    }
    uint8_t* out = block.Data();
    const size_t width = static_cast<size_t>(p0.width);
    for (int32_t y = 0; y < p0.height; ++y) {
        const size_t inRow = static_cast<size_t>(y) * p0.bytesPerLine;
        const uint8_t* i0 = p0.data + inRow;
        const uint8_t* i1 = p1.data + inRow;
        const uint8_t* i2 = p2.data + inRow;
        uint8_t* o = out + static_cast<size_t>(y) * stride;
        for (size_t x = 0; x < width; ++x) {
            o[3 * x + 0] = lut0[i0[x]];
            o[3 * x + 1] = lut1[i1[x]];
            o[3 * x + 2] = lut2[i2[x]];
        }
    }

    dst->data = block.Data();
    dst->handle = block.Release();
    dst->width = p0.width;
    dst->height = p0.height;
    dst->bitsPerPixel = 24;
    dst->bytesPerLine = stride;
    dst->colorOrder = 1;
    dst->layoutCode = p0.layoutCode;
    dst->dataSize = size;
    return kILSuccess;
}
