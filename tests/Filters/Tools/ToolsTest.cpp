// The tools: reading command streams back (everything read is untrusted):
// packet framing, faults at their offsets, sheets of three planes, BMP
// headers that lie, sheet pictures, the inspector program; and the sample
// page program.
#include "StreamParser.h"

#include <gtest/gtest.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "DeviceCmd.h"
#include "PageSizes.h"
#include "SampleChart.h"
#include "SheetPng.h"
#include "Staging.h"

namespace {

using qzm::stream::ParseStream;
using qzm::test::RunShell;
using Bytes = std::vector<uint8_t>;

// Stream building: packets made with DeviceCmd and plane payloads in the
// printer's 8-bit BMP layout.
void Append(Bytes& stream, const char* command, const char* sub, const Bytes& payload) {
    DeviceCmd cmd(command, sub, payload.empty() ? -1 : int32_t(payload.size()),
                  payload.empty() ? nullptr : payload.data());
    stream.insert(stream.end(), cmd.m_data, cmd.m_data + cmd.m_length);
}

void Append(Bytes& stream, const char* command, const char* sub, const std::string& text) {
    Append(stream, command, sub, Bytes(text.begin(), text.end()));
}

// An 8-bit grey BMP as the printer takes it: 1088 bytes of headers and
// palette, then bottom-up rows padded to 4 bytes. value(storedRow, column).
Bytes PlaneBmp(int width, int height, const std::function<uint8_t(int, int)>& value) {
    const uint32_t row = (uint32_t(width) + 3) / 4 * 4;
    Bytes b(1088 + size_t(row) * height, 0);
    const uint32_t fields[][2] = {{2, uint32_t(b.size())}, {10, 1088}, {14, 40}, {18, uint32_t(width)},
                                  {22, uint32_t(height)}, {26, 1 | 8 << 16}, {34, row * uint32_t(height)},
                                  {38, 11811}, {42, 11811}, {46, 256}, {50, 256}};
    for (auto [at, v] : fields)
        for (int i = 0; i < 4; ++i)
            b[at + i] = uint8_t(v >> (8 * i));
    b[0] = 'B';
    b[1] = 'M';
    for (int i = 0; i < 256; ++i)
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = uint8_t(i);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b[1088 + size_t(y) * row + x] = value(y, x);
    return b;
}

TEST(StreamParser, FaultsAreReportedWithTheirOffset) {
    // A cut or damaged packet after one sound 40-byte packet, the offset of
    // the fault, and words of its message.
    const struct {
        std::string tail;
        uint64_t offset;
        const char* words;
    } faults[] = {
        {"\x1bPCNTRL START      ", 59, "truncated packet header"},
        {"\x1bPCNTRL PRINTSPEED      00000008123", 75, "8 bytes announced, 3 present"},
        {"\x1bPIMAGE YPLANE          99999999B", 73, "99999999 bytes announced, 1 present"},
        {"xPCNTRL START                   ", 40, "ESC"},
        {"\x1bQCNTRL START                   ", 41, "ESC"},
        {"\x1bPCNTRL PRINTSPEED      0000000x", 71, "length"},
        {"\x1bPCNTRL PRINTSPEED         12   ", 64, "length"},
        {"\x1bPCNTRL PRINTSPEED      -0000008", 64, "length"},
        {std::string("\x1bPC\0TRL START                   ", 32), 43, "command"},
        {"\x1bPCN TRLSTART                   ", 45, "command"},
        {"\x1bP      START                   ", 42, "empty"},
        {"\x1bPCNTRL ST ART                  ", 51, "sub-command"},
    };
    for (const auto& f : faults) {
        Bytes s;
        Append(s, "CNTRL", "PRINTSPEED", "00000030");
        s.insert(s.end(), f.tail.begin(), f.tail.end());
        const auto parsed = ParseStream(s);
        ASSERT_TRUE(parsed.error) << f.words;
        EXPECT_EQ(parsed.error->offset, f.offset) << parsed.error->message;
        EXPECT_NE(parsed.error->message.find(f.words), std::string::npos) << parsed.error->message;
        EXPECT_EQ(parsed.packets.size(), 1u) << f.words;  // the sound packet before the fault
    }
}

// A two-sheet stream whose planes are told apart by value: plane tag +
// 50 x sheet + 10 x stored row + column, 5 x 3 pixels.
Bytes TwoSheets() {
    Bytes s;
    Append(s, "IMAGE", "MULTICUT", "00000001");
    for (int sheet = 0; sheet < 2; ++sheet) {
        Append(s, "CNTRL", "CUTTER", "00000000");
        Append(s, "IMAGE", "MULTICUT", sheet == 0 ? "00000022" : "00000001");
        for (int plane = 0; plane < 3; ++plane) {
            static const char* const kNames[3] = {"YPLANE", "MPLANE", "CPLANE"};
            Append(s, "IMAGE", kNames[plane], PlaneBmp(5, 3, [&](int row, int col) {
                       return uint8_t(100 * plane + 50 * sheet + row * 10 + col);
                   }));
        }
        if (sheet == 0)
            Append(s, "CNTRL", "START", Bytes());
    }
    return s;
}

TEST(StreamParser, CollectsSheetsWithTheirPlanesAndRefusesBrokenOnes) {
    const auto parsed = ParseStream(TwoSheets());
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    ASSERT_EQ(parsed.sheets.size(), 2u);
    const auto& a = parsed.sheets[0];
    EXPECT_TRUE(a.number == 1 && a.multicutCode == 22 && a.started && a.offset == 120u);
    EXPECT_TRUE(a.cyan.greyPalette && a.cyan.xPixelsPerMeter == 11811u &&
                a.cyan.yPixelsPerMeter == 11811u);
    EXPECT_EQ(a.magenta.StoredRow(2)[4], 124);
    EXPECT_EQ(a.cyan.PictureRow(0)[1], 221);  // the top of the picture is the last stored row
    EXPECT_TRUE(parsed.sheets[1].multicutCode == 1 && !parsed.sheets[1].started);
    EXPECT_EQ(parsed.sheets[1].yellow.StoredRow(1)[3], 63);

    // A fault after complete planes keeps their sheet; a fault inside them does not.
    Bytes cut = TwoSheets();
    cut.pop_back();
    EXPECT_EQ(ParseStream(cut).sheets.size(), 1u);
    cut = TwoSheets();
    cut.push_back('x');
    EXPECT_EQ(ParseStream(cut).sheets.size(), 2u);

    const Bytes plane = PlaneBmp(4, 2, [](int, int) { return uint8_t(7); });
    const Bytes taller = PlaneBmp(4, 3, [](int, int) { return uint8_t(7); });
    const struct {
        std::vector<std::pair<const char*, const Bytes*>> packets;
        uint64_t offset;
    } broken[] = {
        {{{"YPLANE", &plane}, {"CPLANE", &plane}}, 32 + plane.size()},  // out of order
        {{{"YPLANE", &plane}, {"MPLANE", &taller}}, 32 + plane.size() + 32},
        {{{"YPLANE", &plane}, {"MPLANE", &plane}}, 0},  // ends inside the sheet at 0
    };
    for (const auto& b : broken) {
        Bytes s;
        for (auto [sub, payload] : b.packets)
            Append(s, "IMAGE", sub, *payload);
        const auto damaged = ParseStream(s);
        ASSERT_TRUE(damaged.error);
        EXPECT_EQ(damaged.error->offset, b.offset) << damaged.error->message;
    }
    Bytes multicut;
    Append(multicut, "IMAGE", "MULTICUT", "1");
    EXPECT_TRUE(ParseStream(multicut).error);
}

TEST(StreamParser, BmpHeaderThatLiesIsRefused) {
    const Bytes good = PlaneBmp(6, 4, [](int r, int c) { return uint8_t(r + c); });
    qzm::stream::Plane plane;
    std::string why;
    ASSERT_TRUE(qzm::stream::DecodePlaneBmp(good, plane, why)) << why;
    EXPECT_EQ(plane.pixels.size(), 24u);
    auto patched = [&](size_t at, uint32_t value, size_t width = 4) {
        Bytes b = good;
        for (size_t i = 0; i < width; ++i)
            b[at + i] = uint8_t(value >> (8 * i));
        return b;
    };
    const std::pair<const char*, Bytes> lies[] = {
        {"size field", patched(2, uint32_t(good.size() + 1))},
        {"height beyond the payload", patched(22, 1000000)},
        {"huge width", patched(18, 0x7FFFFFFF)},
        {"negative height", patched(22, uint32_t(-4))},
        {"zero width", patched(18, 0)},
        {"24 bits", patched(28, 24, 2)},
        {"compressed", patched(30, 1)},
        {"image size", patched(34, 17)},
        {"pixel offset", patched(10, 1089)},
        {"palette into the rows", patched(46, 300)},
        {"information header", patched(14, 108)},
        {"magic", patched(0, 'X', 1)},
        {"short", Bytes(good.begin(), good.begin() + 53)},
    };
    for (const auto& [what, bmp] : lies) {
        std::string reason;
        EXPECT_FALSE(qzm::stream::DecodePlaneBmp(bmp, plane, reason)) << what;
        EXPECT_FALSE(reason.empty()) << what;
    }
}

// The inspector lists packets, writes each sheet as a PNG (cyan as red,
// magenta green, yellow blue, top row first) and flags a damaged stream.
TEST(Inspect, ListsPacketsWritesSheetPicturesAndFlagsFaults) {
    qzm::test::TempRoot root;
    const std::string stream = root.Path() + "/job.prn";
    Bytes bytes = TwoSheets();
    std::ofstream(stream, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string out;
    ASSERT_EQ(RunShell(std::string(QZM480_INSPECT) + " --png " + root.Path() + "/png " + stream, &out), 0) << out;
    EXPECT_NE(out.find("IMAGE   MULTICUT                 8  \"00000001\""), std::string::npos) << out;
    EXPECT_NE(out.find("BMP 5 x 3"), std::string::npos) << out;
    EXPECT_NE(out.find("sheet 2 at offset"), std::string::npos) << out;
    for (const char* name : {"/png/sheet-001.png", "/png/sheet-002.png"}) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, (root.Path() + name).c_str())) << name;
        image.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
        ASSERT_EQ(image.width * image.height, 15u);
        const int sheet = name[13] - '1';
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                for (int c = 0; c < 3; ++c)  // stored row 2 - y of plane 2 - c
                    EXPECT_EQ(rgb[(y * 5 + x) * 3 + c], uint8_t(100 * (2 - c) + 50 * sheet + (2 - y) * 10 + x));
    }
    std::string error;
    EXPECT_FALSE(qzm::stream::WriteSheetPng(qzm::stream::Sheet(), root.Path() + "/x.png", error));

    bytes.resize(bytes.size() - 10);
    std::ofstream(stream, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_EQ(RunShell("cat " + stream + " | " + QZM480_INSPECT, &out), 1);
    EXPECT_NE(out.find("malformed stream at byte offset " + std::to_string(bytes.size())), std::string::npos)
        << out;
    EXPECT_EQ(RunShell(std::string(QZM480_INSPECT) + " " + root.Path() + "/missing", &out), 2);
}

