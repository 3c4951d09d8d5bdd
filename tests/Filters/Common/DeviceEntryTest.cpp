#include "DeviceEntry.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "../../Support/ByteCompare.h"
#include "../../Support/CupsOptions.h"
#include "../../Support/StdoutCapture.h"

using qzm::test::BytesEqual;
using qzm::test::CupsOptions;
using qzm::test::StdoutCapture;

namespace {

// A printer that answers the model operations simply and supports the
// optional decurl and clock commands, so the shared code can be exercised.
class TestDevice : public DeviceEntry {
public:
    int GetHeadWidth() override { return 1920; }
    int SetMediaSize(int, cups_option_t*, ppdfile_s*) override { return 0; }
    int SetMediaInfo(DeviceMediaBufferInfo*, int, double) override { return 3; }
    DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& info, int) override {
        return info;
    }
    int GetMultiLayoutNum(const char*) override { return 1; }
    int SetOvercoatFinish(int key, double) override {
        if (key == 21) return 3;  // pretend the printer lacks this finish
        m_overcoatInfo = DeviceOvercoatInfo{key, key + 100, 0, 1.0};
        return 0;
    }
    const char* GetPrinterICCProfile(const char* choice) override {
        return choice ? choice : "default.icc";
    }
    bool isSupportDecurl() override { return decurl; }
    bool isSupportSysTime() override { return sysTime; }

    bool decurl = true;
    bool sysTime = true;
};

std::string Packet(const std::string& command, const std::string& sub,
                   const std::string& payload) {
    std::string p = "\x1bP" + command + std::string(6 - command.size(), ' ') + sub +
                    std::string(16 - sub.size(), ' ');
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", payload.size());
    return p + length + payload;
}

DeviceMediaBufferInfo Row5x35() {
    DeviceMediaBufferInfo r;
    r.mediaId = 1;
    r.multicutCode = 1;
    r.baseDpi = 300;
    r.widthDots = 1548;
    r.heightDots = 1088;
    r.panelWidthDots = 1548;
    r.panelHeightDots = 1088;
    r.panelCount = 1;
    return r;
}

TEST(DeviceEntryTest, StartsWithTheDesignedValues) {
    TestDevice d;
    EXPECT_EQ(d.m_mediaInfo.mediaId, -1);
    EXPECT_EQ(d.m_mediaInfo.outWidth, 0);
    EXPECT_EQ(d.m_overcoatInfo.key, -1);
    EXPECT_EQ(d.m_resolution, 300);
    EXPECT_EQ(d.m_resolutionMode, 0);
    EXPECT_TRUE(d.m_icm);
    EXPECT_FALSE(d.m_border || d.m_paperRotate || d.m_colorAdjustment || d.m_multiLayout);
    EXPECT_EQ(d.m_gamma[0], 0);
    EXPECT_TRUE(d.m_iccProfilePath.empty());
    EXPECT_EQ(d.GetRemainHalf("1"), 0);
}

TEST(UpdateMediaInfoTest, ComputesTheOutputGeometry) {
    TestDevice d;
    d.m_resolution = 600;
    DeviceMediaBufferInfo info = Row5x35();
    ASSERT_EQ(d.UpdateMediaInfo(&info), 0);
    EXPECT_EQ(info.hDpi, 300);
    EXPECT_EQ(info.vDpi, 600);
    EXPECT_EQ(info.outWidth, 1548);
    EXPECT_EQ(info.outHeight, 2176);
    EXPECT_EQ(info.outPanelWidth, 1548);
    EXPECT_EQ(info.outPanelHeight, 2176);
    EXPECT_EQ(info.headWidth, 1920);
    EXPECT_EQ(info.outPanelCount, 1);

    // The two-panel 6 x 4 inch sheet at 300 dpi.
    d.m_resolution = 300;
    DeviceMediaBufferInfo twin = Row5x35();
    twin.widthDots = 1844;
    twin.heightDots = 2498;
    twin.panelWidthDots = 1844;
    twin.panelHeightDots = 1240;
    twin.panelGapDots = 18;
    twin.panelCount = 2;
    ASSERT_EQ(d.UpdateMediaInfo(&twin), 0);
    EXPECT_EQ(twin.outHeight, 2498);
    EXPECT_EQ(twin.outPanelHeight, 1240);
    EXPECT_EQ(twin.outPanelGap, 18);
    EXPECT_EQ(twin.outPanelCount, 2);
}

