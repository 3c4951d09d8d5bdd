// The image side: geometry of the colour pipeline and the plane packets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <span>

#include "PhotoImageBuffer.h"
#include "PhotoPrinterDeviceQZM480.h"
#include "StdoutCapture.h"
#include "StreamParser.h"

namespace {

using qzm::stream::ParseStream;
using qzm::test::StdoutCapture;

// A media row with its output geometry at the given resolution.
DeviceMediaBufferInfo Media(int mediaId, int64_t resolution = 300) {
    DeviceEntry_QZM480 entry;
    entry.m_resolution = resolution;
    DeviceMediaBufferInfo info;
    EXPECT_EQ(entry.SetMediaInfo(&info, mediaId, 1.53), 0);
    return info;
}

// A driver page buffer of one colour (bytes 0, 1, 2 per pixel), from malloc.
uint8_t* Page(int64_t width, int64_t height, uint8_t r, uint8_t g, uint8_t b) {
    const int64_t stride = (width * 24 + 31) / 32 * 4;
    auto* p = static_cast<uint8_t*>(std::calloc(size_t(height), size_t(stride)));
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            p[y * stride + 3 * x] = r;
            p[y * stride + 3 * x + 1] = g;
            p[y * stride + 3 * x + 2] = b;
        }
    return p;
}

// A heap bitmap that owns a copy of a one-colour page.
struct Image {
    _tagBITMAPHANDLE bmp{};
    Image(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = Page(width, height, r, g, b);
        IL_CreateBitmap(&bmp, sizeof bmp, kILMemoryKind, width, height, 24, 1, nullptr,
                        kILLayoutCode, p, uint64_t((width * 24 + 31) / 32 * 4) * height);
        bmp.handle = bmp.data;
    }
    ~Image() { IL_FreeBitmap(&bmp); }
};

struct Result {
    _tagBITMAPHANDLE* bmp;
    explicit Result(_tagBITMAPHANDLE* b) : bmp(b) {}
    ~Result() {
        IL_FreeBitmap(bmp);
        std::free(bmp);
    }
};

// A buffer with neutral settings and no border.
void Neutral(PhotoImageBuffer& buffer, const DeviceMediaBufferInfo& media) {
    buffer.Alloc(media);
    buffer.m_border = false;
    buffer.m_icm = false;
}

qzm::stream::ParsedStream SendSheet(PhotoImageBuffer& buffer, const DeviceMediaBufferInfo& sheet,
                                    int32_t* status = nullptr) {
    DeviceEntry_QZM480 entry;
    StdoutCapture capture;
    const int32_t r = buffer.Send(reinterpret_cast<DeviceEntry*>(&entry), sheet);
    if (status != nullptr)
        *status = r;
    const auto bytes = capture.Stop();
    return ParseStream(bytes);
}

TEST(PhotoImageBuffer, TurnOntoPaperMovesPixelsCounterClockwise) {
    // 3 x 2 page; pixel value = 10 * row + column in all three bytes.
    uint8_t in[2 * 12] = {};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                in[y * 12 + 3 * x + c] = uint8_t(10 * y + x + c * 100);
    uint8_t* out = _TurnOntoPaper(in, 3, 2);
    ASSERT_NE(out, nullptr);
    const int stride = 8;                         // 2 pixels, padded
    EXPECT_EQ(out[0 * stride + 3 * 1], 0);        // (0,0) -> row 0, column 1
    EXPECT_EQ(out[2 * stride + 3 * 0], 12);       // (1,2) -> row 2, column 0
    EXPECT_EQ(out[2 * stride + 3 * 0 + 2], 212);  // bytes move together
    EXPECT_EQ(out[1 * stride + 3 * 0], 11);       // (1,1) -> row 1, column 0
    EXPECT_EQ(out[0 * stride + 6], 0);            // padding stays zero
    std::free(out);
}

