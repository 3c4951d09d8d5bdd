#include "DeviceEntry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../Support/ByteCompare.h"
#include "../../Support/CupsOptions.h"
#include "../../Support/StdoutCapture.h"

using qzm::test::BytesEqual;
using qzm::test::CupsOptions;
using qzm::test::StdoutCapture;

namespace {

using Options = std::initializer_list<std::pair<const char*, const char*>>;

// A printer with simple model answers that supports the optional decurl and
// clock commands, so the shared code can be exercised.
class TestDevice : public DeviceEntry {
  public:
    int GetHeadWidth() override { return 1920; }
    int SetMediaSize(int, cups_option_t*, ppdfile_s*) override { return 0; }
    int SetMediaInfo(DeviceMediaBufferInfo*, int, double) override { return 3; }
    DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& i, int) override {
        return i;
    }
    int GetMultiLayoutNum(const char*) override { return 1; }
    int SetOvercoatFinish(int key, double) override {
        if (key == 21)
            return 3;  // a finish this printer lacks
        m_overcoatInfo = DeviceOvercoatInfo{key, key + 100, 0, 1.0};
        return 0;
    }
    const char* GetPrinterICCProfile(const char* choice) override { return choice; }
    bool isSupportDecurl() override { return optional; }
    bool isSupportSysTime() override { return optional; }
    bool optional = true;

    // Runs one setting or command with the given job options; returns the bytes written.
    template <typename R>
    std::vector<uint8_t> Run(R (DeviceEntry::*op)(int, cups_option_t*, ppdfile_s*),
                             Options options) {
        CupsOptions job(options);
        StdoutCapture capture;
        (this->*op)(job.Count(), job.Options(), nullptr);
        return capture.Stop();
    }
};

std::string Cntrl(const std::string& sub, const std::string& payload) {
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", payload.size());
    return "\x1bPCNTRL " + sub + std::string(16 - sub.size(), ' ') + length + payload;
}

// The 5 x 3.5 inch media.
DeviceMediaBufferInfo Media() {
    DeviceMediaBufferInfo r;
    r.mediaId = 1;
    r.baseDpi = 300;
    r.widthDots = r.panelWidthDots = 1548;
    r.heightDots = r.panelHeightDots = 1088;
    r.panelCount = 1;
    return r;
}

TEST(UpdateMediaInfoTest, OutputGeometry) {
    TestDevice d;
    d.m_resolution = 600;
    DeviceMediaBufferInfo info = Media();
    ASSERT_EQ(d.UpdateMediaInfo(&info), 0);
    EXPECT_EQ(info.hDpi, 300);
    EXPECT_EQ(info.vDpi, 600);
    EXPECT_EQ(info.outWidth, 1548);
    EXPECT_EQ(info.outHeight, 2176);
    EXPECT_EQ(info.outPanelHeight, 2176);
    EXPECT_EQ(info.headWidth, 1920);
    EXPECT_EQ(info.outPanelCount, 1);
}

TEST(UpdateMediaInfoTest, LeavesRecordsItCannotCompute) {
    TestDevice d;
    DeviceMediaBufferInfo none;
    none.outWidth = 77;
    EXPECT_EQ(d.UpdateMediaInfo(&none), 0);  // no media: unchanged, still 0
    EXPECT_EQ(none.outWidth, 77);
    DeviceMediaBufferInfo info = Media();
    info.outWidth = 5;
    d.m_resolution = 450;
    EXPECT_EQ(d.UpdateMediaInfo(&info), 3);
    EXPECT_EQ(info.outWidth, 5);
    d.m_resolution = 300;
    info.baseDpi = 0;  // would divide by zero
    EXPECT_EQ(d.UpdateMediaInfo(&info), 3);
}