TEST(UpdateMediaInfoTest, RefusesWhatItCannotCompute) {
    TestDevice d;
    DeviceMediaBufferInfo none;
    none.outWidth = 77;
    EXPECT_EQ(d.UpdateMediaInfo(&none), 0);
    EXPECT_EQ(none.outWidth, 77);
    EXPECT_EQ(none.headWidth, 0);

    DeviceMediaBufferInfo info = Row5x35();
    info.outWidth = 5;
    d.m_resolution = 450;
    EXPECT_EQ(d.UpdateMediaInfo(&info), 3);
    EXPECT_EQ(info.outWidth, 5);
    // A record without a base resolution would divide by zero.
    d.m_resolution = 300;
    info.baseDpi = 0;
    EXPECT_EQ(d.UpdateMediaInfo(&info), 3);
    EXPECT_EQ(d.UpdateMediaInfo(nullptr), 3);
}

TEST(SettingsTest, Resolution) {
    TestDevice d;
    d.m_mediaInfo = Row5x35();
    struct Case {
        const char* value;
        int64_t resolution, mode;
    } cases[] = {{"300x600dpi", 600, 1}, {"600x600dpi", 600, 2}, {"300dpi", 300, 0},
                 {"600dpi", 300, 0},     {nullptr, 300, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "absent");
        CupsOptions job{{"Resolution", c.value}};
        EXPECT_EQ(d.SetResolution(c.value ? job.Count() : 0, job.Options(), nullptr), 1);
        EXPECT_EQ(d.m_resolution, c.resolution);
        EXPECT_EQ(d.m_resolutionMode, c.mode);
        EXPECT_EQ(d.m_mediaInfo.outHeight, c.resolution == 600 ? 2176 : 1088);
    }
    d.m_resolution = 600;
    EXPECT_EQ(d.SetResolution(0, nullptr, nullptr), 1);
    EXPECT_EQ(d.m_resolution, 300);
}

TEST(SettingsTest, SwitchesCompareCaseSensitively) {
    TestDevice d;
    {
        CupsOptions job{{"OvpBorder", "Enable"}, {"OvpICM", "None"}, {"OvpColorAdjustment", "Enable"}};
        d.SetBorder(job.Count(), job.Options(), nullptr);
        d.SetICM(job.Count(), job.Options(), nullptr);
        d.SetColorAdjustment(job.Count(), job.Options(), nullptr);
        EXPECT_TRUE(d.m_border);
        EXPECT_FALSE(d.m_icm);
        EXPECT_TRUE(d.m_colorAdjustment);
    }
    {
        CupsOptions job{{"OvpBorder", "enable"}, {"OvpICM", "none"}, {"OvpColorAdjustment", "On"}};
        d.SetBorder(job.Count(), job.Options(), nullptr);
        d.SetICM(job.Count(), job.Options(), nullptr);
        d.SetColorAdjustment(job.Count(), job.Options(), nullptr);
        EXPECT_FALSE(d.m_border);
        EXPECT_TRUE(d.m_icm);
        EXPECT_FALSE(d.m_colorAdjustment);
    }
    d.SetICM(0, nullptr, nullptr);
    EXPECT_TRUE(d.m_icm);
}

TEST(SettingsTest, SharpnessTable) {
    TestDevice d;
    const std::pair<const char*, int32_t> cases[] = {
        {"-2", -1000}, {"-1", -500}, {"0", 0},      {"1", 650},   {"2", 700},
        {"5", 850},    {"8", 1000},  {"9", 0},      {"-3", 0},    {"abc", 0},
        {"4294967294", 0},          {"-4294967298", 0}};
    for (const auto& [value, level] : cases) {
        CupsOptions job{{"OvpSharpness", value}};
        d.m_sharpness = 123;
        d.SetSharpness(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_sharpness, level) << value;
    }
    d.m_sharpness = 123;
    d.SetSharpness(0, nullptr, nullptr);
    EXPECT_EQ(d.m_sharpness, 0);
}

TEST(SettingsTest, GammaCombinedWinsOverChannels) {
    TestDevice d;
    d.SetGamma(0, nullptr, nullptr);
    EXPECT_EQ(d.m_gamma[0], 100);
    EXPECT_EQ(d.m_gamma[1], 100);
    EXPECT_EQ(d.m_gamma[2], 100);
    {
        CupsOptions job{{"OvpGamma", "0"}, {"OvpGammaR", "100"}};
        d.SetGamma(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_gamma[0], 100);
        EXPECT_EQ(d.m_gamma[2], 100);
    }
    {
        CupsOptions job{{"OvpGammaR", "100"}, {"OvpGammaG", "-100"}, {"OvpGammaB", "50"}};
        d.SetGamma(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_gamma[0], 200);
        EXPECT_EQ(d.m_gamma[1], 50);
        EXPECT_EQ(d.m_gamma[2], 141);
    }
    {
        CupsOptions job{{"OvpGammaG", "x"}};
        d.SetGamma(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_gamma[1], 100);
    }
}

