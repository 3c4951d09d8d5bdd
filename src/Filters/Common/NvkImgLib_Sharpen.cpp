// Sharpening and softening with a 3 x 3 kernel whose weights sum to 1.
//
// Every output byte is computed from a working copy of the whole bitmap, with
// the nine products added in memory order (row above left to right, the row
// itself, the row below), then truncated and clamped. The interior of each
// row is one loop without branches over its bytes; only the first and last
// pixel of a row repeat the edge.
#include <cstring>

#include "NvkImgLib.h"
#include "NvkImgLib_Private.h"

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

// One output byte from explicit sample positions (used at the row ends).
inline uint8_t Pixel(const uint8_t* up, const uint8_t* mid, const uint8_t* down, size_t l, size_t c,
                     size_t r, double edge, double centre) {
    double sum = edge * up[l];
    sum += edge * up[c];
    sum += edge * up[r];
    sum += edge * mid[l];
    sum += centre * mid[c];
    sum += edge * mid[r];
    sum += edge * down[l];
    sum += edge * down[c];
    sum += edge * down[r];
    return ToByte(sum);
}

void SharpenRow(const uint8_t* __restrict up, const uint8_t* __restrict mid,
                const uint8_t* __restrict down, uint8_t* __restrict out, size_t width, double edge,
                double centre) {
    const size_t last = 3 * (width - 1);
    for (size_t c = 0; c < 3; ++c) {
        const size_t right = width > 1 ? c + 3 : c;
        out[c] = Pixel(up, mid, down, c, c, right, edge, centre);
    }
    for (size_t j = 3; j < last; ++j) {
        double sum = edge * up[j - 3];
        sum += edge * up[j];
        sum += edge * up[j + 3];
        sum += edge * mid[j - 3];
        sum += centre * mid[j];
        sum += edge * mid[j + 3];
        sum += edge * down[j - 3];
        sum += edge * down[j];
        sum += edge * down[j + 3];
        out[j] = ToByte(sum);
    }
    if (width > 1) {
        for (size_t c = last; c < last + 3; ++c) {
            out[c] = Pixel(up, mid, down, c - 3, c, c, edge, centre);
        }
    }
}

}  // namespace

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
    const double b = _SharpenCoefficient(level);
    const double centre = b * 8 / 9 + 1;
    const double edge = b / -9;

    // The working copy covers the rows as far as the record describes them.
    const size_t stride = static_cast<size_t>(bitmap->bytesPerLine);
    const size_t rowBytes = 3 * static_cast<size_t>(bitmap->width);
    const size_t height = static_cast<size_t>(bitmap->height);
    const size_t copySize = (height - 1) * stride + rowBytes;
    nvk::GlobalBlock copy(copySize);
    if (copy.Data() == nullptr) {
        return kILErrNoMemory;
    }
    CopyMemory(copy.Data(), bitmap->data, copySize);

    const uint8_t* in = copy.Data();
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* mid = in + y * stride;
        const uint8_t* up = y == 0 ? mid : mid - stride;
        const uint8_t* down = y + 1 == height ? mid : mid + stride;
        SharpenRow(up, mid, down, bitmap->data + y * stride, bitmap->width, edge, centre);
    }
    return kILSuccess;
}