TEST(PhotoImageBuffer, BorderShrinksInBandsOnWhiteCanvas) {
    const DeviceMediaBufferInfo media = Media(1);
    const float s = _BorderScale(media, 300);
    EXPECT_NEAR(s, 0.90074, 1e-5);

    // 300 dpi: bands of 1000 and 88 rows give 900 + 79 rows, row 979 white.
    PhotoImageBuffer buffer;
    buffer.Alloc(media);
    buffer.m_border = true;
    buffer.m_icm = false;
    Result r(buffer.ColorProcess(Page(1548, 1088, 128, 128, 128), 1548, 1088, 0));
    ASSERT_NE(r.bmp->data, nullptr);
    EXPECT_EQ(r.bmp->width, 1394);
    EXPECT_EQ(r.bmp->height, 980);
    EXPECT_EQ(r.bmp->colorOrder, 1u);
    const uint8_t* row978 = r.bmp->data + 978 * size_t(r.bmp->bytesPerLine);
    const uint8_t* row979 = r.bmp->data + 979 * size_t(r.bmp->bytesPerLine);
    EXPECT_EQ(row978[0], 128);
    EXPECT_EQ(row978[3 * 1393 + 2], 128);
    for (int x = 0; x < 3 * 1394; ++x)
        ASSERT_EQ(row979[x], 255) << x;

    // 600 dpi: the same scale; bands of 900, 900 and 158 rows leave two rows.
    const DeviceMediaBufferInfo media600 = Media(1, 600);
    EXPECT_EQ(_BorderScale(media600, 600), s);
    Image tall(1548, 2176, 40, 40, 40);
    ASSERT_TRUE(_ShrinkForBorder(&tall.bmp, s));
    EXPECT_EQ(tall.bmp.width, 1394);
    EXPECT_EQ(tall.bmp.height, 1960);
    const size_t bpl = size_t(tall.bmp.bytesPerLine);
    EXPECT_EQ(tall.bmp.data[1957 * bpl], 40);
    EXPECT_EQ(tall.bmp.data[1958 * bpl], 255);
    EXPECT_EQ(tall.bmp.data[1959 * bpl + 3 * 1393], 255);

    // A last band of one row scales to nothing and adds nothing.
    Image rows2001(10, 2001, 7, 7, 7);
    ASSERT_TRUE(_ShrinkForBorder(&rows2001.bmp, 0.9f));
    EXPECT_EQ(rows2001.bmp.height, 1800);
    EXPECT_EQ(rows2001.bmp.data[1799 * size_t(rows2001.bmp.bytesPerLine)], 7);
}

TEST(PhotoImageBuffer, ResolutionModesResample) {
    const DeviceMediaBufferInfo media = Media(1, 600);
    PhotoImageBuffer buffer;
    Neutral(buffer, media);
    buffer.m_resolution = 600;
    buffer.m_resolutionMode = 1;
    // Mode 1 without the paper turn keeps the size.
    {
        Result r(buffer.ColorProcess(Page(40, 30, 1, 2, 3), 40, 30, 0));
        EXPECT_EQ(r.bmp->width, 40);
        EXPECT_EQ(r.bmp->height, 30);
    }
    // With it, 1088 x 3096 turns to 3096 x 1088 and becomes 1548 x 2176.
    buffer.m_paperRotate = true;
    {
        Result r(buffer.ColorProcess(Page(1088, 3096, 9, 9, 9), 1088, 3096, 0));
        EXPECT_EQ(r.bmp->width, 1548);
        EXPECT_EQ(r.bmp->height, 2176);
    }
    // Mode 2 halves the width (truncated).
    buffer.m_paperRotate = false;
    buffer.m_resolutionMode = 2;
    Result r(buffer.ColorProcess(Page(41, 30, 1, 2, 3), 41, 30, 0));
    EXPECT_EQ(r.bmp->width, 20);
    EXPECT_EQ(r.bmp->height, 30);
}

