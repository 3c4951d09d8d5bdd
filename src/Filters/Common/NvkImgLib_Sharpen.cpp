// Sharpening and softening with a 3 x 3 kernel whose weights sum to 1.
//
// Every output byte is computed from the original pixels, with the nine
// products added in memory order (row above left to right, the row
// itself, the row below), then truncated and clamped. The interior of each
// row is one loop without branches over its bytes; only the first and last
// pixel of a row repeat the edge.
#include <cstring>

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"
#include "NvkImgLib_Rows.h"

const KTableEntry KTable[21] = {
    {-1000, -1.0},   {-950, -0.75}, {-900, -0.5625}, {-800, -0.39}, {-500, -0.204}, {-200, -0.135},
    {-100, -0.124},  {-50, -0.119}, {-1, -0.117},    {0, 0.0},      {1, 0.126},     {50, 0.14},
    {100, 0.140625}, {650, 0.365},  {700, 0.412},    {750, 0.5},    {800, 0.6046},  {850, 0.8203},
    {900, 1.125},    {950, 2.25},   {1000, 9.0},
};

double _SharpenCoefficient(int32_t level) {
    if (level == -1000) {
        return -1.0;
    }
    for (int i = 1; i < 21; ++i) {
        const KTableEntry& point = KTable[i];
        if (point.level == level) {
            return point.coefficient;
        }
        if (point.level > level) {
            const KTableEntry& prev = KTable[i - 1];
            return static_cast<double>(level - prev.level) *
                       (point.coefficient - prev.coefficient) /
                       static_cast<double>(point.level - prev.level) +
                   prev.coefficient;
        }
    }
    return KTable[20].coefficient;
}

namespace {

// Truncates toward zero, then clamps: 255 when at least 255, 0 when at most 0.
// The sums stay within -2295 ... 2295, so the conversion is always defined.
inline uint8_t ToByte(double sum) {
    const int32_t t = static_cast<int32_t>(sum);
    return static_cast<uint8_t>(t >= 255 ? 255 : (t <= 0 ? 0 : t));
}

// One output byte at a row end, from explicit neighbour positions.
inline uint8_t EdgeByte(const double* up, const double* mid, const double* centre,
                        const double* down, size_t l, size_t c, size_t r) {
    double sum = up[l];
    sum += up[c];
    sum += up[r];
    sum += mid[l];
    sum += centre[c];
    sum += mid[r];
    sum += down[l];
    sum += down[c];
    sum += down[r];
    return ToByte(sum);
}

// One output row from the weighted rows: up, mid and down hold every byte of
// their rows multiplied by the neighbour weight, centre the middle row
// multiplied by the centre weight (the same products the sum would form).
NVK_PIXEL_LOOP void SharpenRow(const double* __restrict up, const double* __restrict mid,
                               const double* __restrict centre, const double* __restrict down,
                               uint8_t* __restrict out, size_t width) {
    const size_t last = 3 * (width - 1);
    for (size_t c = 0; c < 3; ++c) {
        out[c] = EdgeByte(up, mid, centre, down, c, c, width > 1 ? c + 3 : c);
    }
    for (size_t j = 3; j < last; ++j) {
        double sum = up[j - 3];
        sum += up[j];
        sum += up[j + 3];
        sum += mid[j - 3];
        sum += centre[j];
        sum += mid[j + 3];
        sum += down[j - 3];
        sum += down[j];
        sum += down[j + 3];
        out[j] = ToByte(sum);
    }
    if (width > 1) {
        for (size_t c = last; c < last + 3; ++c) {
            out[c] = EdgeByte(up, mid, centre, down, c - 3, c, c);
        }
    }
}

NVK_PIXEL_LOOP void Weigh(const uint8_t* __restrict in, double* __restrict out, size_t n,
                          double weight) {
    for (size_t j = 0; j < n; ++j) {
        out[j] = weight * in[j];
    }
}

}  // namespace

namespace nvk {

SharpenWeights SharpenWeightsFor(int32_t level) {
    const double b = _SharpenCoefficient(level);
    return {b * 8 / 9 + 1, b / -9};
}

void SharpenRows(uint8_t* data, size_t stride, int32_t width, int32_t height,
                 SharpenWeights weights, int32_t first, int32_t end, const uint8_t* above,
                 const uint8_t* below, double* scratch, RowSink sink) {
    if (first >= end || width <= 0) {
        return;
    }
    // The working copy: the rows still needed, already multiplied by their
    // weights. Output row y needs source rows y-1, y and y+1 only, and row y
    // is overwritten after row y+1 has been taken, so four weighted rows (the
    // neighbour rows y-1, y, y+1 and the centre row y) stand for the whole
    // copy. The rows next to the band come from above and below.
    const size_t n = 3 * static_cast<size_t>(width);
    double* ring[3] = {scratch, scratch + n, scratch + 2 * n};
    double* centre = scratch + 3 * n;
    const double edgeWeight = weights.edge;
    const double centreWeight = weights.centre;

    if (first > 0) {
        Weigh(above, ring[0], n, edgeWeight);
    }
    Weigh(data + static_cast<size_t>(first) * stride, ring[1], n, edgeWeight);
    for (int32_t y = first; y < end; ++y) {
        // ring[0] = row y-1, ring[1] = row y, ring[2] = row y+1 (weighted).
        const double* up = y == 0 ? ring[1] : ring[0];
        const double* down = ring[1];
        if (y + 1 < height) {
            const uint8_t* next =
                y + 1 < end ? data + static_cast<size_t>(y + 1) * stride : below;
            Weigh(next, ring[2], n, edgeWeight);
            down = ring[2];
        }
        uint8_t* row = data + static_cast<size_t>(y) * stride;
        Weigh(row, centre, n, centreWeight);
        SharpenRow(up, ring[1], centre, down, row, static_cast<size_t>(width));
        if (sink.done != nullptr) {
            sink.done(sink.context, row, y);
        }
        double* oldest = ring[0];
        ring[0] = ring[1];
        ring[1] = ring[2];
        ring[2] = oldest;
    }
}

}  // namespace nvk

int IL_SharpenBitmap(_tagBITMAPHANDLE* bitmap, int32_t level) {
    if (bitmap == nullptr || bitmap->data == nullptr) {
        return kILErrNoBitmap;
    }
    if (bitmap->bitsPerPixel != 24 || level < -1000 || level > 1000 || bitmap->colorOrder > 1) {
        return kILErrInvalidParameter;
    }
    if (!nvk::GeometryFits(*bitmap, 3)) {
        return kILErrInvalidParameter;
    }
    if (bitmap->height == 0 || bitmap->width == 0) {
        return kILSuccess;
    }
    nvk::GlobalBlock work(nvk::SharpenRowsScratch(bitmap->width) * sizeof(double));
    if (work.Data() == nullptr) {
        return kILErrNoMemory;
    }
    nvk::SharpenRows(bitmap->data, static_cast<size_t>(bitmap->bytesPerLine), bitmap->width,
                     bitmap->height, nvk::SharpenWeightsFor(level), 0, bitmap->height, nullptr,
                     nullptr, reinterpret_cast<double*>(work.Data()));
    return kILSuccess;
}
