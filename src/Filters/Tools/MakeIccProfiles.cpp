// Builds the package's two ICC output profiles for the QZ-M480.
//
//   qzm480-make-icc OUTPUT_FOLDER
//
// writes M480_0100.icc and ov-480-mac-251126-5.icc into the folder. Each is a
// version 4 RGB output ('prtr') profile with a Lab connection space, made of
// lookup tables sampled from a small model of a dye-sublimation print: the
// device's RGB values (255 = no dye) go through a tone curve to linear
// reflectance, and three primaries a little less saturated than sRGB's mix
// it into colour between the paper white and a dye-limited black. The
// perceptual tables also compress lightness and chroma into that gamut; the
// colorimetric tables clip. The two profiles differ in their primaries, tone
// curves, black point and header rendering intent.
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// One printing condition of the printer.
struct PrintModel {
    const char* fileName;
    const char* description;
    cmsUInt32Number headerIntent;
    // Chromaticities (x, y) of the red, green and blue device primaries.
    std::array<cmsCIExyY, 3> primaries;
    double gamma;       // tone curve: reflectance = ((d + toe) / (1 + toe)) ^ gamma
    double toe;         // lifts the shadows a little
    double blackY;      // luminance of full dye, relative to the paper white
    double chromaKnee;  // perceptual tables keep chroma up to here ...
    double chromaMax;   // ... and ease the rest towards this
};

const PrintModel kModels[] = {
    {"M480_0100.icc",
     "QZ-M480 Glossy 300 dpi",
     INTENT_PERCEPTUAL,
     {{{0.615, 0.330, 1.0}, {0.315, 0.555, 1.0}, {0.158, 0.085, 1.0}}},
     2.05,
     0.0,
     0.012,
     45.0,
     95.0},
    {"ov-480-mac-251126-5.icc",
     "QZ-M480 Standard",
     INTENT_RELATIVE_COLORIMETRIC,
     {{{0.600, 0.335, 1.0}, {0.322, 0.530, 1.0}, {0.162, 0.095, 1.0}}},
     2.3,
     0.035,
     0.018,
     40.0,
     90.0},
};

constexpr char kCopyright[] = "Copyright Orvane. Colour data of the QZ-M480 driver package.";
constexpr char kMaker[] = "Orvane";
constexpr char kModel[] = "QZ-M480";

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;

