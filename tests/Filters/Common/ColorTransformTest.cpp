#include "ColorTransform.h"

#include <gtest/gtest.h>

#include <lcms2.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"

namespace {

const std::string kM480 = std::string(QZM480_PROFILE_DIR) + "/M480_0100.icc";
const std::string kOV480 = std::string(QZM480_PROFILE_DIR) + "/ov-480-mac-251126-5.icc";

using Rgb = std::array<uint8_t, 3>;

Rgb Convert(cmsHTRANSFORM t, Rgb in) {
    Rgb out{};
    cmsDoTransform(t, in.data(), out.data(), 1);
    return out;
}

// Colours spread over the sRGB cube, including its corners.
std::vector<Rgb> Samples() {
    std::vector<Rgb> s;
    for (int r = 0; r <= 255; r += 51) {
        for (int g = 0; g <= 255; g += 51) {
            for (int b = 0; b <= 255; b += 51) {
                s.push_back({uint8_t(r), uint8_t(g), uint8_t(b)});
            }
        }
    }
    return s;
}

long TotalDifference(cmsHTRANSFORM a, cmsHTRANSFORM b) {
    long sum = 0;
    for (const Rgb& c : Samples()) {
        const Rgb x = Convert(a, c);
        const Rgb y = b ? Convert(b, c) : c;
        for (int i = 0; i < 3; ++i) {
            sum += std::labs(long(x[i]) - long(y[i]));
        }
    }
    return sum;
}

class PackageProfiles : public testing::TestWithParam<std::string> {};

TEST_P(PackageProfiles, AreRgbOutputProfilesOfTheirOwn) {
    cmsHPROFILE p = cmsOpenProfileFromFile(GetParam().c_str(), "r");
    ASSERT_NE(p, nullptr) << GetParam();
    EXPECT_EQ(cmsGetDeviceClass(p), cmsSigOutputClass);
    EXPECT_EQ(cmsGetColorSpace(p), cmsSigRgbData);
    EXPECT_EQ(cmsGetPCS(p), cmsSigLabData);
    char text[256] = {};
    EXPECT_GT(cmsGetProfileInfoASCII(p, cmsInfoDescription, "en", "US", text, sizeof text), 1u);
    EXPECT_NE(std::string(text).find("QZ-M480"), std::string::npos) << text;
    EXPECT_GT(cmsGetProfileInfoASCII(p, cmsInfoCopyright, "en", "US", text, sizeof text), 1u);
    for (cmsUInt32Number intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC}) {
        EXPECT_TRUE(cmsIsIntentSupported(p, intent, LCMS_USED_AS_OUTPUT)) << intent;
    }
    cmsCloseProfile(p);
}

TEST_P(PackageProfiles, KeepGreysNeutralAndWhiteWhite) {
    ColorTransformHolder t(get_colord_transform_func(GetParam().c_str()));
    ASSERT_TRUE(t);
    const Rgb white = Convert(t.Get(), {255, 255, 255});
    for (uint8_t v : white) {
        EXPECT_GE(v, 250);
    }
    int previous = -1;
    for (int v = 0; v <= 255; v += 15) {
        const Rgb g = Convert(t.Get(), {uint8_t(v), uint8_t(v), uint8_t(v)});
        const int lo = std::min({g[0], g[1], g[2]});
        const int hi = std::max({g[0], g[1], g[2]});
        EXPECT_LE(hi - lo, 4) << "grey " << v;
        EXPECT_GE(g[1], previous) << "grey ramp not monotonic at " << v;
        previous = g[1];
    }
    // The print's black is dye-limited: sRGB black lands on full dye.
    const Rgb black = Convert(t.Get(), {0, 0, 0});
    for (uint8_t v : black) {
        EXPECT_LE(v, 8);
    }
}

TEST_P(PackageProfiles, ChangeColoursNoticeably) {
    ColorTransformHolder t(get_colord_transform_func(GetParam().c_str()));
    ASSERT_TRUE(t);
    // Mean difference from the identity of more than 3 levels per channel.
    EXPECT_GT(TotalDifference(t.Get(), nullptr), long(Samples().size()) * 3 * 3);
}

INSTANTIATE_TEST_SUITE_P(ColorTransform, PackageProfiles, testing::Values(kM480, kOV480));

