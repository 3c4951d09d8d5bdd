// Gamma, intensity and contrast: each builds a 256-entry table and applies it
// to bytes 0, 1 and 2 of a plane's palette, never to the pixels, so the cost
// does not depend on the image size and successive tables compose.
#include <cmath>

#include "NvkImgLib.h"

namespace {

constexpr int32_t kMinValue = -1000;
constexpr int32_t kMaxValue = 1000;

uint8_t Saturate(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The checks shared by the three table operations; 1 when the plane may be changed.
int CheckPlane(const _tagBITMAPHANDLE* plane) {
    if (plane == nullptr) {
        return kILErrNullBitmap;
    }
    if (plane->data == nullptr || plane->bitsPerPixel != 8 || plane->colors != 256 ||
        plane->palette == nullptr) {
        return kILErrInvalidParameter;
    }
    return kILSuccess;
}

void ApplyTable(_tagBITMAPHANDLE* plane, const uint8_t* table) {
    uint8_t* entry = plane->palette;
    for (int i = 0; i < 256; ++i, entry += 4) {
        entry[2] = table[entry[2]];
        entry[1] = table[entry[1]];
        entry[0] = table[entry[0]];
    }
}

}  // namespace

void ConvertLUT8(_tagBITMAPHANDLE* bitmap, const uint8_t* table) {
    if (bitmap == nullptr || bitmap->palette == nullptr || table == nullptr) {
        return;
    }
    // Palettes of this library hold 256 entries; a larger count would reach
    // past the block.
    const uint32_t count = bitmap->colors < 256 ? bitmap->colors : 256;
    uint8_t* entry = bitmap->palette;
    for (uint32_t i = 0; i < count; ++i, entry += 4) {
        entry[2] = table[entry[2]];
        entry[1] = table[entry[1]];
        entry[0] = table[entry[0]];
    }
}

int IL_GammaCorrectBitmap(_tagBITMAPHANDLE* plane, uint32_t gamma) {
    const int check = CheckPlane(plane);
    if (check != kILSuccess) {
        return check;
    }
    if (gamma == 0) {
        return kILErrInvalidParameter;
    }
    const double exponent = 100.0 / gamma;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
        // In 0 ... 255.5, so the conversion is always defined.
        const double v = 255.0 * std::pow(i / 255.0, exponent) + 0.5;
        table[i] = Saturate(static_cast<int32_t>(v));
    }
    ApplyTable(plane, table);
    return kILSuccess;
}

int IL_ChangeBitmapIntensity(_tagBITMAPHANDLE* plane, int32_t value) {
    const int check = CheckPlane(plane);
    if (check != kILSuccess) {
        return check;
    }
    if (value < kMinValue || value > kMaxValue) {
        return kILErrInvalidParameter;
    }
    const double raw = 0.2545 * value + 0.4286;
    const int32_t d = static_cast<int32_t>(value >= 0 ? raw + 0.5 : raw - 0.5);
    uint8_t table[256];
    for (int32_t i = 0; i < 256; ++i) {
        table[i] = Saturate(i + d);
    }
    ApplyTable(plane, table);
    return kILSuccess;
}

int IL_ChangeBitmapContrast(_tagBITMAPHANDLE* plane, int32_t value) {
    const int check = CheckPlane(plane);
    if (check != kILSuccess) {
        return check;
    }
    if (value < kMinValue || value > kMaxValue) {
        return kILErrInvalidParameter;
    }
    // The pivot is 64: input 64 always stays 64.
    const double factor = std::exp(0.0007 * value);
    uint8_t table[256];
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t t = static_cast<int32_t>((i - 64) * factor);
        table[i] = Saturate(t + 64);
    }
    ApplyTable(plane, table);
    return kILSuccess;
}
