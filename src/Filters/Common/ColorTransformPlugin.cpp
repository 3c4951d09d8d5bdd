// The page transform's pixel loop: a LittleCMS transform plug-in that
// computes exactly what LittleCMS's own 8-bit path computes, faster.
//
// For 8-bit RGB in and out and a pipeline that ends in a lookup table (both
// package profiles), LittleCMS resamples the whole chain into a 33-point
// 16-bit grid, evaluated per pixel by tetrahedral interpolation in fixed
// point, with each byte widened to 16 bits on the way in and narrowed on the
// way out. Where the grey axis of the chain gives usable curves (the M480
// profile) it puts pre-linearisation curves in front of the grid and
// evaluates both with "PrelinEval8" (cmsopt.c); where it does not (the
// ov-480 profile: its header intent, relative colorimetric without black
// point compensation, clips the darkest 8 % of sRGB's greys to full dye, a
// flat run that LittleCMS calls degenerate) the grid alone, with
// "TetrahedralInterp16" (cmsintrp.c). Either way every pixel goes through
// formatters called by pointer, a one-pixel cache, and (PrelinEval8) the
// choice of the tetrahedron once per output channel. The plug-in lets
// LittleCMS optimise the pipeline exactly as it would, reads the curves and
// the grid it made, and evaluates the same integer formula once per pixel.
// It checks its result against LittleCMS's evaluation of the very pipeline
// before it takes over, and leaves anything else to LittleCMS.
#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "ColorTransform.h"

// Exported by LittleCMS for its plug-ins (its own fast_float plug-in declares
// it the same way); not in its public headers.
extern "C" cmsBool _cmsOptimizePipeline(cmsContext ContextID, cmsPipeline** Lut,
                                        cmsUInt32Number Intent, cmsUInt32Number* InputFormat,
                                        cmsUInt32Number* OutputFormat, cmsUInt32Number* dwFlags);

