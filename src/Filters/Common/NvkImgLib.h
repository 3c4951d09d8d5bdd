// The print filter's bitmap library: one plain record that describes a bitmap
// and free IL_ functions that create, release, copy, resample, separate into
// planes, merge planes and adjust tone and sharpness.
//
// Two kinds of bitmap exist: 24-bit colour bitmaps (three bytes per pixel, no
// palette) and 8-bit planes (one palette index per pixel, 256 palette entries
// of 4 bytes lying in the same block directly after the pixels). Rows lie
// bytesPerLine apart, each padded to a multiple of 4 bytes.
//
// Every function runs on the caller's thread, keeps no global state and
// returns 1 on success or one of the negative codes below. Refusals happen
// before anything is changed. Every numeric rule (truncation or rounding,
// operation order, precision) is part of the interface: the printed output
// must be the same byte for byte on every build.
#pragma once

#include <cstdint>

#include "NvkImgLib_LinuxDef.h"

// Result codes.
enum : int {
    kILSuccess = 1,
    kILErrNoMemory = -1,  // GlobalAlloc or GlobalLock gave null
    kILErrNoBitmap = -2,  // a required bitmap or its pixel data is missing
    kILErrInvalidParameter = -13,
    kILErrBitsPerPixel = -27,  // depth not supported, or a 24-bit bitmap given a palette
    kILErrRecordSize = -789,   // recordSize is not sizeof(_tagBITMAPHANDLE)
    kILErrDeepColor = -804,    // 48 or 64 bits per pixel
    kILErrNullBitmap = -814,   // tone operations: bitmap pointer null
};

// The only accepted memory kind, layout code and resampling method.
enum : uint32_t {
    kILMemoryKind = 2,
    kILLayoutCode = 4,
    kILMethodCubic = 4,
};

// The bitmap record. The caller provides it (zero-filled when empty); the
// library fills it. It owns its pixel block exactly when handle is non-null,
// and then handle and data are the same block.
struct _tagBITMAPHANDLE {
    HGLOBAL handle;        // owned block, or null when the pixels are someone else's
    uint8_t* data;         // first byte of the first row
    int32_t width;         // pixels per row
    int32_t height;        // rows
    int32_t bitsPerPixel;  // 24 or 8
    int32_t bytesPerLine;  // row stride, a multiple of 4
    uint32_t colors;       // 256 for a plane, 0 for a 24-bit bitmap
    uint8_t* palette;      // 4 bytes per entry; null for 24-bit bitmaps
    uint32_t layoutCode;   // always 4, carried from source to result
    uint32_t colorOrder;   // 24-bit: 0 = R,G,B bytes, 1 = B,G,R; planes: 0
    uint64_t dataSize;     // bytesPerLine x height
};

typedef _tagBITMAPHANDLE BITMAPHANDLE;

// Describes caller-supplied pixel memory; nothing is allocated and the memory
// is not taken over (handle stays null). Codes: -13, -789, -804, -27.
int IL_CreateBitmap(_tagBITMAPHANDLE* bitmap, uint32_t recordSize, int32_t memoryKind,
                    int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t colorOrder,
                    uint8_t* palette, uint32_t layoutCode, uint8_t* data, uint64_t dataSize);

// Releases the owned block, if any, and clears handle, data and palette.
// Null or an empty record does nothing.
void IL_FreeBitmap(_tagBITMAPHANDLE* bitmap);

// Copies pixels (and palette bytes) between two existing 24-bit bitmaps; when
// their sizes differ, the last rows of both buffers line up. Codes: -2, -13.
int IL_CopyBitmapData(_tagBITMAPHANDLE* dst, const _tagBITMAPHANDLE* src);

// Resamples a 24-bit bitmap in place by cubic convolution (method 4); the
// record then owns the new block. Codes: -13, -1.
int IL_SizeBitmap(_tagBITMAPHANDLE* bitmap, int32_t newWidth, int32_t newHeight, int32_t method);

// Splits a 24-bit bitmap into three new planes (0 = blue, 1 = green, 2 = red),
// each with an identity palette. planes points to three empty records.
// Codes: -13, -789, -1.
int IL_ColorSeparateBitmap(const _tagBITMAPHANDLE* src, _tagBITMAPHANDLE** planes,
                           uint32_t recordSize, uint32_t flags);

// Joins three planes through their palettes into a new 24-bit bitmap of
// colorOrder 1 in dst, which must be an empty record. Codes: -13, -789, -2, -1.
int IL_ColorMergeBitmap(_tagBITMAPHANDLE* dst, _tagBITMAPHANDLE* const* planes, uint32_t recordSize,
                        uint32_t flags);

// Tone operations on a plane's palette (pixels untouched). Codes: -814, -13.
int IL_GammaCorrectBitmap(_tagBITMAPHANDLE* plane, uint32_t gamma);
int IL_ChangeBitmapIntensity(_tagBITMAPHANDLE* plane, int32_t value);
int IL_ChangeBitmapContrast(_tagBITMAPHANDLE* plane, int32_t value);

// Scales the chroma of every pixel of a 24-bit bitmap by (1 + value / 1000)
// through the HSL round trip. Codes: -814, -13.
int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE* bitmap, int32_t value);

// 3 x 3 sharpening (positive level) or softening (negative level) of a 24-bit
// bitmap in place. Codes: -2, -13, -1.
int IL_SharpenBitmap(_tagBITMAPHANDLE* bitmap, int32_t level);

// Replaces bytes 2, 1 and 0 of each palette entry by table[byte]. A null
// bitmap, palette or table does nothing; at most 256 entries are touched.
void ConvertLUT8(_tagBITMAPHANDLE* bitmap, const uint8_t* table);

// RGB (0-255 each) to hue (degrees, or -1 for grey), chroma (max - min) and
// lightness ((max + min) / 2).
void RGBtoHSL(int r, int g, int b, double* h, double* s, double* l);
inline void RGBtoHSL(int r, int g, int b, double& h, double& s, double& l) {
    RGBtoHSL(r, g, b, &h, &s, &l);
}

// The reverse of RGBtoHSL; each component is truncated toward zero and its
// low 8 bits stored.
void HSLtoRGB(double h, double s, double l, uint8_t* r, uint8_t* g, uint8_t* b);
inline void HSLtoRGB(double h, double s, double l, uint8_t& r, uint8_t& g, uint8_t& b) {
    HSLtoRGB(h, s, l, &r, &g, &b);
}

// One point of the sharpening curve.
struct KTableEntry {
    int32_t level;
    double coefficient;
};

// The sharpening curve: 21 points, levels strictly increasing from -1000 to 1000.
extern const KTableEntry KTable[21];

// The sharpening coefficient for a level of -1000 ... 1000 (interpolated
// linearly between the points of KTable).
double _SharpenCoefficient(int32_t level);
