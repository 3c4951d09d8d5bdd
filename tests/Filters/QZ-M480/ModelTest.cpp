#include "PhotoPrinterDeviceQZM480.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../Support/ByteCompare.h"
#include "../../Support/CupsOptions.h"
#include "../../Support/StdoutCapture.h"
#include "../../Support/TempRoot.h"

using qzm::test::BytesEqual;
using qzm::test::CupsOptions;
using qzm::test::StdoutCapture;

namespace {

const char kOv480[] = "/Library/ColorSync/Profiles/ov-480-mac-251126-5.icc";

// Sets up a job on one page size (null: none) and returns what was written.
std::vector<uint8_t> SetSize(DeviceEntry_QZM480& d, const char* pageSize,
                             const char* resolution = "300dpi") {
    CupsOptions job{{"Resolution", resolution}, {"PageSize", pageSize}};
    d.SetResolution(job.Count(), job.Options(), nullptr);
    d.SetPaperRotate(job.Count(), job.Options(), nullptr);
    StdoutCapture capture;
    EXPECT_EQ(d.SetMediaSize(job.Count(), job.Options(), nullptr), 1);
    return capture.Stop();
}

TEST(ModelTest, PageSizesSelectMediaAndRotation) {
    const struct {
        const char* size;
        int mediaId;
        const char* multicut;
        bool multi, rotate;
        int outHeight;
    } cases[] = {
        {"127x89mm", 1, "00000001", false, false, 1088},
        {"89x127mm", 1, "00000001", false, true, 1088},
        {"127x89mmx2", 1, "00000001", true, false, 1088},
        {"89x127mmx2", 1, "00000001", true, true, 1088},
        {"127x127mm", 10, "00000029", false, false, 1540},
        {"127x178mm", 2, "00000003", false, false, 2138},
        {"153x102mm", 3, "00000002", false, false, 1240},
        {"102x153mm", 3, "00000002", false, true, 1240},
        {"153x102mmx2", 3, "00000002", true, false, 1240},
        {"102x153mmx2", 3, "00000002", true, true, 1240},
        {"153x153mm", 11, "00000027", false, false, 1836},
        {"153x204mm", 4, "00000004", false, false, 2436},
        {"127X89MM", 3, "00000002", false, false, 1240},
        {nullptr, 3, "00000002", false, false, 1240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size ? c.size : "no page size");
        DeviceEntry_QZM480 d;
        EXPECT_TRUE(BytesEqual(SetSize(d, c.size),
                               std::string("\x1bPIMAGE MULTICUT        00000008") + c.multicut));
        EXPECT_EQ(d.m_mediaInfo.mediaId, c.mediaId);
        EXPECT_EQ(d.m_multiLayout, c.multi);
        EXPECT_EQ(d.m_paperRotate, c.rotate);
        EXPECT_EQ(d.m_mediaInfo.outHeight, c.outHeight);
        EXPECT_EQ(d.m_mediaInfo.headWidth, 1920);
    }
    // The job option "media" names the page size too.
    DeviceEntry_QZM480 d;
    CupsOptions job{{"media", "89x127mmx2"}, {"Resolution", "600x600dpi"}};
    d.SetResolution(job.Count(), job.Options(), nullptr);
    StdoutCapture capture;
    d.SetMediaSize(job.Count(), job.Options(), nullptr);
    d.SetPaperRotate(job.Count(), job.Options(), nullptr);
    capture.Stop();
    EXPECT_TRUE(d.m_multiLayout && d.m_paperRotate);
    EXPECT_EQ(d.m_mediaInfo.outWidth, 1548);
    EXPECT_EQ(d.m_mediaInfo.outHeight, 2176);
}

TEST(ModelTest, TwoPanelSheetsOnlyForTwoUpSizes) {
    DeviceEntry_QZM480 d;
    SetSize(d, "153x102mmx2");
    DeviceMediaBufferInfo twin = d.GetMultiMediaInfo(d.m_mediaInfo, 2);
    EXPECT_EQ(twin.multicutCode, 12);
    EXPECT_EQ(twin.outHeight, 2498);
    EXPECT_EQ(twin.outPanelHeight, 1240);
    EXPECT_EQ(twin.outPanelGap, 18);
    EXPECT_EQ(twin.outPanelCount, 2);
    SetSize(d, "127x89mmx2", "300x600dpi");
    twin = d.GetMultiMediaInfo(d.m_mediaInfo, 2);
    EXPECT_EQ(twin.multicutCode, 22);
    EXPECT_EQ(twin.outHeight, 4352);
    // Other sizes keep their single-panel media; no media gives none.
    SetSize(d, "127x89mm");
    EXPECT_EQ(d.GetMultiMediaInfo(d.m_mediaInfo, 2).multicutCode, 1);
    EXPECT_EQ(d.GetMultiMediaInfo(DeviceMediaBufferInfo{}, 2).mediaId, -1);

    DeviceMediaBufferInfo info;
    EXPECT_EQ(d.SetMediaInfo(&info, 5, 1.53), 3);
    EXPECT_EQ(d.SetMediaInfo(&info, 1, 0.9), 3);
    EXPECT_EQ(info.mediaId, -1);
}

TEST(ModelTest, OvercoatFinishes) {
    DeviceEntry_QZM480 d;
    EXPECT_EQ(d.SetOvercoatFinish(122, 1.53), 0);
    EXPECT_EQ(d.m_overcoatInfo.classFlag, 1);
    EXPECT_EQ(d.SetOvercoatFinish(22, 1.2), 3);  // needs firmware 1.3
    EXPECT_EQ(d.m_overcoatInfo.key, -1);
    EXPECT_EQ(d.SetOvercoatFinish(-1, 9.0), 3);  // the closing row is not a finish
    const std::pair<const char*, const char*> cases[] = {{"Luster", "00000022"},
                                                         {"FineMatte", "00000021"},
                                                         {"Matte", "00000001"},
                                                         {"Semi", "00000000"}};
    for (const auto& [choice, payload] : cases) {
        CupsOptions job{{"OvpOvercoatFinish", choice}};
        StdoutCapture capture;
        EXPECT_EQ(d.SendOvercoatFinish(job.Count(), job.Options(), nullptr), 1);
        EXPECT_TRUE(BytesEqual(capture.Stop(),
                               std::string("\x1bPCNTRL OVERCOAT        00000008") + payload));
    }
}

TEST(ModelTest, TwoInchCutFollowsTheJobsMedia) {
    for (const auto& [size, payload] : {std::pair{"153x204mm", "00000120"},
                                        {"127x178mm", "00000000"},
                                        {"153x102mmx2", "00000120"}}) {
        DeviceEntry_QZM480 d;
        SetSize(d, size);
        CupsOptions job{{"Ovp2InchCut", "Enable"}};
        StdoutCapture capture;
        d.SendCutterMode(job.Count(), job.Options(), nullptr);
        EXPECT_TRUE(BytesEqual(capture.Stop(),
                               std::string("\x1bPCNTRL CUTTER          00000008") + payload));
    }
}

TEST(ModelTest, ProfilesAndOptionalCommands) {
    DeviceEntry_QZM480 d;
    EXPECT_STREQ(d.GetPrinterICCProfile(nullptr), kOv480);
    EXPECT_STREQ(d.GetPrinterICCProfile("OV480mac"), kOv480);
    EXPECT_STREQ(d.GetPrinterICCProfile("m480"), kOv480);
    CupsOptions job{{"OvpICCProfile", "M480"}, {"OvpDecurl", "Enable"}};
    EXPECT_STREQ(d.GetICCProfile(job.Count(), job.Options(), nullptr, "1"),
                 "/Library/ColorSync/Profiles/M480_0100.icc");
    StdoutCapture capture;
    EXPECT_EQ(d.SendDecurl(job.Count(), job.Options(), nullptr), 0);
    EXPECT_EQ(d.SendSysTime(0, nullptr, nullptr), 0);
    EXPECT_TRUE(capture.Stop().empty());
}

TEST(ModelTest, LayoutCountFromThePrintStatusFile) {
    qzm::test::TempRoot root;
    const std::string folder = root / "/Library/Caches/Orvane/QZ-M480";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/Print_31.log") << "MEDIA_SIZE=\"00210\"\n";
    std::ofstream(folder + "/Print_32.log") << "MEDIA_SIZE=\"\"\n";
    std::ofstream(folder + "/Print_33.log") << "PRINTER=\"1\"\n";
    DeviceEntry_QZM480 d;
    SetSize(d, "153x102mmx2");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 2);
    EXPECT_EQ(d.GetMultiLayoutNum("32"), 1);
    EXPECT_EQ(d.GetMultiLayoutNum("33"), 1);
    EXPECT_EQ(d.GetMultiLayoutNum("34"), 1);
    SetSize(d, "89x127mmx2");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 2);
    SetSize(d, "153x102mm");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 1);
}

}  // namespace
