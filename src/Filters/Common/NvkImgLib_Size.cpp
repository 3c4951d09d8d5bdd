// Resampling of 24-bit bitmaps by separable cubic convolution (a = -1).
//
// Horizontal pass first, in 64-bit floating point, with unrounded sums kept
// between the passes. Every tap, weight and summation order is fixed, so the
// result is the same byte for byte on every build. The weights depend only on
// the output position and are computed once per output column and row; the
// horizontal sums of a source row are computed once, when the vertical pass
// first needs them, and kept in a ring of four rows (the vertical taps of
// consecutive output rows only ever move forward).
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"
#include "NvkImgLib_Rows.h"

namespace {

using nvk::Taps;

// Cubic convolution kernel with a = -1; taps beyond distance 2 contribute
// nothing (they are skipped, which adds exactly +0).
double Kernel(double d) {
    if (d <= 1.0) {
        return d * d * d - 2 * d * d + 1;
    }
    if (d <= 2.0) {
        return -d * d * d + 5 * d * d - 8 * d + 4;
    }
    return 0.0;
}

}  // namespace

namespace nvk {

Taps TapsFor(int32_t srcLength, int32_t newLength, int32_t i) {
    const double p = static_cast<double>(srcLength) / static_cast<double>(newLength) * i;
    // 0 <= p < srcLength, so the truncation is defined and in range.
    int32_t base = static_cast<int32_t>(p);
    if (base > srcLength - 1) {
        base = srcLength - 1;
    }
    Taps t;
    for (int n = 0; n < 4; ++n) {
        const int32_t k = base - 1 + n;
        t.weight[n] = Kernel(std::fabs(static_cast<double>(k) - p));
        t.index[n] = (k < 0 || k >= srcLength) ? base : k;
    }
    return t;
}

}  // namespace nvk

namespace {

// Horizontal pass of one source row into 3 x newWidth sums; samples holds
// room for the row's 3 x srcWidth bytes as doubles, converted once.
NVK_PIXEL_LOOP void HorizontalRow(const uint8_t* __restrict src, size_t srcBytes,
                                  double* __restrict samples, const Taps* __restrict taps,
                                  int32_t newWidth, double* __restrict out) {
    for (size_t j = 0; j < srcBytes; ++j) {
        samples[j] = src[j];
    }
    for (int32_t x = 0; x < newWidth; ++x) {
        const Taps& t = taps[x];
        const double* s0 = samples + 3 * static_cast<size_t>(t.index[0]);
        const double* s1 = samples + 3 * static_cast<size_t>(t.index[1]);
        const double* s2 = samples + 3 * static_cast<size_t>(t.index[2]);
        const double* s3 = samples + 3 * static_cast<size_t>(t.index[3]);
        for (int c = 0; c < 3; ++c) {
            double sum = t.weight[0] * s0[c];
            sum += t.weight[1] * s1[c];
            sum += t.weight[2] * s2[c];
            sum += t.weight[3] * s3[c];
            out[3 * x + c] = sum;
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The three channels of output pixel x in the lanes of one vector (the
// fourth lane is the next source pixel's first channel, not used): per lane
// the same products as HorizontalRow, added in the same order.
__attribute__((target("avx2"))) inline __m256d PixelLanes(const double* samples, const Taps& t) {
    const __m256d s0 = _mm256_loadu_pd(samples + 3 * static_cast<size_t>(t.index[0]));
    const __m256d s1 = _mm256_loadu_pd(samples + 3 * static_cast<size_t>(t.index[1]));
    const __m256d s2 = _mm256_loadu_pd(samples + 3 * static_cast<size_t>(t.index[2]));
    const __m256d s3 = _mm256_loadu_pd(samples + 3 * static_cast<size_t>(t.index[3]));
    __m256d sum = _mm256_mul_pd(_mm256_set1_pd(t.weight[0]), s0);
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(t.weight[1]), s1));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(t.weight[2]), s2));
    return _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(t.weight[3]), s3));
}

// HorizontalRow one pixel per vector. samples holds one double more than
// the row's, so that the last source pixel's load stays inside.
__attribute__((target("avx2"))) void HorizontalRowLanes(const uint8_t* __restrict src,
                                                        size_t srcBytes,
                                                        double* __restrict samples,
                                                        const Taps* __restrict taps,
                                                        int32_t newWidth,
                                                        double* __restrict out) {
    for (size_t j = 0; j < srcBytes; ++j) {
        samples[j] = src[j];
    }
    samples[srcBytes] = 0.0;
    // Each store's fourth lane is overwritten by the next pixel; the last
    // pixel's stays out of the row.
    for (int32_t x = 0; x + 1 < newWidth; ++x) {
        _mm256_storeu_pd(out + 3 * static_cast<size_t>(x), PixelLanes(samples, taps[x]));
    }
    const int32_t last = newWidth - 1;
    _mm256_maskstore_pd(out + 3 * static_cast<size_t>(last), _mm256_setr_epi64x(-1, -1, -1, 0),
                        PixelLanes(samples, taps[last]));
}
#endif

// 0 below 0, 255 above 255, otherwise rounded half up; written with min and
// max so that the loop needs no branches.
inline uint8_t ToByte(double s) {
    const double clamped = std::min(std::max(s, 0.0), 255.0);
    return static_cast<uint8_t>(static_cast<int32_t>(clamped + 0.5));
}