namespace {

// What the transform's creator tells the factory (the context's user data).
struct Tetrahedral;
struct Request {
    cmsUInt32Number intent;  // the last profile's intent, as LittleCMS passes it on
    // Set when the plug-in evaluates the transform: its tables (owned by
    // the transform).
    const Tetrahedral* taken = nullptr;
};

// The pre-computed tables of LittleCMS's PrelinOpt8alloc and the grid.
// Where a fraction is 0 the step along its axis is not taken (PrelinEval8;
// TetrahedralInterp16 takes it unless at the grid's end, but multiplies its
// difference by the fraction 0, so either gives the same sum).
struct Tetrahedral {
    struct Axis {
        int32_t offset;    // grid offset of the lower node
        int32_t fraction;  // 16 bits
        int32_t step;      // offset of a step to the upper node; 0 for fraction 0
        int32_t unused;
    };
    Axis axis[3][256];             // per input byte of red, green, blue
    std::vector<uint16_t> table;   // the grid, three outputs per node, and one spare
    uint8_t identity[3][256];      // the byte tables of a plain transform
    // A row: pixels converted, byte c then through map[c].
    void (*row)(const Tetrahedral&, const uint8_t* in, uint8_t* out, size_t pixels,
                const uint8_t (*map)[256]);
};

// Three bytes of a pixel as one number (a fourth byte never matches).
inline uint32_t Key(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}
constexpr uint32_t kNoPixel = 0xFF000000u;

// LittleCMS's macros (lcms2_internal.h).
inline uint16_t From8To16(uint32_t v) {
    return static_cast<uint16_t>((v << 8) | v);
}
inline uint8_t From16To8(uint32_t v) {
    return static_cast<uint8_t>(((v * 65281u + 8388608u) >> 24) & 0xFFu);
}
inline int32_t ToFixedDomain(int32_t a) {
    return a + ((a + 0x7fff) / 0xffff);
}

// The walk through one pixel's tetrahedron. LittleCMS's six tetrahedra all
// go from the lower node to the upper one, one axis at a time, largest
// fraction first; the difference along each step is multiplied by that
// axis's fraction. Where fractions are equal the order of their steps does
// not change the sum (the differences add up to the same one, in modular
// integer arithmetic as in LittleCMS), so the walk is chosen here without
// LittleCMS's chain of tests.
struct Walk {
    int32_t base;      // lower node
    int32_t first;     // offset of the first step
    int32_t allSteps;  // offset of the upper node
    int32_t last;      // offset of the last step
    int32_t big, mid, small;  // the fractions in the order of the steps
};

inline Walk WalkOf(const Tetrahedral& t, uint8_t r, uint8_t g, uint8_t b) {
    const Tetrahedral::Axis ax = t.axis[0][r];
    const Tetrahedral::Axis ay = t.axis[1][g];
    const Tetrahedral::Axis az = t.axis[2][b];
    const int32_t rx = ax.fraction, ry = ay.fraction, rz = az.fraction;
    const int32_t sx = ax.step, sy = ay.step, sz = az.step;
    Walk w;
    w.base = ax.offset + ay.offset + az.offset;
    w.big = std::max(rx, std::max(ry, rz));
    w.small = std::min(rx, std::min(ry, rz));
    w.mid = rx + ry + rz - w.big - w.small;
    // The largest fraction's axis first (x before y before z among equals),
    // the smallest's last (z before y before x): never the same axis.
    w.first = rx == w.big ? sx : (ry == w.big ? sy : sz);
    w.last = rz == w.small ? sz : (ry == w.small ? sy : sx);
    w.allSteps = sx + sy + sz;
    return w;
}

// One output channel: PrelinEval8's and TetrahedralInterp16's formula.
inline uint16_t Channel(int32_t c0, int32_t c1v, int32_t c2v, int32_t c3v, const Walk& w) {
    const uint32_t rest = static_cast<uint32_t>(c1v - c0) * static_cast<uint32_t>(w.big) +
                          static_cast<uint32_t>(c2v - c1v) * static_cast<uint32_t>(w.mid) +
                          static_cast<uint32_t>(c3v - c2v) * static_cast<uint32_t>(w.small) +
                          0x8001u;
    const auto signedRest = static_cast<int32_t>(rest);
    const auto sum = static_cast<int32_t>(rest + static_cast<uint32_t>(signedRest >> 16));
    return static_cast<uint16_t>(c0 + (sum >> 16));
}

inline void Evaluate(const Tetrahedral& t, uint8_t r, uint8_t g, uint8_t b, uint16_t out[3]) {
    const Walk w = WalkOf(t, r, g, b);
    const uint16_t* v0 = t.table.data() + w.base;
    const uint16_t* v1 = v0 + w.first;
    const uint16_t* v3 = v0 + w.allSteps;
    const uint16_t* v2 = v3 - w.last;
    for (int c = 0; c < 3; ++c) {
        out[c] = Channel(v0[c], v1[c], v2[c], v3[c], w);
    }
}

// A row of pixels, each read whole before it is written (in place works).
// A pixel equal to the one before it takes that one's result, as
// LittleCMS's one-pixel cache does: the same bytes without the work.
void PlainRow(const Tetrahedral& t, const uint8_t* in, uint8_t* out, size_t pixels,
              const uint8_t (*map)[256]) {
    uint32_t last = kNoPixel;
    uint8_t result[3] = {0, 0, 0};
    for (size_t x = 0; x < pixels; ++x, in += 3, out += 3) {
        const uint32_t key = Key(in);
        if (key != last) {
            uint16_t v[3];
            Evaluate(t, in[0], in[1], in[2], v);
            last = key;
            for (int c = 0; c < 3; ++c) {
                result[c] = map[c][From16To8(v[c])];
            }
        }
        out[0] = result[0];
        out[1] = result[1];
        out[2] = result[2];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four 16-bit entries from a node: its three outputs and one more (the next
// node's first, or the spare entry), unused.
__attribute__((target("sse4.1"))) inline __m128i Node(const uint16_t* p) {
    return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// The same with the three channels side by side in vector lanes: the lanes
// hold the same 32-bit products, sums and shifts as the scalar formula.
__attribute__((target("sse4.1"))) void VectorRow(const Tetrahedral& t, const uint8_t* in,
                                                  uint8_t* out, size_t pixels,
                                                  const uint8_t (*map)[256]) {
    const uint16_t* table = t.table.data();
    const __m128i rounding = _mm_set1_epi32(0x8001);
    const __m128i low16 = _mm_set1_epi32(0xFFFF);
    const __m128i narrow = _mm_set1_epi32(65281);
    const __m128i half = _mm_set1_epi32(8388608);
    uint32_t last = kNoPixel;
    uint8_t result[3] = {0, 0, 0};
    for (size_t x = 0; x < pixels; ++x, in += 3, out += 3) {
        const uint32_t key = Key(in);
        if (key != last) {
            last = key;
            const Walk w = WalkOf(t, in[0], in[1], in[2]);
            const uint16_t* v0 = table + w.base;
            const uint16_t* v3 = v0 + w.allSteps;
            const __m128i c0 = Node(v0);
            const __m128i c1 = Node(v0 + w.first);
            const __m128i c2 = Node(v3 - w.last);
            const __m128i c3 = Node(v3);
            __m128i rest = _mm_mullo_epi32(_mm_sub_epi32(c1, c0), _mm_set1_epi32(w.big));
            rest = _mm_add_epi32(rest,
                                 _mm_mullo_epi32(_mm_sub_epi32(c2, c1), _mm_set1_epi32(w.mid)));
            rest = _mm_add_epi32(
                rest, _mm_mullo_epi32(_mm_sub_epi32(c3, c2), _mm_set1_epi32(w.small)));
            rest = _mm_add_epi32(rest, rounding);
            const __m128i sum = _mm_add_epi32(rest, _mm_srai_epi32(rest, 16));
            __m128i v = _mm_and_si128(_mm_add_epi32(c0, _mm_srai_epi32(sum, 16)), low16);
            // From16To8 on each lane.
            v = _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi32(v, narrow), half), 24);
            const uint32_t bytes = static_cast<uint32_t>(
                _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packus_epi32(v, v), v)));
            result[0] = map[0][bytes & 0xFF];
            result[1] = map[1][(bytes >> 8) & 0xFF];
            result[2] = map[2][(bytes >> 16) & 0xFF];
        }
        out[0] = result[0];
        out[1] = result[1];
        out[2] = result[2];
    }
}
#endif

void Transform(struct _cmstransform_struct* cargo, const void* inBuffer, void* outBuffer,
               cmsUInt32Number pixels, cmsUInt32Number lines, const cmsStride* stride) {
    const auto& t = *static_cast<const Tetrahedral*>(_cmsGetTransformUserData(cargo));
    for (cmsUInt32Number y = 0; y < lines; ++y) {
        t.row(t, static_cast<const uint8_t*>(inBuffer) + size_t{y} * stride->BytesPerLineIn,
              static_cast<uint8_t*>(outBuffer) + size_t{y} * stride->BytesPerLineOut, pixels,
              t.identity);
    }
}

void FreeTetrahedral(cmsContext, void* data) {
    delete static_cast<Tetrahedral*>(data);
}

// Builds the tables from an optimised pipeline of curves and a grid, or of a
// grid alone; null when the pipeline is of another form.
std::unique_ptr<Tetrahedral> TablesOf(const cmsPipeline* lut) {
    cmsStage* curves = nullptr;
    cmsStage* grid = nullptr;
    if (!cmsPipelineCheckAndRetreiveStages(lut, 2, cmsSigCurveSetElemType, cmsSigCLutElemType,
                                           &curves, &grid) &&
        !cmsPipelineCheckAndRetreiveStages(lut, 1, cmsSigCLutElemType, &grid)) {
        return nullptr;
    }
    const auto* curveData =
        curves != nullptr ? static_cast<const _cmsStageToneCurvesData*>(cmsStageData(curves))
                          : nullptr;
    if (curves != nullptr && (curveData == nullptr || curveData->nCurves != 3)) {
        return nullptr;
    }
    const auto* gridData = static_cast<const _cmsStageCLutData*>(cmsStageData(grid));
    if (gridData == nullptr || gridData->HasFloatValues || gridData->Tab.T == nullptr || gridData->Params == nullptr) {
        return nullptr;
    }
    const cmsInterpParams& p = *gridData->Params;
    if (p.nInputs != 3 || p.nOutputs != 3 || p.opta[0] != 3) {
        return nullptr;
    }
    const uint64_t entries = uint64_t{p.nSamples[0]} * p.nSamples[1] * p.nSamples[2] * 3;
    if (entries != gridData->nEntries || p.opta[1] != 3 * p.nSamples[2] ||
        p.opta[2] != p.opta[1] * p.nSamples[1]) {
        return nullptr;
    }
    auto t = std::make_unique<Tetrahedral>();
    t->table.assign(gridData->Tab.T, gridData->Tab.T + entries);
    t->table.push_back(0);  // the spare entry of a four-lane load at the end
    // With curves (LittleCMS's PrelinEval8) each byte goes through its
    // channel's curve; a grid alone (its TetrahedralInterp16) takes the
    // widened byte itself. Both then find the node and the fraction alike.
    cmsToneCurve* const* g = curveData != nullptr ? curveData->TheCurves : nullptr;
    for (int i = 0; i < 256; ++i) {
        const uint16_t in = From8To16(static_cast<uint32_t>(i));
        for (int c = 0; c < 3; ++c) {
            const uint16_t input = g != nullptr ? cmsEvalToneCurve16(g[c], in) : in;
            const int32_t v = ToFixedDomain(static_cast<int32_t>(input * p.Domain[c]));
            // Red indexes the grid with opta[2], green opta[1], blue opta[0].
            Tetrahedral::Axis& a = t->axis[c][i];
            a.offset = static_cast<int32_t>(p.opta[2 - c]) * (v >> 16);
            a.fraction = v & 0xFFFF;
            a.step = a.fraction == 0 ? 0 : static_cast<int32_t>(p.opta[2 - c]);
            a.unused = 0;
        }
    }
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 256; ++i) {
            t->identity[c][i] = static_cast<uint8_t>(i);
        }
    }
    t->row = PlainRow;
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("sse4.1")) {
        t->row = VectorRow;
    }