TEST(ColorTransform, ProfilesDifferInIntentAndColour) {
    cmsHPROFILE a = cmsOpenProfileFromFile(kM480.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(kOV480.c_str(), "r");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cmsGetHeaderRenderingIntent(a), cmsUInt32Number(INTENT_PERCEPTUAL));
    EXPECT_EQ(cmsGetHeaderRenderingIntent(b), cmsUInt32Number(INTENT_RELATIVE_COLORIMETRIC));
    cmsCloseProfile(a);
    cmsCloseProfile(b);

    ColorTransformHolder ta(get_colord_transform_func(kM480.c_str()));
    ColorTransformHolder tb(get_colord_transform_func(kOV480.c_str()));
    ASSERT_TRUE(ta);
    ASSERT_TRUE(tb);
    EXPECT_GT(TotalDifference(ta.Get(), tb.Get()), long(Samples().size()) * 3);
}

TEST(ColorTransform, RefusesWhatIsNotAnRgbProfile) {
    qzm::test::TempRoot root;
    EXPECT_EQ(get_colord_transform_func(nullptr), nullptr);
    EXPECT_EQ(get_colord_transform_func(""), nullptr);
    EXPECT_EQ(get_colord_transform_func((root.Path() + "/missing.icc").c_str()), nullptr);
    EXPECT_EQ(get_colord_transform_func(root.Path().c_str()), nullptr);  // a folder

    const std::string garbage = root.Path() + "/garbage.icc";
    std::FILE* f = std::fopen(garbage.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a colour profile, only text of some length .......", f);
    std::fclose(f);
    EXPECT_EQ(get_colord_transform_func(garbage.c_str()), nullptr);

    const std::string grey = root.Path() + "/grey.icc";
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE g = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    ASSERT_TRUE(cmsSaveProfileToFile(g, grey.c_str()));
    cmsCloseProfile(g);
    cmsFreeToneCurve(curve);
    EXPECT_EQ(get_colord_transform_func(grey.c_str()), nullptr);

    // An sRGB profile on disk is acceptable: then the transform is near identity.
    const std::string srgb = root.Path() + "/srgb.icc";
    cmsHPROFILE s = cmsCreate_sRGBProfile();
    ASSERT_TRUE(cmsSaveProfileToFile(s, srgb.c_str()));
    cmsCloseProfile(s);
    ColorTransformHolder t(get_colord_transform_func(srgb.c_str()));
    ASSERT_TRUE(t);
    EXPECT_LE(TotalDifference(t.Get(), nullptr), long(Samples().size()));
    releaseTransform(nullptr);
}

TEST(ColorTransform, ApplyConvertsEveryPixelAndClearsPadding) {
    ColorTransformHolder t(get_colord_transform_func(kOV480.c_str()));
    ASSERT_TRUE(t);
    const int width = 7, height = 5, stride = 24;  // 21 pixel bytes, 3 padding bytes
    std::vector<uint8_t> bitmap(size_t(stride) * height, 0xAA);
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < width * 3; ++i) {
            bitmap[size_t(y) * stride + i] = uint8_t((y * 53 + i * 29) & 0xFF);
        }
    }
    const std::vector<uint8_t> original = bitmap;
    ASSERT_TRUE(ApplyColorTransform(t.Get(), bitmap.data(), width, height, stride));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* in = &original[size_t(y) * stride + x * 3];
            const Rgb expected = Convert(t.Get(), {in[0], in[1], in[2]});
            const uint8_t* out = &bitmap[size_t(y) * stride + x * 3];
            EXPECT_EQ(Rgb({out[0], out[1], out[2]}), expected) << "pixel " << x << "," << y;
        }
        for (int i = width * 3; i < stride; ++i) {
            EXPECT_EQ(bitmap[size_t(y) * stride + i], 0) << "padding of row " << y;
        }
    }
}

TEST(ColorTransform, ApplyRefusesBadGeometryAndLeavesTheBitmap) {
    ColorTransformHolder t(get_colord_transform_func(kM480.c_str()));
    ASSERT_TRUE(t);
    std::vector<uint8_t> bitmap(64, 0x55);
    EXPECT_FALSE(ApplyColorTransform(t.Get(), bitmap.data(), 4, 2, 11));  // stride < 12
    EXPECT_FALSE(ApplyColorTransform(t.Get(), bitmap.data(), 0, 2, 12));
    EXPECT_FALSE(ApplyColorTransform(t.Get(), bitmap.data(), 4, -1, 12));
    EXPECT_FALSE(ApplyColorTransform(nullptr, bitmap.data(), 4, 2, 12));
    EXPECT_FALSE(ApplyColorTransform(t.Get(), nullptr, 4, 2, 12));
    for (uint8_t v : bitmap) {
        ASSERT_EQ(v, 0x55);
    }
}

}  // namespace
