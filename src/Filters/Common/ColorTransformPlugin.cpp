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
// ov-480 profile: its tone curve's toe makes the darkest greys one flat
// step, which LittleCMS calls degenerate) the grid alone, with
// "TetrahedralInterp16" (cmsintrp.c). Either way every pixel goes through
// formatters called by pointer, a one-pixel cache, and (PrelinEval8) the
// choice of the tetrahedron once per output channel. The plug-in lets
// LittleCMS optimise the pipeline exactly as it would, reads the curves and
// the grid it made, and evaluates the same integer formula once per pixel.
// It checks its result against LittleCMS's evaluation of the very pipeline
// before it takes over, and leaves anything else to LittleCMS.
#include <lcms2.h>
#include <lcms2_plugin.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ColorTransform.h"

// Exported by LittleCMS for its plug-ins (its own fast_float plug-in declares
// it the same way); not in its public headers.
extern "C" cmsBool _cmsOptimizePipeline(cmsContext ContextID, cmsPipeline** Lut,
                                        cmsUInt32Number Intent, cmsUInt32Number* InputFormat,
                                        cmsUInt32Number* OutputFormat, cmsUInt32Number* dwFlags);

namespace {

// What the transform's creator tells the factory (the context's user data).
struct Request {
    cmsUInt32Number intent;  // the last profile's intent, as LittleCMS passes it on
    bool taken = false;      // set when the plug-in evaluates the transform
};

// The pre-computed tables of LittleCMS's PrelinOpt8alloc and the grid.
// Where a fraction is 0 the step along its axis is not taken (PrelinEval8;
// TetrahedralInterp16 takes it unless at the grid's end, but multiplies its
// difference by the fraction 0, so either gives the same sum).
struct Tetrahedral {
    int32_t x0[256], y0[256], z0[256];  // grid offsets of the lower node per input byte
    int32_t rx[256], ry[256], rz[256];  // the fractions (16 bits)
    int32_t dx, dy, dz;                 // offsets of one step along each axis
    std::vector<uint16_t> table;        // the grid, three outputs per node
};

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

// One pixel: PrelinEval8's formula. Its six tetrahedra all walk from the
// lower node to the upper one, one axis at a time, largest fraction first;
// the difference along each step is multiplied by that axis's fraction. Where
// fractions are equal the order of their steps does not change the sum (the
// differences add up to the same one, in modular integer arithmetic as in
// LittleCMS), so the walk is chosen here without branches on the order.
inline void Evaluate(const Tetrahedral& t, uint8_t r, uint8_t g, uint8_t b, uint16_t out[3]) {
    const int32_t rx = t.rx[r];
    const int32_t ry = t.ry[g];
    const int32_t rz = t.rz[b];
    const int32_t base = t.x0[r] + t.y0[g] + t.z0[b];
    const int32_t sx = rx == 0 ? 0 : t.dx;
    const int32_t sy = ry == 0 ? 0 : t.dy;
    const int32_t sz = rz == 0 ? 0 : t.dz;
    // The first step goes along the largest fraction, the last along the
    // smallest.
    int32_t first, last, fBig, fMid, fSmall;
    if (rx >= ry) {
        if (ry >= rz) {
            first = sx, last = sz, fBig = rx, fMid = ry, fSmall = rz;
        } else if (rx >= rz) {
            first = sx, last = sy, fBig = rx, fMid = rz, fSmall = ry;
        } else {
            first = sz, last = sy, fBig = rz, fMid = rx, fSmall = ry;
        }
    } else {
        if (rx >= rz) {
            first = sy, last = sz, fBig = ry, fMid = rx, fSmall = rz;
        } else if (ry >= rz) {
            first = sy, last = sx, fBig = ry, fMid = rz, fSmall = rx;
        } else {
            first = sz, last = sx, fBig = rz, fMid = ry, fSmall = rx;
        }
    }
    const uint16_t* v0 = t.table.data() + base;
    const uint16_t* v1 = v0 + first;
    const uint16_t* v3 = v0 + sx + sy + sz;
    const uint16_t* v2 = v3 - last;
    for (int c = 0; c < 3; ++c) {
        const int32_t c0 = v0[c];
        const uint32_t c1 = static_cast<uint32_t>(v1[c] - c0);
        const uint32_t c2 = static_cast<uint32_t>(v2[c] - v1[c]);
        const uint32_t c3 = static_cast<uint32_t>(v3[c] - v2[c]);
        const uint32_t rest = c1 * static_cast<uint32_t>(fBig) +
                              c2 * static_cast<uint32_t>(fMid) +
                              c3 * static_cast<uint32_t>(fSmall) + 0x8001u;
        const auto signedRest = static_cast<int32_t>(rest);
        const auto sum = static_cast<int32_t>(rest + static_cast<uint32_t>(signedRest >> 16));
        out[c] = static_cast<uint16_t>(c0 + (sum >> 16));
    }
}

void Transform(struct _cmstransform_struct* cargo, const void* inBuffer, void* outBuffer,
               cmsUInt32Number pixels, cmsUInt32Number lines, const cmsStride* stride) {
    const auto& t = *static_cast<const Tetrahedral*>(_cmsGetTransformUserData(cargo));
    for (cmsUInt32Number y = 0; y < lines; ++y) {
        const auto* in = static_cast<const uint8_t*>(inBuffer) + size_t{y} * stride->BytesPerLineIn;
        auto* out = static_cast<uint8_t*>(outBuffer) + size_t{y} * stride->BytesPerLineOut;
        for (cmsUInt32Number x = 0; x < pixels; ++x, in += 3, out += 3) {
            uint16_t v[3];
            Evaluate(t, in[0], in[1], in[2], v);
            // Each pixel is read whole before it is written: in place works.
            out[0] = From16To8(v[0]);
            out[1] = From16To8(v[1]);
            out[2] = From16To8(v[2]);
        }
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
    t->dx = static_cast<int32_t>(p.opta[2]);
    t->dy = static_cast<int32_t>(p.opta[1]);
    t->dz = static_cast<int32_t>(p.opta[0]);
    // With curves (LittleCMS's PrelinEval8) each byte goes through its
    // channel's curve; a grid alone (its TetrahedralInterp16) takes the
    // widened byte itself. Both then find the node and the fraction alike.
    cmsToneCurve* const* g = curveData != nullptr ? curveData->TheCurves : nullptr;
    for (int i = 0; i < 256; ++i) {
        const uint16_t in = From8To16(static_cast<uint32_t>(i));
        uint16_t input[3] = {in, in, in};
        if (g != nullptr) {
            for (int c = 0; c < 3; ++c) {
                input[c] = cmsEvalToneCurve16(g[c], in);
            }
        }
        const int32_t v1 = ToFixedDomain(static_cast<int32_t>(input[0] * p.Domain[0]));
        const int32_t v2 = ToFixedDomain(static_cast<int32_t>(input[1] * p.Domain[1]));
        const int32_t v3 = ToFixedDomain(static_cast<int32_t>(input[2] * p.Domain[2]));
        t->x0[i] = static_cast<int32_t>(p.opta[2]) * (v1 >> 16);
        t->y0[i] = static_cast<int32_t>(p.opta[1]) * (v2 >> 16);
        t->z0[i] = static_cast<int32_t>(p.opta[0]) * (v3 >> 16);
        t->rx[i] = v1 & 0xFFFF;
        t->ry[i] = v2 & 0xFFFF;
        t->rz[i] = v3 & 0xFFFF;
    }
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
    *userData = tables.release();
    *freeData = FreeTetrahedral;
    request->taken = true;
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
    page->m_fast = request->taken;
    return page;
}