TEST(PhotoImageBuffer, IccProfileChangesColoursAndAMissingOneIsSkipped) {
    PhotoImageBuffer buffer;
    Neutral(buffer, Media(1));
    Result plain(buffer.ColorProcess(Page(8, 8, 200, 60, 30), 8, 8, 0));
    buffer.m_icm = true;
    buffer.m_iccProfilePath = "/nonexistent/profile.icc";
    Result missing(buffer.ColorProcess(Page(8, 8, 200, 60, 30), 8, 8, 0));
    buffer.m_iccProfilePath = QZM480_PROFILE_DIR "/M480_0100.icc";
    Result matched(buffer.ColorProcess(Page(8, 8, 200, 60, 30), 8, 8, 0));
    ASSERT_EQ(plain.bmp->dataSize, matched.bmp->dataSize);
    EXPECT_EQ(std::memcmp(plain.bmp->data, missing.bmp->data, plain.bmp->dataSize), 0);
    EXPECT_NE(std::memcmp(plain.bmp->data, matched.bmp->data, plain.bmp->dataSize), 0);
}

TEST(PhotoImageBuffer, ColourAdjustmentActsPerChannelOnlyWhenOn) {
    PhotoImageBuffer buffer;
    Neutral(buffer, Media(1));
    buffer.m_gamma[0] = buffer.m_gamma[1] = buffer.m_gamma[2] = 100;
    buffer.m_brightness[0] = 300;  // red only
    Result off(buffer.ColorProcess(Page(4, 4, 100, 100, 100), 4, 4, 0));
    EXPECT_EQ(off.bmp->data[0], 100);
    buffer.m_colorAdjustment = true;
    Result on(buffer.ColorProcess(Page(4, 4, 100, 100, 100), 4, 4, 0));
    EXPECT_GT(on.bmp->data[0], 100);
}

TEST(PhotoImageBuffer, SendPlacesASingleImageWithBorderGeometry) {
    const DeviceMediaBufferInfo media = Media(1);
    PhotoImageBuffer buffer;
    buffer.Alloc(media);
    Image image(1394, 980, 10, 20, 30);
    buffer.SetImageData(0, &image.bmp);
    int32_t status = -1;
    const auto parsed = SendSheet(buffer, media, &status);
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    ASSERT_EQ(parsed.packets.size(), 3u);
    ASSERT_EQ(parsed.sheets.size(), 1u);
    const auto& sheet = parsed.sheets[0];
    // Cyan from byte 0, magenta byte 1, yellow byte 2; centred at (263, 54).
    const struct {
        const qzm::stream::Plane* plane;
        uint8_t value;
    } planes[] = {{&sheet.cyan, 10}, {&sheet.magenta, 20}, {&sheet.yellow, 30}};
    for (const auto& p : planes) {
        ASSERT_EQ(p.plane->width, 1920);
        ASSERT_EQ(p.plane->height, 1088);
        EXPECT_TRUE(p.plane->greyPalette);
        EXPECT_EQ(p.plane->StoredRow(54)[263], p.value);
        EXPECT_EQ(p.plane->StoredRow(54)[262], 255);
        EXPECT_EQ(p.plane->StoredRow(1033)[263 + 1393], p.value);
        EXPECT_EQ(p.plane->StoredRow(1033)[263 + 1394], 255);
        EXPECT_EQ(p.plane->StoredRow(53)[1000], 255);
        EXPECT_EQ(p.plane->StoredRow(1034)[1000], 255);
    }
    EXPECT_EQ(parsed.packets[0].payload.size(), parsed.packets[2].payload.size());
}

TEST(PhotoImageBuffer, SendPlacesTwoPanelsAPanelAndGapApart) {
    // 6 x 4 inch twin sheet: single outHeight 1240, gap 18, panels of 1240.
    const DeviceMediaBufferInfo single = Media(3);
    const DeviceMediaBufferInfo twin = Media(6);
    ASSERT_EQ(twin.outPanelGap, 18);
    PhotoImageBuffer buffer;
    buffer.Alloc(single);
    Image first(1000, 1000, 50, 50, 50);
    Image second(1000, 1000, 200, 200, 200);
    buffer.SetImageData(0, &first.bmp);
    buffer.SetImageData(1, &second.bmp);
    const auto parsed = SendSheet(buffer, twin);
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    ASSERT_EQ(parsed.sheets.size(), 1u);
    const auto& cyan = parsed.sheets[0].cyan;
    ASSERT_EQ(cyan.height, twin.outHeight);
    EXPECT_EQ(cyan.StoredRow(120)[460], 50);
    EXPECT_EQ(cyan.StoredRow(1119)[460], 50);
    EXPECT_EQ(cyan.StoredRow(1377)[460], 255);
    EXPECT_EQ(cyan.StoredRow(1258 + 120)[460], 200);
    EXPECT_EQ(cyan.StoredRow(1258 + 1119)[1459], 200);
    EXPECT_EQ(cyan.StoredRow(1258 + 1120)[460], 255);
}