TEST(SettingsTest, ResolutionAndSwitches) {
    TestDevice d;
    d.m_mediaInfo = Media();
    const struct {
        const char* value;
        int64_t resolution, mode;
    } cases[] = {{"300x600dpi", 600, 1}, {"600x600dpi", 600, 2}, {"600dpi", 300, 0}};
    for (const auto& c : cases) {
        CupsOptions job{{"Resolution", c.value}};
        EXPECT_EQ(d.SetResolution(job.Count(), job.Options(), nullptr), 1);
        EXPECT_EQ(d.m_resolution, c.resolution);
        EXPECT_EQ(d.m_resolutionMode, c.mode);
        EXPECT_EQ(d.m_mediaInfo.outHeight, c.resolution == 600 ? 2176 : 1088);
    }
    d.Run(&DeviceEntry::SetBorder, {{"OvpBorder", "Enable"}});
    d.Run(&DeviceEntry::SetICM, {{"OvpICM", "None"}});
    d.Run(&DeviceEntry::SetColorAdjustment, {{"OvpColorAdjustment", "Enable"}});
    EXPECT_TRUE(d.m_border && !d.m_icm && d.m_colorAdjustment);
    // Choices compare case-sensitively; absent options take the defaults.
    d.Run(&DeviceEntry::SetBorder, {{"OvpBorder", "enable"}});
    d.Run(&DeviceEntry::SetICM, {{"OvpICM", "none"}});
    d.Run(&DeviceEntry::SetColorAdjustment, {});
    EXPECT_TRUE(!d.m_border && d.m_icm && !d.m_colorAdjustment);
}

TEST(SettingsTest, Sharpness) {
    TestDevice d;
    const std::pair<const char*, int32_t> cases[] = {
        {"-2", -1000}, {"-1", -500}, {"0", 0}, {"1", 650},       {"8", 1000},
        {"9", 0},      {"-3", 0},    {"x", 0}, {"4294967294", 0}};
    for (const auto& [value, level] : cases) {
        d.Run(&DeviceEntry::SetSharpness, {{"OvpSharpness", value}});
        EXPECT_EQ(d.m_sharpness, level) << value;
    }
}

TEST(SettingsTest, CombinedCorrectionWinsOverChannels) {
    TestDevice d;
    d.Run(&DeviceEntry::SetGamma, {});
    EXPECT_EQ(d.m_gamma[0] + d.m_gamma[1] + d.m_gamma[2], 300);
    d.Run(&DeviceEntry::SetGamma, {{"OvpGamma", "0"}, {"OvpGammaR", "100"}});
    EXPECT_EQ(d.m_gamma[0], 100);
    d.Run(&DeviceEntry::SetGamma,
          {{"OvpGammaR", "100"}, {"OvpGammaG", "-100"}, {"OvpGammaB", "50"}});
    EXPECT_EQ(d.m_gamma[0], 200);
    EXPECT_EQ(d.m_gamma[1], 50);
    EXPECT_EQ(d.m_gamma[2], 141);

    d.Run(&DeviceEntry::SetIntensity, {{"OvpBrightness", "-15"}, {"OvpBrightnessR", "40"}});
    d.Run(&DeviceEntry::SetContrast, {{"OvpContrastB", "-4"}});
    d.Run(&DeviceEntry::SetSaturation, {{"OvpChroma", "-30"}});
    EXPECT_EQ(d.m_brightness[0], -30);
    EXPECT_EQ(d.m_brightness[2], -30);
    EXPECT_EQ(d.m_contrast[0], 0);
    EXPECT_EQ(d.m_contrast[2], -40);
    EXPECT_EQ(d.m_chroma, -300);
}

TEST(SettingsTest, HugeNumbersSaturateInsteadOfOverflowing) {
    TestDevice d;
    d.Run(&DeviceEntry::SetGamma, {{"OvpGamma", "100000"}});
    d.Run(&DeviceEntry::SetIntensity, {{"OvpBrightness", "2000000000"}});
    d.Run(&DeviceEntry::SetContrast, {{"OvpContrast", "-2000000000"}});
    d.Run(&DeviceEntry::SetSaturation, {{"OvpChroma", "99999999999999999999"}});
    EXPECT_EQ(d.m_gamma[0], INT32_MAX);
    EXPECT_EQ(d.m_brightness[1], INT32_MAX);
    EXPECT_EQ(d.m_contrast[2], INT32_MIN);
    EXPECT_EQ(d.m_chroma, INT32_MAX);
    d.Run(&DeviceEntry::SetGamma, {{"OvpGammaR", "-100000"}, {"OvpGammaG", "2000"}});
    EXPECT_EQ(d.m_gamma[0], 0);  // refused later by the gamma step
    EXPECT_EQ(d.m_gamma[1], 104857600);
}