Vec3 Apply(const Mat3& m, const Vec3& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

bool Invert(const Mat3& m, Mat3& out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::fabs(det) < 1e-12) {
        return false;
    }
    out[0] = {(m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det,
              (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det,
              (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det};
    out[1] = {(m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det,
              (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det,
              (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det};
    out[2] = {(m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det,
              (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det,
              (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det};
    return true;
}

// The mixing matrix of the primaries, scaled so that equal device values mix
// to the D50 white of the connection space.
struct Matrices {
    Mat3 toXyz;    // linear reflectance -> relative XYZ (above black)
    Mat3 fromXyz;  // its inverse
};

bool MakeMatrices(const PrintModel& model, Matrices& out) {
    Mat3 primaries;
    for (int i = 0; i < 3; ++i) {
        const cmsCIExyY& p = model.primaries[i];
        primaries[0][i] = p.x / p.y;
        primaries[1][i] = 1.0;
        primaries[2][i] = (1.0 - p.x - p.y) / p.y;
    }
    Mat3 inverse;
    if (!Invert(primaries, inverse)) {
        return false;
    }
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    const Vec3 scale = Apply(inverse, {d50->X, d50->Y, d50->Z});
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            out.toXyz[row][col] = primaries[row][col] * scale[col];
        }
    }
    return Invert(out.toXyz, out.fromXyz);
}

// Lightness of the black of the version 4 perceptual reference medium.
constexpr double kPerceptualBlackL = 3.1373;

// Everything a sampler needs.
struct Cargo {
    const PrintModel* model;
    Matrices matrices;
    bool perceptual;
};

double ToneForward(const PrintModel& m, double d) {
    return std::pow((d + m.toe) / (1.0 + m.toe), m.gamma);
}

double ToneInverse(const PrintModel& m, double reflectance) {
    const double r = std::clamp(reflectance, 0.0, 1.0);
    const double d = std::pow(r, 1.0 / m.gamma) * (1.0 + m.toe) - m.toe;
    return std::clamp(d, 0.0, 1.0);
}

// Lightness of full dye on the paper.
double BlackLightness(const PrintModel& m) {
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    cmsCIEXYZ black = {m.blackY * d50->X, m.blackY * d50->Y, m.blackY * d50->Z};
    cmsCIELab lab;
    cmsXYZ2Lab(nullptr, &lab, &black);
    return lab.L;
}

// Device RGB (0..1) -> media-relative Lab (perceptual: on the reference medium).
cmsCIELab DeviceToLab(const Cargo& c, const double device[3]) {
    const Vec3 lin = {ToneForward(*c.model, device[0]), ToneForward(*c.model, device[1]),
                      ToneForward(*c.model, device[2])};
    const Vec3 xyz = Apply(c.matrices.toXyz, lin);
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    const double k = c.model->blackY;
    cmsCIEXYZ out = {k * d50->X + (1.0 - k) * xyz[0], k * d50->Y + (1.0 - k) * xyz[1],
                     k * d50->Z + (1.0 - k) * xyz[2]};
    cmsCIELab lab;
    cmsXYZ2Lab(nullptr, &lab, &out);
    if (c.perceptual) {
        // The print's black lies on the reference medium's black.
        const double blackL = BlackLightness(*c.model);
        lab.L =
            kPerceptualBlackL + (lab.L - blackL) * (100.0 - kPerceptualBlackL) / (100.0 - blackL);
    }
    return lab;
}

// Media-relative Lab -> device RGB (0..1); reports whether clipping was needed.
bool LabToDevice(const Cargo& c, cmsCIELab lab, double device[3]) {
    if (c.perceptual) {
        // The reference medium's lightness range onto the print's, chroma eased
        // into the gamut.
        const double blackL = BlackLightness(*c.model);
        const double l = std::clamp(lab.L, kPerceptualBlackL, 100.0);
        lab.L = blackL + (l - kPerceptualBlackL) * (100.0 - blackL) / (100.0 - kPerceptualBlackL);
        const double chroma = std::hypot(lab.a, lab.b);
        const double knee = c.model->chromaKnee;
        if (chroma > knee) {
            const double room = c.model->chromaMax - knee;
            const double eased = knee + room * std::tanh((chroma - knee) / room);
            lab.a *= eased / chroma;
            lab.b *= eased / chroma;
        }
    }
    cmsCIEXYZ xyz;
    cmsLab2XYZ(nullptr, &xyz, &lab);
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    const double k = c.model->blackY;
    const Vec3 rel = {(xyz.X - k * d50->X) / (1.0 - k), (xyz.Y - k * d50->Y) / (1.0 - k),
                      (xyz.Z - k * d50->Z) / (1.0 - k)};
    const Vec3 lin = Apply(c.matrices.fromXyz, rel);
    bool clipped = false;
    for (int i = 0; i < 3; ++i) {
        const double slack = 0.004;
        if (lin[i] < -slack || lin[i] > 1.0 + slack) {
            clipped = true;
        }
        device[i] = ToneInverse(*c.model, lin[i]);
    }
    return clipped;
}

cmsUInt16Number ToWord(double v) {
    return static_cast<cmsUInt16Number>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0));
}

int SampleDeviceToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const Cargo& c = *static_cast<const Cargo*>(cargo);
    const double device[3] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0};
    const cmsCIELab lab = DeviceToLab(c, device);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}

int SampleLabToDevice(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const Cargo& c = *static_cast<const Cargo*>(cargo);
    cmsCIELab lab;
    cmsLabEncoded2Float(&lab, in);
    double device[3];
    LabToDevice(c, lab, device);
    for (int i = 0; i < 3; ++i) {
        out[i] = ToWord(device[i]);
    }
    return TRUE;
}

int SampleGamut(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const Cargo& c = *static_cast<const Cargo*>(cargo);
    cmsCIELab lab;
    cmsLabEncoded2Float(&lab, in);
    double device[3];
    out[0] = LabToDevice(c, lab, device) ? 0xFFFF : 0;
    return TRUE;
}

// curves - grid - curves, the layout the version 4 lookup-table tags store.
// The curves are identities: the model lives in the grid.
cmsPipeline* MakeTable(int inputs, int outputs, int gridPoints, cmsSAMPLER16 sampler,
                       Cargo& cargo) {
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, inputs, outputs);
    cmsStage* before = cmsStageAllocToneCurves(nullptr, inputs, nullptr);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, gridPoints, inputs, outputs, nullptr);
    cmsStage* after = cmsStageAllocToneCurves(nullptr, outputs, nullptr);
    if (lut == nullptr || before == nullptr || grid == nullptr || after == nullptr ||
        !cmsStageSampleCLut16bit(grid, sampler, &cargo, 0)) {
        for (cmsStage* stage : {before, grid, after}) {
            if (stage != nullptr) {
                cmsStageFree(stage);
            }
        }
        if (lut != nullptr) {
            cmsPipelineFree(lut);
        }
        return nullptr;
    }
    // The pipeline owns each stage once it is inserted.
    cmsPipelineInsertStage(lut, cmsAT_END, before);
    cmsPipelineInsertStage(lut, cmsAT_END, grid);
    cmsPipelineInsertStage(lut, cmsAT_END, after);
    return lut;
}

bool WriteTable(cmsHPROFILE profile, cmsTagSignature tag, cmsPipeline* lut) {
    if (lut == nullptr) {
        return false;
    }
    const bool ok = cmsWriteTag(profile, tag, lut) != FALSE;
    cmsPipelineFree(lut);
    return ok;
}

bool WriteText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (mlu == nullptr) {
        return false;
    }
    const bool ok = cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

// The header's creation date is fixed so that every build writes the same bytes.
void FixCreationDate(std::vector<unsigned char>& bytes) {
    static const unsigned char kDate[12] = {0x07, 0xE9, 0x00, 0x0B, 0x00, 0x1A,
                                            0x00, 0x0C, 0x00, 0x00, 0x00, 0x00};
    if (bytes.size() >= 36) {
        std::memcpy(bytes.data() + 24, kDate, sizeof kDate);
    }
}

bool BuildProfile(const PrintModel& model, const std::string& path) {
    Cargo perceptual{&model, {}, true};
    if (!MakeMatrices(model, perceptual.matrices)) {
        return false;
    }
    Cargo colorimetric = perceptual;
    colorimetric.perceptual = false;

    std::unique_ptr<void, decltype(&cmsCloseProfile)> owner(cmsCreateProfilePlaceholder(nullptr),
                                                            &cmsCloseProfile);
    cmsHPROFILE profile = owner.get();
    if (profile == nullptr) {
        return false;
    }
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsSetHeaderRenderingIntent(profile, model.headerIntent);
    cmsSetHeaderFlags(profile, 0);
    cmsSetHeaderAttributes(profile, 0);  // reflective, glossy, positive, colour

    // The paper is a touch cooler than the connection space's white.
    cmsCIELab paperLab = {96.0, 0.4, -2.2};
    cmsCIEXYZ paper;
    cmsLab2XYZ(nullptr, &paper, &paperLab);

    bool ok = WriteText(profile, cmsSigProfileDescriptionTag, model.description) &&
              WriteText(profile, cmsSigCopyrightTag, kCopyright) &&
              WriteText(profile, cmsSigDeviceMfgDescTag, kMaker) &&
              WriteText(profile, cmsSigDeviceModelDescTag, kModel) &&
              cmsWriteTag(profile, cmsSigMediaWhitePointTag, &paper);

    const int forwardGrid = 17;
    const int inverseGrid = 33;
    ok = ok &&
         WriteTable(profile, cmsSigAToB0Tag,
                    MakeTable(3, 3, forwardGrid, SampleDeviceToLab, perceptual)) &&
         WriteTable(profile, cmsSigAToB1Tag,
                    MakeTable(3, 3, forwardGrid, SampleDeviceToLab, colorimetric)) &&
         WriteTable(profile, cmsSigAToB2Tag,
                    MakeTable(3, 3, forwardGrid, SampleDeviceToLab, perceptual)) &&
         WriteTable(profile, cmsSigBToA0Tag,
                    MakeTable(3, 3, inverseGrid, SampleLabToDevice, perceptual)) &&
         WriteTable(profile, cmsSigBToA1Tag,
                    MakeTable(3, 3, inverseGrid, SampleLabToDevice, colorimetric)) &&
         WriteTable(profile, cmsSigBToA2Tag,
                    MakeTable(3, 3, inverseGrid, SampleLabToDevice, perceptual)) &&
         WriteTable(profile, cmsSigGamutTag,
                    MakeTable(3, 1, inverseGrid, SampleGamut, colorimetric));
    if (!ok) {
        return false;
    }

    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size) || size == 0) {
        return false;
    }
    std::vector<unsigned char> bytes(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) {
        return false;
    }
    bytes.resize(size);
    FixCreationDate(bytes);

    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::remove(temporary.c_str());
        return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    for (const PrintModel& model : kModels) {
        const std::string path = std::string(argv[1]) + "/" + model.fileName;
        if (!BuildProfile(model, path)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