TEST(SettingsTest, HugeNumbersSaturateInsteadOfOverflowing) {
    TestDevice d;
    {
        CupsOptions job{{"OvpGamma", "100000"}, {"OvpBrightness", "2000000000"},
                        {"OvpContrast", "-2000000000"}, {"OvpChroma", "99999999999999999999"}};
        d.SetGamma(job.Count(), job.Options(), nullptr);
        d.SetIntensity(job.Count(), job.Options(), nullptr);
        d.SetContrast(job.Count(), job.Options(), nullptr);
        d.SetSaturation(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_gamma[0], INT32_MAX);
        EXPECT_EQ(d.m_brightness[1], INT32_MAX);
        EXPECT_EQ(d.m_contrast[2], INT32_MIN);
        EXPECT_EQ(d.m_chroma, INT32_MAX);
    }
    {
        CupsOptions job{{"OvpGammaR", "-100000"}, {"OvpGammaG", "2000"}, {"OvpGammaB", "3100"}};
        d.SetGamma(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_gamma[0], 0);  // refused later by the gamma step
        EXPECT_EQ(d.m_gamma[1], 104857600);
        EXPECT_EQ(d.m_gamma[2], INT32_MAX);
    }
}

TEST(SettingsTest, BrightnessContrastChroma) {
    TestDevice d;
    {
        CupsOptions job{{"OvpBrightness", "-15"}, {"OvpBrightnessR", "40"}, {"OvpContrast", "7"},
                        {"OvpChroma", "-30"}};
        d.SetIntensity(job.Count(), job.Options(), nullptr);
        d.SetContrast(job.Count(), job.Options(), nullptr);
        d.SetSaturation(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_brightness[0], -30);
        EXPECT_EQ(d.m_brightness[2], -30);
        EXPECT_EQ(d.m_contrast[1], 70);
        EXPECT_EQ(d.m_chroma, -300);
    }
    {
        CupsOptions job{{"OvpBrightnessG", "5"}, {"OvpContrastB", "-4"}};
        d.SetIntensity(job.Count(), job.Options(), nullptr);
        d.SetContrast(job.Count(), job.Options(), nullptr);
        d.SetSaturation(job.Count(), job.Options(), nullptr);
        EXPECT_EQ(d.m_brightness[0], 0);
        EXPECT_EQ(d.m_brightness[1], 10);
        EXPECT_EQ(d.m_contrast[0], 0);
        EXPECT_EQ(d.m_contrast[2], -40);
        EXPECT_EQ(d.m_chroma, 0);
    }
}

TEST(SettingsTest, IccProfileChoiceAndPath) {
    TestDevice d;
    CupsOptions job{{"OvpICCProfile", "M480"}};
    EXPECT_STREQ(d.GetICCProfile(job.Count(), job.Options(), nullptr, "1"), "M480");
    EXPECT_STREQ(d.GetICCProfile(0, nullptr, nullptr, "1"), "default.icc");
    d.SetICCProfile("/a/b.icc");
    d.SetICCProfile(nullptr);
    EXPECT_EQ(d.m_iccProfilePath, "/a/b.icc");
}

TEST(OutputTest, WritesPacketsAndRawBytes) {
    TestDevice d;
    DeviceCmd empty;
    DeviceCmd start("CNTRL", "START", -1, nullptr);
    const uint8_t raw[3] = {0, 1, 2};
    StdoutCapture capture;
    EXPECT_EQ(d.DeviceIO(empty), 0);
    EXPECT_EQ(d.DeviceIO(start), 0);
    EXPECT_EQ(d.SetCommand(raw, 3), 1);
    EXPECT_EQ(d.SetCommand(nullptr, 3), 0);
    EXPECT_EQ(d.SetCommand(raw, 0), 0);
    EXPECT_EQ(d.SetCommand(raw, -1), 0);
    const std::vector<uint8_t> out = capture.Stop();
    EXPECT_TRUE(BytesEqual(out, Packet("CNTRL", "START", "").substr(0, 24) +
                                    std::string(8, ' ') + std::string("\0\1\2", 3)));
}

using SendFn = int (DeviceEntry::*)(int, cups_option_t*, ppdfile_s*);

// One settings command run with the given options, and its bytes.
std::vector<uint8_t> Send(TestDevice& d,
                          std::initializer_list<std::pair<const char*, const char*>> options,
                          SendFn send, int expectedResult = 1) {
    CupsOptions job(options);
    StdoutCapture capture;
    const int result = (d.*send)(job.Count(), job.Options(), nullptr);
    std::vector<uint8_t> out = capture.Stop();
    EXPECT_EQ(result, expectedResult);
    return out;
}