TEST(OutputTest, PacketsAndRawBytes) {
    TestDevice d;
    DeviceCmd empty;
    DeviceCmd start("CNTRL", "START", -1, nullptr);
    StdoutCapture capture;
    EXPECT_EQ(d.DeviceIO(empty), 0);
    EXPECT_EQ(d.DeviceIO(start), 0);
    EXPECT_EQ(d.SetCommand("\0\1\2", 3), 1);
    EXPECT_EQ(d.SetCommand(nullptr, 3), 0);
    EXPECT_EQ(d.SetCommand("x", 0), 0);
    EXPECT_TRUE(BytesEqual(capture.Stop(),
                           "\x1bPCNTRL START" + std::string(19, ' ') + std::string("\0\1\2", 3)));
}

TEST(CommandsTest, ExactBytesOfEverySettingsCommand) {
    TestDevice d;
    const auto check = [&](auto op, Options options, const std::string& expected) {
        EXPECT_TRUE(BytesEqual(d.Run(op, options), expected)) << expected.substr(8, 16);
    };
    d.m_mediaInfo.twoInchCut = true;
    check(&DeviceEntry::SendCutterMode, {{"Ovp2InchCut", "Enable"}}, Cntrl("CUTTER", "00000120"));
    check(&DeviceEntry::SendCutterMode, {}, Cntrl("CUTTER", "00000000"));
    d.m_mediaInfo.twoInchCut = false;
    check(&DeviceEntry::SendCutterMode, {{"Ovp2InchCut", "Enable"}}, Cntrl("CUTTER", "00000000"));

    check(&DeviceEntry::SendOvercoatFinish, {{"OvpOvercoatFinish", "Luster"}},
          Cntrl("OVERCOAT", "00000122"));
    check(&DeviceEntry::SendOvercoatFinish, {{"OvpOvercoatFinish", "luster"}},
          Cntrl("OVERCOAT", "00000100"));
    check(&DeviceEntry::SendOvercoatFinish, {{"OvpOvercoatFinish", "FineMatte"}}, "");

    check(&DeviceEntry::SendPrintRetry, {{"OvpPrintRetry", "Disable"}},
          Cntrl("BUFFCNTRL", "00000000"));
    check(&DeviceEntry::SendPrintRetry, {{"OvpPrintRetry", "disable"}},
          Cntrl("BUFFCNTRL", "00000001"));
    check(&DeviceEntry::SendPrintRetry, {}, Cntrl("BUFFCNTRL", "00000001"));

    check(&DeviceEntry::SendPrintSpeed, {{"Resolution", "300x600dpi"}, {"OvpPrintSpeed", "Enable"}},
          Cntrl("PRINTSPEED", "00000030"));
    check(&DeviceEntry::SendPrintSpeed, {{"Resolution", "300x600dpi"}},
          Cntrl("PRINTSPEED", "00000010"));
    check(&DeviceEntry::SendPrintSpeed, {{"Resolution", "600x600dpi"}, {"OvpPrintSpeed", "Enable"}},
          Cntrl("PRINTSPEED", "00000000"));

    check(&DeviceEntry::SendDecurl, {{"OvpDecurl", "Enable"}}, Cntrl("DECURL", "010000000000"));
    check(&DeviceEntry::SendDecurl, {{"OvpDecurl", "Disable"}}, Cntrl("DECURL", "000000000000"));
    check(&DeviceEntry::SendDecurl, {{"OvpDecurl", "Auto"}}, Cntrl("DECURL", "020000000000"));
    d.optional = false;
    check(&DeviceEntry::SendDecurl, {{"OvpDecurl", "Enable"}}, "");
    check(&DeviceEntry::SendSysTime, {}, "");
}

TEST(CommandsTest, SysTime) {
    std::tm t{};
    t.tm_year = 2025 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 2;
    char payload[16];
    _MakeSysTimePayload(t, payload);
    EXPECT_TRUE(BytesEqual(payload, 16, std::string("20250307090502\r\0", 16)));

    TestDevice d;
    const std::vector<uint8_t> out = d.Run(&DeviceEntry::SendSysTime, {});
    ASSERT_EQ(out.size(), 48u);
    EXPECT_TRUE(
        BytesEqual(out.data(), 32, Cntrl("SET_SYS_TIME", std::string(16, ' ')).substr(0, 32)));
    EXPECT_EQ(out[46], 0x0D);
    EXPECT_EQ(out[47], 0x00);
}

}  // namespace