// The sample page program: the raster it writes reads back with libcups as
// the header CUPS would give the page and exactly the sample chart's lines.
TEST(SampleProgram, WritesTheChartAsCupsWouldAndRefusesBadOptions) {
    qzm::test::TempRoot root;
    const std::string out = root.Path() + "/sample.ras";
    const struct {
        std::string args;
        const char* page;
        const char* resolution;
    } cases[] = {{" -o " + out, "153x102mm", "300dpi"},
                 {" --page-size 89x127mm --resolution 300x600dpi > " + out, "89x127mm", "300x600dpi"},
                 {" -s 153x102mmx2 -r 600x600dpi -o " + out, "153x102mmx2", "600x600dpi"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(RunShell(QZM480_SAMPLE + c.args), 0);
        const auto& page = *qzm::pages::FindPageSize(c.page);
        const auto& res = *qzm::pages::FindResolution(c.resolution);
        const auto g = qzm::pages::GeometryOf(page, res);
        const int fd = ::open(out.c_str(), O_RDONLY);
        cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h;
        ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
        EXPECT_TRUE(h.cupsColorSpace == CUPS_CSPACE_RGB && h.cupsColorOrder == CUPS_ORDER_CHUNKED &&
                    h.cupsBitsPerPixel == 24 && h.cupsBytesPerLine == 3u * g.width && h.NumCopies == 1);
        EXPECT_TRUE(h.HWResolution[0] == unsigned(res.xDpi) && h.HWResolution[1] == unsigned(res.yDpi));
        EXPECT_EQ(h.PageSize[0], unsigned(std::lround(page.widthDots * 72 / 300.0)));
        EXPECT_EQ(h.PageSize[1], unsigned(std::lround(page.heightDots * 72 / 300.0)));
        EXPECT_STREQ(h.cupsPageSizeName, c.page);
        ASSERT_EQ(h.cupsWidth, unsigned(g.width));
        ASSERT_EQ(h.cupsHeight, unsigned(g.height));
        const qzm::sample::SampleChart chart(g.width, g.height);
        std::vector<unsigned char> line(h.cupsBytesPerLine), expected(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            ASSERT_EQ(cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine), h.cupsBytesPerLine);
            chart.DrawRow(int(y), expected.data());
            ASSERT_EQ(line, expected) << "line " << y;
        }
        EXPECT_FALSE(cupsRasterReadHeader2(raster, &h)) << "only one page expected";
        cupsRasterClose(raster);
        ::close(fd);
    }
    EXPECT_EQ(RunShell(QZM480_SAMPLE " --page-size A4 -o " + out), 2);
    EXPECT_EQ(RunShell(QZM480_SAMPLE " --resolution 1200dpi -o " + out), 2);
    EXPECT_EQ(RunShell(QZM480_SAMPLE " --bogus"), 2);
    EXPECT_EQ(RunShell(QZM480_SAMPLE " -o " + root.Path() + "/no/dir/x.ras"), 1);
}

}  // namespace