TEST(CommandsTest, CutterFollowsTheOptionAndTheMedia) {
    TestDevice d;
    d.m_mediaInfo.twoInchCut = true;
    EXPECT_TRUE(BytesEqual(Send(d, {{"Ovp2InchCut", "Enable"}}, &DeviceEntry::SendCutterMode),
                           Packet("CNTRL", "CUTTER", "00000120")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"Ovp2InchCut", "Disable"}}, &DeviceEntry::SendCutterMode),
                           Packet("CNTRL", "CUTTER", "00000000")));
    EXPECT_TRUE(BytesEqual(Send(d, {}, &DeviceEntry::SendCutterMode),
                           Packet("CNTRL", "CUTTER", "00000000")));
    d.m_mediaInfo.twoInchCut = false;
    EXPECT_TRUE(BytesEqual(Send(d, {{"Ovp2InchCut", "Enable"}}, &DeviceEntry::SendCutterMode),
                           Packet("CNTRL", "CUTTER", "00000000")));
}

TEST(CommandsTest, OvercoatFinishMapsChoicesToKeys) {
    TestDevice d;
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpOvercoatFinish", "Luster"}}, &DeviceEntry::SendOvercoatFinish),
                           Packet("CNTRL", "OVERCOAT", "00000122")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpOvercoatFinish", "Matte"}}, &DeviceEntry::SendOvercoatFinish),
                           Packet("CNTRL", "OVERCOAT", "00000101")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpOvercoatFinish", "luster"}}, &DeviceEntry::SendOvercoatFinish),
                           Packet("CNTRL", "OVERCOAT", "00000100")));
    EXPECT_TRUE(BytesEqual(Send(d, {}, &DeviceEntry::SendOvercoatFinish),
                           Packet("CNTRL", "OVERCOAT", "00000100")));
    // A finish the printer refuses writes nothing.
    EXPECT_TRUE(Send(d, {{"OvpOvercoatFinish", "FineMatte"}}, &DeviceEntry::SendOvercoatFinish, 0)
                    .empty());
}

TEST(CommandsTest, PrintRetryAndSpeed) {
    TestDevice d;
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpPrintRetry", "Disable"}}, &DeviceEntry::SendPrintRetry),
                           Packet("CNTRL", "BUFFCNTRL", "00000000")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpPrintRetry", "disable"}}, &DeviceEntry::SendPrintRetry),
                           Packet("CNTRL", "BUFFCNTRL", "00000001")));
    EXPECT_TRUE(BytesEqual(Send(d, {}, &DeviceEntry::SendPrintRetry),
                           Packet("CNTRL", "BUFFCNTRL", "00000001")));

    const auto speed = &DeviceEntry::SendPrintSpeed;
    EXPECT_TRUE(BytesEqual(Send(d, {{"Resolution", "300x600dpi"}, {"OvpPrintSpeed", "Enable"}}, speed),
                           Packet("CNTRL", "PRINTSPEED", "00000030")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"Resolution", "300x600dpi"}}, speed),
                           Packet("CNTRL", "PRINTSPEED", "00000010")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"Resolution", "600x600dpi"}, {"OvpPrintSpeed", "Enable"}}, speed),
                           Packet("CNTRL", "PRINTSPEED", "00000000")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpPrintSpeed", "Enable"}}, speed),
                           Packet("CNTRL", "PRINTSPEED", "00000000")));
}

TEST(CommandsTest, DecurlOnlyWhereSupported) {
    TestDevice d;
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpDecurl", "Enable"}}, &DeviceEntry::SendDecurl),
                           Packet("CNTRL", "DECURL", "010000000000")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpDecurl", "Disable"}}, &DeviceEntry::SendDecurl),
                           Packet("CNTRL", "DECURL", "000000000000")));
    EXPECT_TRUE(BytesEqual(Send(d, {{"OvpDecurl", "Auto"}}, &DeviceEntry::SendDecurl),
                           Packet("CNTRL", "DECURL", "020000000000")));
    d.decurl = false;
    EXPECT_TRUE(Send(d, {{"OvpDecurl", "Enable"}}, &DeviceEntry::SendDecurl, 0).empty());
}

TEST(CommandsTest, SysTimePayload) {
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
    const std::vector<uint8_t> out = Send(d, {}, &DeviceEntry::SendSysTime);
    ASSERT_EQ(out.size(), 48u);
    EXPECT_TRUE(BytesEqual(out.data(), 32, Packet("CNTRL", "SET_SYS_TIME", std::string(16, 'x')).substr(0, 32)));
    EXPECT_EQ(out[46], 0x0D);
    EXPECT_EQ(out[47], 0x00);
    d.sysTime = false;
    EXPECT_TRUE(Send(d, {}, &DeviceEntry::SendSysTime, 0).empty());
}

}  // namespace