// Vertical pass of one output row from the four tap rows.
NVK_PIXEL_LOOP void VerticalRow(const double* r0, const double* r1, const double* r2,
                                const double* r3, const double* w, size_t count, uint8_t* out) {
    const double w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
    for (size_t j = 0; j < count; ++j) {
        double sum = w0 * r0[j];
        sum += w1 * r1[j];
        sum += w2 * r2[j];
        sum += w3 * r3[j];
        out[j] = ToByte(sum);
    }
}

}  // namespace

namespace nvk {

size_t SizeRowsScratch(int32_t srcWidth, int32_t srcHeight, int32_t newWidth) {
    const size_t ringRows = srcHeight < 4 ? static_cast<size_t>(srcHeight) : 4;
    // The source row as doubles, and one more for the vector loads.
    return ringRows * 3 * static_cast<size_t>(newWidth) + 3 * static_cast<size_t>(srcWidth) + 1;
}

void SizeRows(const _tagBITMAPHANDLE& src, int32_t newWidth, int32_t newHeight,
              const Taps* xTaps, int32_t first, int32_t end, uint8_t* out, size_t outStride,
              double* scratch) {
    const size_t rowDoubles = 3 * static_cast<size_t>(newWidth);
    const size_t ringRows = src.height < 4 ? static_cast<size_t>(src.height) : 4;
    const size_t srcBytes = 3 * static_cast<size_t>(src.width);
    double* rows = scratch;
    double* samples = scratch + ringRows * rowDoubles;
    int32_t held[4] = {-1, -1, -1, -1};
    auto horizontal = HorizontalRow;
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2")) {
        horizontal = HorizontalRowLanes;
    }
#endif
    auto rowOf = [&](int32_t k) -> const double* {
        const size_t slot = static_cast<size_t>(k) % ringRows;
        double* r = rows + slot * rowDoubles;
        if (held[slot] != k) {
            horizontal(src.data + static_cast<size_t>(k) * src.bytesPerLine, srcBytes, samples,
                       xTaps, newWidth, r);
            held[slot] = k;
        }
        return r;
    };
    for (int32_t y = first; y < end; ++y) {
        const Taps t = TapsFor(src.height, newHeight, y);
        // The four taps lie within base-1 ... base+2, so they never evict one
        // another from a ring of four (fewer rows exist only when the source
        // has fewer, and then every row fits).
        const double* r0 = rowOf(t.index[0]);
        const double* r1 = rowOf(t.index[1]);
        const double* r2 = rowOf(t.index[2]);
        const double* r3 = rowOf(t.index[3]);
        VerticalRow(r0, r1, r2, r3, t.weight, rowDoubles,
                    out + static_cast<size_t>(y - first) * outStride);
    }
}

}  // namespace nvk

int IL_SizeBitmap(_tagBITMAPHANDLE* bitmap, int32_t newWidth, int32_t newHeight, int32_t method) {
    if (bitmap == nullptr || bitmap->data == nullptr || bitmap->bitsPerPixel != 24 ||
        bitmap->colorOrder > 1 || newWidth <= 0 || newHeight <= 0 ||
        method != static_cast<int32_t>(kILMethodCubic)) {
        return kILErrInvalidParameter;
    }
    const _tagBITMAPHANDLE src = *bitmap;
    if (!nvk::GeometryFits(src, 3) || src.width <= 0 || src.height <= 0) {
        return kILErrInvalidParameter;
    }
    const int32_t stride = nvk::StrideFor(newWidth, 24);
    if (stride < 0) {
        return kILErrInvalidParameter;
    }
    const uint64_t newSize = static_cast<uint64_t>(stride) * static_cast<uint64_t>(newHeight);
    nvk::GlobalBlock block(newSize);
    if (block.Data() == nullptr) {
        return kILErrNoMemory;
    }

    // The design's intermediate holds every source row; this one holds four,
    // but a size the design could never obtain is refused the same way.
    const uint64_t rowDoubles = 3 * static_cast<uint64_t>(newWidth);
    uint64_t fullSize = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(src.height), rowDoubles * sizeof(double),
                               &fullSize) ||
        fullSize > static_cast<uint64_t>(PTRDIFF_MAX)) {
        return kILErrNoMemory;
    }
    // The ring of horizontal sums and one source row as doubles.
    nvk::GlobalBlock ring(nvk::SizeRowsScratch(src.width, src.height, newWidth) *
                          sizeof(double));
    nvk::GlobalBlock columnTaps(static_cast<size_t>(newWidth) * sizeof(Taps));
    if (ring.Data() == nullptr || columnTaps.Data() == nullptr) {
        return kILErrNoMemory;
    }

    Taps* xTaps = reinterpret_cast<Taps*>(columnTaps.Data());
    for (int32_t x = 0; x < newWidth; ++x) {
        xTaps[x] = nvk::TapsFor(src.width, newWidth, x);
    }
    nvk::SizeRows(src, newWidth, newHeight, xTaps, 0, newHeight, block.Data(),
                  static_cast<size_t>(stride), reinterpret_cast<double*>(ring.Data()));

    if (bitmap->handle != nullptr) {
        if (bitmap->data != nullptr) {
            GlobalUnlock(bitmap->handle);
        }
        GlobalFree(bitmap->handle);
        bitmap->palette = nullptr;
    }
    bitmap->data = block.Data();
    bitmap->handle = block.Release();
    bitmap->width = newWidth;
    bitmap->height = newHeight;
    bitmap->bytesPerLine = stride;
    bitmap->dataSize = newSize;
    return kILSuccess;
}
