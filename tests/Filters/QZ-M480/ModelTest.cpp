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
using qzm::test::TempRoot;

namespace {

std::string Multicut(const char* payload) {
    return std::string("\x1bPIMAGE MULTICUT        00000008") + payload;
}

// Sets the media of a job with one page size and returns what was written.
std::vector<uint8_t> SetSize(DeviceEntry_QZM480& d, const char* pageSize,
                             const char* resolution = "300dpi") {
    CupsOptions job{{"PageSize", pageSize}, {"Resolution", resolution}};
    d.SetResolution(job.Count(), job.Options(), nullptr);
    StdoutCapture capture;
    EXPECT_EQ(d.SetMediaSize(pageSize ? job.Count() : 0, job.Options(), nullptr), 1);
    return capture.Stop();
}

TEST(ModelTablesTest, MediaRowsAreConsistent) {
    for (const DeviceMediaBufferInfo& row : gMediaInfo_QZM480) {
        SCOPED_TRACE(row.mediaId);
        EXPECT_EQ(row.baseDpi, 300);
        EXPECT_EQ(row.marginXDots, 60);
        EXPECT_EQ(row.minFirmware, 1.0);
        // The dot figures of a sheet are its panels and the gap between them.
        EXPECT_EQ(row.heightDots, row.panelHeightDots * row.panelCount +
                                      row.panelGapDots * (row.panelCount - 1));
        EXPECT_EQ(row.widthDots, row.panelWidthDots);
    }
    EXPECT_EQ(gOverCoatInfo_QZM480[9].key, -1);
}

TEST(ModelTest, AnswersOfTheModel) {
    DeviceEntry_QZM480 d;
    EXPECT_EQ(d.GetHeadWidth(), 1920);
    EXPECT_FALSE(d.isSupportDecurl());
    EXPECT_FALSE(d.isSupportSysTime());
    EXPECT_EQ(d.GetRemainHalf("5"), 0);
    EXPECT_STREQ(d.GetPrinterICCProfile(nullptr),
                 "/Library/ColorSync/Profiles/ov-480-mac-251126-5.icc");
    EXPECT_STREQ(d.GetPrinterICCProfile("OV480mac"),
                 "/Library/ColorSync/Profiles/ov-480-mac-251126-5.icc");
    EXPECT_STREQ(d.GetPrinterICCProfile("M480"), "/Library/ColorSync/Profiles/M480_0100.icc");
    EXPECT_STREQ(d.GetPrinterICCProfile("m480"),
                 "/Library/ColorSync/Profiles/ov-480-mac-251126-5.icc");
    CupsOptions job{{"OvpICCProfile", "M480"}};
    EXPECT_STREQ(d.GetICCProfile(job.Count(), job.Options(), nullptr, "1"),
                 "/Library/ColorSync/Profiles/M480_0100.icc");
    // Neither optional command is ever written by this model.
    StdoutCapture capture;
    CupsOptions decurl{{"OvpDecurl", "Enable"}};
    EXPECT_EQ(d.SendDecurl(decurl.Count(), decurl.Options(), nullptr), 0);
    EXPECT_EQ(d.SendSysTime(0, nullptr, nullptr), 0);
    EXPECT_TRUE(capture.Stop().empty());
}

TEST(ModelTest, PageSizesSelectMediaAndRotation) {
    struct Case {
        const char* size;
        int mediaId;
        const char* multicut;
        bool multi, rotate;
        int outWidth, outHeight;
    } cases[] = {
        {"127x89mm", 1, "00000001", false, false, 1548, 1088},
        {"89x127mm", 1, "00000001", false, true, 1548, 1088},
        {"127x89mmx2", 1, "00000001", true, false, 1548, 1088},
        {"89x127mmx2", 1, "00000001", true, true, 1548, 1088},
        {"127x127mm", 10, "00000029", false, false, 1548, 1540},
        {"127x178mm", 2, "00000003", false, false, 1548, 2138},
        {"153x102mm", 3, "00000002", false, false, 1844, 1240},
        {"102x153mm", 3, "00000002", false, true, 1844, 1240},
        {"153x102mmx2", 3, "00000002", true, false, 1844, 1240},
        {"102x153mmx2", 3, "00000002", true, true, 1844, 1240},
        {"153x153mm", 11, "00000027", false, false, 1844, 1836},
        {"153x204mm", 4, "00000004", false, false, 1844, 2436},
        {"A4", 3, "00000002", false, false, 1844, 1240},
        {"127X89MM", 3, "00000002", false, false, 1844, 1240},
        {nullptr, 3, "00000002", false, false, 1844, 1240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size ? c.size : "no page size");
        DeviceEntry_QZM480 d;
        EXPECT_TRUE(BytesEqual(SetSize(d, c.size), Multicut(c.multicut)));
        EXPECT_EQ(d.m_mediaInfo.mediaId, c.mediaId);
        EXPECT_EQ(d.m_multiLayout, c.multi);
        EXPECT_EQ(d.m_mediaInfo.outWidth, c.outWidth);
        EXPECT_EQ(d.m_mediaInfo.outHeight, c.outHeight);
        EXPECT_EQ(d.m_mediaInfo.headWidth, 1920);
        CupsOptions job{{"PageSize", c.size}};
        d.m_paperRotate = !c.rotate;
        d.SetPaperRotate(c.size ? job.Count() : 0, job.Options(), nullptr);
        EXPECT_EQ(d.m_paperRotate, c.rotate);
    }
}

TEST(ModelTest, MediaFromTheJobsMediaOptionAndAt600Dpi) {
    DeviceEntry_QZM480 d;
    CupsOptions job{{"media", "89x127mmx2"}, {"Resolution", "600x600dpi"}};
    d.SetResolution(job.Count(), job.Options(), nullptr);
    StdoutCapture capture;
    d.SetMediaSize(job.Count(), job.Options(), nullptr);
    d.SetPaperRotate(job.Count(), job.Options(), nullptr);
    capture.Stop();
    EXPECT_EQ(d.m_mediaInfo.mediaId, 1);
    EXPECT_TRUE(d.m_multiLayout);
    EXPECT_TRUE(d.m_paperRotate);
    EXPECT_EQ(d.m_mediaInfo.outWidth, 1548);
    EXPECT_EQ(d.m_mediaInfo.outHeight, 2176);
    EXPECT_EQ(d.m_mediaInfo.outPanelHeight, 2176);
}

TEST(ModelTest, TwoPanelSheetsOnlyForTwoUpSizes) {
    DeviceEntry_QZM480 d;
    SetSize(d, "153x102mmx2");
    DeviceMediaBufferInfo twin = d.GetMultiMediaInfo(d.m_mediaInfo, 2);
    EXPECT_EQ(twin.mediaId, 6);
    EXPECT_EQ(twin.multicutCode, 12);
    EXPECT_EQ(twin.outHeight, 2498);
    EXPECT_EQ(twin.outPanelHeight, 1240);
    EXPECT_EQ(twin.outPanelGap, 18);
    EXPECT_EQ(twin.outPanelCount, 2);
    EXPECT_TRUE(twin.twoInchCut);

    SetSize(d, "127x89mmx2", "300x600dpi");
    twin = d.GetMultiMediaInfo(d.m_mediaInfo, 2);
    EXPECT_EQ(twin.mediaId, 7);
    EXPECT_EQ(twin.multicutCode, 22);
    EXPECT_EQ(twin.outHeight, 4352);
    EXPECT_EQ(twin.outPanelHeight, 2176);

    // Without a two-up size a batch keeps its single-panel media.
    SetSize(d, "127x89mm");
    EXPECT_EQ(d.GetMultiMediaInfo(d.m_mediaInfo, 2).mediaId, 1);
    SetSize(d, "153x204mm");
    EXPECT_EQ(d.GetMultiMediaInfo(d.m_mediaInfo, 2).multicutCode, 4);
    // A record without media gives an empty record.
    DeviceMediaBufferInfo none;
    EXPECT_EQ(d.GetMultiMediaInfo(none, 2).mediaId, -1);
}

TEST(ModelTest, SetMediaInfoRefusesUnknownCodesAndOldFirmware) {
    DeviceEntry_QZM480 d;
    DeviceMediaBufferInfo info;
    info.outWidth = 9;
    EXPECT_EQ(d.SetMediaInfo(&info, 5, 1.53), 3);
    EXPECT_EQ(d.SetMediaInfo(&info, 1, 0.9), 3);
    EXPECT_EQ(info.mediaId, -1);
    EXPECT_EQ(info.outWidth, 9);
    EXPECT_EQ(d.SetMediaInfo(nullptr, 1, 1.53), 3);
    EXPECT_EQ(d.SetMediaInfo(&info, 11, 1.0), 0);
    EXPECT_EQ(info.outHeight, 1836);
}

TEST(ModelTest, OvercoatTable) {
    DeviceEntry_QZM480 d;
    EXPECT_EQ(d.SetOvercoatFinish(22, 1.53), 0);
    EXPECT_EQ(d.m_overcoatInfo.code, 22);
    EXPECT_EQ(d.SetOvercoatFinish(122, 1.53), 0);
    EXPECT_EQ(d.m_overcoatInfo.classFlag, 1);
    EXPECT_EQ(d.SetOvercoatFinish(22, 1.2), 3);
    EXPECT_EQ(d.m_overcoatInfo.key, -1);
    EXPECT_EQ(d.SetOvercoatFinish(21, 1.2), 0);
    EXPECT_EQ(d.SetOvercoatFinish(-1, 9.0), 3);
    EXPECT_EQ(d.SetOvercoatFinish(4, 9.0), 3);

    const std::pair<const char*, const char*> cases[] = {
        {"Luster", "00000022"}, {"FineMatte", "00000021"}, {"Matte", "00000001"},
        {"Glossy", "00000000"}, {"Semi", "00000000"}};
    for (const auto& [choice, payload] : cases) {
        CupsOptions job{{"OvpOvercoatFinish", choice}};
        StdoutCapture capture;
        EXPECT_EQ(d.SendOvercoatFinish(job.Count(), job.Options(), nullptr), 1);
        EXPECT_TRUE(BytesEqual(capture.Stop(),
                               std::string("\x1bPCNTRL OVERCOAT        00000008") + payload))
            << choice;
    }
}

TEST(ModelTest, TwoInchCutFollowsTheJobsMedia) {
    const std::pair<const char*, const char*> cases[] = {{"153x204mm", "00000120"},
                                                         {"127x178mm", "00000000"},
                                                         {"153x102mmx2", "00000120"}};
    for (const auto& [size, payload] : cases) {
        DeviceEntry_QZM480 d;
        SetSize(d, size);
        CupsOptions job{{"Ovp2InchCut", "Enable"}};
        StdoutCapture capture;
        d.SendCutterMode(job.Count(), job.Options(), nullptr);
        EXPECT_TRUE(BytesEqual(capture.Stop(),
                               std::string("\x1bPCNTRL CUTTER          00000008") + payload))
            << size;
    }
}

// Layout count from the job's print-status file.
class LayoutTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "/Library/Caches/Orvane/QZ-M480");
    }
    void WriteStatus(const char* job, const std::string& text) {
        std::ofstream(root_ / (std::string("/Library/Caches/Orvane/QZ-M480/Print_") + job +
                               ".log"))
            << text;
    }
    TempRoot root_;
};

TEST_F(LayoutTest, TwoOnlyForTwoUpSizesWithANamedMediaSize) {
    WriteStatus("31", "MEDIA_SIZE=\"00210\"\n");
    WriteStatus("32", "MEDIA_SIZE=\"\"\n");
    WriteStatus("33", "PRINTER=\"1\"\n");
    DeviceEntry_QZM480 d;
    SetSize(d, "153x102mmx2");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 2);
    EXPECT_EQ(d.GetMultiLayoutNum("32"), 1);
    EXPECT_EQ(d.GetMultiLayoutNum("33"), 1);
    EXPECT_EQ(d.GetMultiLayoutNum("34"), 1);
    EXPECT_TRUE(d.m_multiLayout);
    SetSize(d, "89x127mmx2");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 2);
    SetSize(d, "153x102mm");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 1);
    SetSize(d, "127x127mm");
    EXPECT_EQ(d.GetMultiLayoutNum("31"), 1);
}

}  // namespace