#endif
    return t;
}

// Whether the tables give LittleCMS's own evaluation of the pipeline: every
// grey, every pure ramp of each channel and a lattice through the cube.
bool SameAsLittleCms(const Tetrahedral& t, const cmsPipeline* lut) {
    auto same = [&](int r, int g, int b) {
        const cmsUInt16Number in[3] = {From8To16(r), From8To16(g), From8To16(b)};
        cmsUInt16Number want[cmsMAXCHANNELS] = {};
        cmsPipelineEval16(in, want, lut);
        uint16_t got[3];
        Evaluate(t, static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b),
                 got);
        return got[0] == want[0] && got[1] == want[1] && got[2] == want[2];
    };
    for (int v = 0; v < 256; ++v) {
        if (!same(v, v, v) || !same(v, 0, 0) || !same(0, v, 0) || !same(0, 0, v)) {
            return false;
        }
    }
    for (int r = 0; r < 256; r += 15) {
        for (int g = 3; g < 256; g += 17) {
            for (int b = 7; b < 256; b += 13) {
                if (!same(r, g, b)) {
                    return false;
                }
            }
        }
    }
    return true;
}

cmsBool Factory(_cmsTransform2Fn* xform, void** userData, _cmsFreeUserDataFn* freeData,
                cmsPipeline** lut, cmsUInt32Number* inputFormat, cmsUInt32Number* outputFormat,
                cmsUInt32Number* flags) {
    if (*inputFormat != TYPE_RGB_8 || *outputFormat != TYPE_RGB_8 ||
        (*flags & (cmsFLAGS_NULLTRANSFORM | cmsFLAGS_GAMUTCHECK | cmsFLAGS_NOOPTIMIZE)) != 0) {
        return FALSE;
    }
    cmsContext context = cmsGetPipelineContextID(*lut);
    auto* request = static_cast<Request*>(cmsGetContextUserData(context));
    if (request == nullptr) {
        return FALSE;
    }
    // LittleCMS's own optimisation, on a copy: when the plug-in declines,
    // LittleCMS goes on with the untouched pipeline as it always does.
    cmsPipeline* optimised = cmsPipelineDup(*lut);
    if (optimised == nullptr) {
        return FALSE;
    }
    cmsUInt32Number in = *inputFormat;
    cmsUInt32Number out = *outputFormat;
    cmsUInt32Number newFlags = *flags;
    std::unique_ptr<Tetrahedral> tables;
    if (_cmsOptimizePipeline(context, &optimised, request->intent, &in, &out, &newFlags) &&
        in == *inputFormat && out == *outputFormat) {
        tables = TablesOf(optimised);
    }
    if (!tables || !SameAsLittleCms(*tables, optimised)) {
        cmsPipelineFree(optimised);
        return FALSE;
    }
    cmsPipelineFree(*lut);
    *lut = optimised;
    *flags = newFlags;
    *xform = Transform;
    request->taken = tables.get();
    *userData = tables.release();
    *freeData = FreeTetrahedral;
    return TRUE;
}

}  // namespace