TEST(PhotoImageBuffer, SendHeaderAndEmptySlots) {
    DeviceMediaBufferInfo sheet;
    sheet.headWidth = 1920;
    sheet.outHeight = 2176;
    sheet.outPanelHeight = 2176;
    sheet.outPanelCount = 1;
    sheet.hDpi = 300;
    sheet.vDpi = 600;
    PhotoImageBuffer buffer;
    DeviceEntry_QZM480 entry;
    StdoutCapture capture;
    EXPECT_EQ(buffer.Send(reinterpret_cast<DeviceEntry*>(&entry), sheet), 0);
    const auto bytes = capture.Stop();
    const size_t packet = 32 + 4179008;
    ASSERT_EQ(bytes.size(), 3 * packet);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 32),
              "\x1bPIMAGE YPLANE          04179008");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 2 * packet), 32),
              "\x1bPIMAGE CPLANE          04179008");
    // BMP header fields.
    const uint8_t* p = bytes.data() + 32;
    auto le4 = [&](int at) {
        return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
               uint32_t(p[at + 3]) << 24;
    };
    EXPECT_EQ(p[0], 'B');
    EXPECT_EQ(p[1], 'M');
    EXPECT_EQ(le4(2), 4179008u);
    EXPECT_EQ(le4(6), 0u);
    EXPECT_EQ(le4(10), 1088u);
    EXPECT_EQ(le4(14), 40u);
    EXPECT_EQ(le4(18), 1920u);
    EXPECT_EQ(le4(22), 2176u);
    EXPECT_EQ(p[26] | p[27] << 8, 1);
    EXPECT_EQ(p[28] | p[29] << 8, 8);
    EXPECT_EQ(le4(30), 0u);
    EXPECT_EQ(le4(34), 1920u * 2176u);
    EXPECT_EQ(le4(38), 11811u);
    EXPECT_EQ(le4(42), 23622u);
    EXPECT_EQ(le4(46), 256u);
    EXPECT_EQ(le4(50), 256u);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(le4(54 + 4 * i), uint32_t(i) | uint32_t(i) << 8 | uint32_t(i) << 16) << i;
    }
    for (int i = 1078; i < 1088; ++i)
        EXPECT_EQ(p[i], 0) << i;
    // Empty slots: every pixel byte of every plane is white.
    for (int plane = 0; plane < 3; ++plane) {
        const uint8_t* area = bytes.data() + plane * packet + 32 + 1088;
        for (size_t i = 0; i < 1920u * 2176u; ++i)
            ASSERT_EQ(area[i], 255) << plane << " " << i;
    }
}

TEST(PhotoImageBuffer, SetImageDataReplacesASlotAndIgnoresBadSlots) {
    PhotoImageBuffer buffer;
    Image a(4, 4, 1, 2, 3);
    buffer.SetImageData(3, &a.bmp);
    buffer.SetImageData(-1, &a.bmp);
    for (const auto& p : buffer.m_planes)
        EXPECT_EQ(p.data, nullptr);
    buffer.SetImageData(1, &a.bmp);
    EXPECT_EQ(buffer.m_planes[5].data[0], 1);  // cyan of slot 1 from byte 0
    EXPECT_EQ(buffer.m_planes[3].data[0], 3);  // yellow from byte 2
    _tagBITMAPHANDLE empty{};
    buffer.SetImageData(1, &empty);
    EXPECT_EQ(buffer.m_planes[5].data, nullptr);
}

}  // namespace
