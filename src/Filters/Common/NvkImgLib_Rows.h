// Row ranges of the bitmap library's pixel operations, for callers that split
// a page into bands of rows and work on several bands at once (the filter's
// image side runs them on its worker threads). Every function gives, for the
// rows it covers, exactly the bytes of the whole-bitmap operation: the same
// products and sums in the same order. Like the rest of the library they keep
// no state; a band touches only its own output rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "NvkImgLib.h"

namespace nvk {

// ---- Resampling (IL_SizeBitmap) ----------------------------------------

// The four taps of one output position: source indices (out-of-range taps
// already replaced by the truncated position) and their weights.
struct Taps {
    int32_t index[4];
    double weight[4];
};

// Taps of output position i when srcLength samples become newLength.
Taps TapsFor(int32_t srcLength, int32_t newLength, int32_t i);

// Doubles of working memory SizeRows needs for a source of srcWidth pixels
// resampled to newWidth (its ring of horizontal sums and one source row).
size_t SizeRowsScratch(int32_t srcWidth, int32_t srcHeight, int32_t newWidth);

// Output rows first ... end - 1 of IL_SizeBitmap(src, newWidth, newHeight):
// row y's 3 x newWidth bytes go to out + (y - first) x outStride. xTaps holds
// TapsFor(src.width, newWidth, x) for every column x; scratch holds
// SizeRowsScratch(...) doubles. src must be a valid 24-bit bitmap.
void SizeRows(const _tagBITMAPHANDLE& src, int32_t newWidth, int32_t newHeight,
              const Taps* xTaps, int32_t first, int32_t end, uint8_t* out, size_t outStride,
              double* scratch);

// ---- Sharpening (IL_SharpenBitmap) -------------------------------------

// The two kernel weights of a level of -1000 ... 1000.
struct SharpenWeights {
    double centre;
    double edge;
};
SharpenWeights SharpenWeightsFor(int32_t level);

// Doubles of working memory SharpenRows needs for rows of width pixels.
inline size_t SharpenRowsScratch(int32_t width) {
    return 4 * 3 * static_cast<size_t>(width);
}

// Called with each output row as soon as it is final (the sharpening no
// longer reads it), e.g. to go on with that row.
struct RowSink {
    void (*done)(void* context, uint8_t* row, int32_t y);
    void* context;
};

// Sharpens rows first ... end - 1 of a 24-bit bitmap of width x height
// pixels (rows stride bytes apart) in place, as IL_SharpenBitmap does for
// the whole bitmap. above holds the original bytes of row first - 1 (unused
// when first is 0) and below those of row end (unused when end is height):
// the neighbouring bands may already have changed theirs. scratch holds
// SharpenRowsScratch(width) doubles. Padding bytes are not touched.
void SharpenRows(uint8_t* data, size_t stride, int32_t width, int32_t height,
                 SharpenWeights weights, int32_t first, int32_t end, const uint8_t* above,
                 const uint8_t* below, double* scratch, RowSink sink = {nullptr, nullptr});

// ---- Saturation (IL_ChangeBitmapSaturation) ----------------------------

// The saturation change of one value for a page, read-only once made, so
// that several threads may use one plan.
class SaturationPlan;

// Makes the plan of a value of -1000 ... 1000 for a page of the given number
// of pixels (tables for a page of many pixels, as IL_ChangeBitmapSaturation
// builds them). Null when its memory cannot be had; release with Release().
const SaturationPlan* MakeSaturation(int32_t value, uint64_t pixels);
// Whether a page of that many pixels gets tables.
bool SaturationUsesTables(uint64_t pixels);
void Release(const SaturationPlan* plan);

// Changes width pixels of one row as IL_ChangeBitmapSaturation does; ri and
// bi are the byte positions of red and blue (0 and 2, or 2 and 0).
void SaturateRow(const SaturationPlan* plan, uint8_t* row, size_t width, size_t ri, size_t bi);

// ---- Planes and tables -------------------------------------------------

// Bytes 0, 1 and 2 of count pixels into three planes (a byte shuffle).
void SeparateRow(const uint8_t* in, size_t count, uint8_t* out0, uint8_t* out1, uint8_t* out2);

// Replaces byte c of each of count pixels by tables[c][byte].
void MapRow(uint8_t* row, size_t count, const uint8_t (&tables)[3][256]);

}  // namespace nvk