PageTransform::~PageTransform() {
    releaseTransform(m_transform);
    if (m_context != nullptr) {
        cmsDeleteContext(m_context);
    }
    delete static_cast<Request*>(m_request);
}

std::unique_ptr<PageTransform> PageTransform::Make(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    auto page = std::unique_ptr<PageTransform>(new PageTransform);
    auto* request = new Request{INTENT_PERCEPTUAL};
    page->m_request = request;
    static cmsPluginTransform plugin = [] {
        cmsPluginTransform p{};
        p.base.Magic = cmsPluginMagicNumber;
        p.base.ExpectedVersion = 2140;
        p.base.Type = cmsPluginTransformSig;
        p.base.Next = nullptr;
        p.factories.xform = Factory;
        return p;
    }();
    page->m_context = cmsCreateContext(&plugin, request);
    // Without a context of its own (a LittleCMS that refuses the plug-in)
    // the transform is LittleCMS's.
    page->m_transform = MakeColorTransformIn(page->m_context, path, 0, &request->intent);
    if (page->m_transform == nullptr) {
        return nullptr;
    }
    page->m_fast = request->taken != nullptr;
    return page;
}

void PageTransform::Rows(uint8_t* data, int width, int first, int end, int bytesPerLine,
                         const uint8_t (*map)[256]) const {
    if (data == nullptr || width <= 0 || first >= end || bytesPerLine / 3 < width) {
        return;
    }
    const auto* t = m_request != nullptr ? static_cast<const Request*>(m_request)->taken : nullptr;
    const size_t stride = static_cast<size_t>(bytesPerLine);
    const size_t pixels = static_cast<size_t>(width);
    if (t == nullptr) {
        // LittleCMS's own pixels, then the tables.
        TransformRows(m_transform, data, width, first, end, bytesPerLine);
        for (int y = first; map != nullptr && y < end; ++y) {
            uint8_t* p = data + static_cast<size_t>(y) * stride;
            for (size_t x = 0; x < pixels; ++x, p += 3) {
                p[0] = map[0][p[0]], p[1] = map[1][p[1]], p[2] = map[2][p[2]];
            }
        }
        return;
    }
    for (int y = first; y < end; ++y) {
        uint8_t* row = data + static_cast<size_t>(y) * stride;
        t->row(*t, row, row, pixels, map != nullptr ? map : t->identity);
        std::memset(row + 3 * pixels, 0, stride - 3 * pixels);
    }
}
