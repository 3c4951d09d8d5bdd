#include "StreamParser.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "../../Support/TempRoot.h"
#include "SheetPng.h"
#include "StreamTestSupport.h"

namespace {

using qzm::stream::ParseStream;
using qzm::test::Append;
using qzm::test::Bytes;
using qzm::test::PlaneBmp;

Bytes Header(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(StreamParser, ReadsTheFieldsOfEachPacket) {
    Bytes s;
    Append(s, "IMAGE", "MULTICUT", "00000001");
    Append(s, "CNTRL", "START", Bytes());
    Append(s, "ABCDEF", "0123456789ABCDEF", "x");
    Append(s, "STATUS", nullptr, Bytes());
    const auto parsed = ParseStream(s);
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    ASSERT_EQ(parsed.packets.size(), 4u);
    const auto& p = parsed.packets;
    EXPECT_EQ(p[0].offset, 0u);
    EXPECT_TRUE(p[0].Is("IMAGE", "MULTICUT"));
    EXPECT_TRUE(p[0].hasLength);
    EXPECT_EQ(p[0].ShortText().value_or(""), "00000001");
    EXPECT_EQ(p[1].offset, 40u);
    EXPECT_TRUE(p[1].Is("CNTRL", "START"));
    EXPECT_FALSE(p[1].hasLength);
    EXPECT_TRUE(p[1].payload.empty());
    EXPECT_EQ(p[2].offset, 72u);
    EXPECT_TRUE(p[2].Is("ABCDEF", "0123456789ABCDEF"));
    EXPECT_EQ(p[3].offset, 105u);
    EXPECT_TRUE(p[3].Is("STATUS", ""));
    EXPECT_TRUE(parsed.sheets.empty());
    EXPECT_TRUE(ParseStream(Bytes()).packets.empty());
    EXPECT_FALSE(ParseStream(Bytes()).error);
}

// A stream that is cut or damaged is reported at the offset of the fault.
struct Fault {
    const char* name;
    Bytes tail;         // appended after one sound 40-byte packet
    uint64_t offset;    // expected offset of the fault
    const char* words;  // expected in the message
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

class StreamFaults : public testing::TestWithParam<Fault> {};

TEST_P(StreamFaults, AreReportedWithTheirOffset) {
    Bytes s;
    Append(s, "CNTRL", "PRINTSPEED", "00000030");
    const Fault& f = GetParam();
    s.insert(s.end(), f.tail.begin(), f.tail.end());
    const auto parsed = ParseStream(s);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->offset, f.offset) << parsed.error->message;
    EXPECT_NE(parsed.error->message.find(f.words), std::string::npos) << parsed.error->message;
    ASSERT_EQ(parsed.packets.size(), 1u);  // the sound packet before the fault
}

INSTANTIATE_TEST_SUITE_P(
    StreamParser, StreamFaults,
    testing::Values(
        Fault{"HeaderCut", Header("\x1bPCNTRL START      "), 59, "truncated packet header"},
        Fault{"PayloadCut", Header("\x1bPCNTRL PRINTSPEED      00000008123"), 75,
              "8 bytes announced, 3 present"},
        Fault{"HugeLengthCut", Header("\x1bPIMAGE YPLANE          99999999B"), 73,
              "99999999 bytes announced, 1 present"},
        Fault{"NoEscape", Header("xPCNTRL START                   "), 40, "ESC"},
        Fault{"NoP", Header("\x1bQCNTRL START                   "), 41, "ESC"},
        Fault{"LetterInLength", Header("\x1bPCNTRL PRINTSPEED      0000000x"), 71, "length"},
        Fault{"SpacesInLength", Header("\x1bPCNTRL PRINTSPEED         12   "), 64, "length"},
        Fault{"SignInLength", Header("\x1bPCNTRL PRINTSPEED      -0000008"), 64, "length"},
        Fault{"NulInCommand", Header(std::string("\x1bPC\0TRL START                   ", 32)), 43,
              "command"},
        Fault{"GapInCommand", Header("\x1bPCN TRLSTART                   "), 45, "command"},
        Fault{"BlankCommand", Header("\x1bP      START                   "), 42, "empty"},
        Fault{"GapInSubCommand", Header("\x1bPCNTRL ST ART                  "), 51, "sub-command"}),
    [](const auto& info) { return std::string(info.param.name); });

// A two-sheet stream whose planes are told apart by value.
Bytes TwoSheets() {
    Bytes s;
    Append(s, "IMAGE", "MULTICUT", "00000001");
    for (int sheet = 0; sheet < 2; ++sheet) {
        Append(s, "CNTRL", "CUTTER", "00000000");
        Append(s, "IMAGE", "MULTICUT", sheet == 0 ? "00000022" : "00000001");
        // width 5 (rows padded to 8), height 3; value = plane tag + stored row * 10 + column
        for (int plane = 0; plane < 3; ++plane) {
            static const char* const kNames[3] = {"YPLANE", "MPLANE", "CPLANE"};
            Append(s, "IMAGE", kNames[plane], PlaneBmp(5, 3, [&](int row, int col) {
                       return uint8_t(100 * plane + 50 * sheet + row * 10 + col);
                   }));
        }
        if (sheet == 0) {
            Append(s, "CNTRL", "START", Bytes());
        }
    }
    return s;
}

TEST(StreamParser, CollectsSheetsWithTheirPlanes) {
    const auto parsed = ParseStream(TwoSheets());
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    ASSERT_EQ(parsed.sheets.size(), 2u);
    const auto& a = parsed.sheets[0];
    EXPECT_EQ(a.number, 1);
    EXPECT_EQ(a.multicutCode, 22);
    EXPECT_TRUE(a.started);
    EXPECT_EQ(a.offset, 120u);
    EXPECT_TRUE(a.cyan.greyPalette);
    EXPECT_EQ(a.cyan.xPixelsPerMeter, 11811u);
    ASSERT_EQ(a.yellow.width, 5);
    ASSERT_EQ(a.yellow.height, 3);
    EXPECT_EQ(a.yellow.StoredRow(0)[0], 0);
    EXPECT_EQ(a.magenta.StoredRow(2)[4], 124);
    EXPECT_EQ(a.cyan.PictureRow(0)[1], 221);  // the top of the picture is the last stored row
    const auto& b = parsed.sheets[1];
    EXPECT_EQ(b.number, 2);
    EXPECT_EQ(b.multicutCode, 1);
    EXPECT_FALSE(b.started);
    EXPECT_EQ(b.yellow.StoredRow(1)[3], 63);

    // A fault after complete planes keeps their sheet; a fault inside them does not.
    Bytes cut = TwoSheets();
    cut.resize(cut.size() - 1);
    auto damaged = ParseStream(cut);
    EXPECT_TRUE(damaged.error);
    EXPECT_EQ(damaged.sheets.size(), 1u);
    Bytes tail = TwoSheets();
    tail.push_back('x');
    damaged = ParseStream(tail);
    EXPECT_TRUE(damaged.error);
    EXPECT_EQ(damaged.sheets.size(), 2u);
}

TEST(StreamParser, SheetPlanesOutOfOrderOrIncompleteAreFaults) {
    const Bytes plane = PlaneBmp(4, 2, [](int, int) { return uint8_t(7); });
    Bytes wrongOrder;
    Append(wrongOrder, "IMAGE", "YPLANE", plane);
    Append(wrongOrder, "IMAGE", "CPLANE", plane);
    auto parsed = ParseStream(wrongOrder);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->offset, 32u + plane.size());
    EXPECT_NE(parsed.error->message.find("IMAGE/MPLANE was expected"), std::string::npos);

    Bytes interrupted;
    Append(interrupted, "IMAGE", "YPLANE", plane);
    Append(interrupted, "CNTRL", "START", Bytes());
    EXPECT_TRUE(ParseStream(interrupted).error);

    Bytes cut;
    Append(cut, "IMAGE", "YPLANE", plane);
    Append(cut, "IMAGE", "MPLANE", plane);
    parsed = ParseStream(cut);
    ASSERT_TRUE(parsed.error);
    EXPECT_NE(parsed.error->message.find("ends inside the planes"), std::string::npos);

    Bytes sizes;
    Append(sizes, "IMAGE", "YPLANE", plane);
    Append(sizes, "IMAGE", "MPLANE", PlaneBmp(4, 3, [](int, int) { return uint8_t(7); }));
    parsed = ParseStream(sizes);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->offset, 32u + plane.size() + 32u);

    Bytes multicut;
    Append(multicut, "IMAGE", "MULTICUT", "1");
    EXPECT_TRUE(ParseStream(multicut).error);
}

// A BMP header that lies about the payload it describes is refused.
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
    const struct {
        const char* what;
        Bytes bmp;
    } lies[] = {
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
    for (const auto& lie : lies) {
        qzm::stream::Plane p;
        std::string reason;
        EXPECT_FALSE(qzm::stream::DecodePlaneBmp(lie.bmp, p, reason)) << lie.what;
        EXPECT_FALSE(reason.empty()) << lie.what;
    }

    Bytes s;
    Append(s, "IMAGE", "YPLANE", patched(22, 1000000));
    const auto parsed = ParseStream(s);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->offset, 32u);
}

// Reads a PNG back with libpng as 8-bit RGB.
bool ReadPng(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    width = int(image.width);
    height = int(image.height);
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
}

TEST(SheetPng, CyanIsRedMagentaGreenYellowBlueTopRowFirst) {
    qzm::test::TempRoot root;
    const auto parsed = ParseStream(TwoSheets());
    ASSERT_EQ(parsed.sheets.size(), 2u);
    const std::string path = root.Path() + "/" + qzm::stream::SheetPngName(1);
    EXPECT_EQ(qzm::stream::SheetPngName(1), "sheet-001.png");
    std::string error;
    ASSERT_TRUE(qzm::stream::WriteSheetPng(parsed.sheets[0], path, error)) << error;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReadPng(path, w, h, rgb));
    ASSERT_EQ(w, 5);
    ASSERT_EQ(h, 3);
    for (int y = 0; y < 3; ++y) {
        const int stored = 2 - y;
        for (int x = 0; x < 5; ++x) {
            const uint8_t* px = &rgb[(size_t(y) * 5 + x) * 3];
            EXPECT_EQ(px[0], 200 + stored * 10 + x) << "cyan at " << x << "," << y;
            EXPECT_EQ(px[1], 100 + stored * 10 + x) << "magenta at " << x << "," << y;
            EXPECT_EQ(px[2], 0 + stored * 10 + x) << "yellow at " << x << "," << y;
        }
    }
    EXPECT_FALSE(qzm::stream::WriteSheetPng(qzm::stream::Sheet(), path, error));
    EXPECT_FALSE(
        qzm::stream::WriteSheetPng(parsed.sheets[0], root.Path() + "/no/such/folder.png", error));
}

// The inspector program as people run it.
int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Inspect, ListsPacketsWritesPngsAndFlagsFaults) {
    qzm::test::TempRoot root;
    const std::string stream = root.Path() + "/job.prn";
    Bytes bytes = TwoSheets();
    std::ofstream(stream, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::string out;
    ASSERT_EQ(
        RunCommand(std::string(QZM480_INSPECT) + " --png " + root.Path() + "/png " + stream, out),
        0)
        << out;
    EXPECT_NE(out.find("IMAGE   MULTICUT                 8  \"00000001\""), std::string::npos)
        << out;
    EXPECT_NE(out.find("BMP 5 x 3"), std::string::npos) << out;
    EXPECT_NE(out.find("sheet 2 at offset"), std::string::npos) << out;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    EXPECT_TRUE(ReadPng(root.Path() + "/png/sheet-001.png", w, h, rgb));
    EXPECT_TRUE(ReadPng(root.Path() + "/png/sheet-002.png", w, h, rgb));

    bytes.resize(bytes.size() - 10);
    std::ofstream(stream, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(RunCommand("cat " + stream + " | " + QZM480_INSPECT, out), 1);
    EXPECT_NE(out.find("malformed stream at byte offset " + std::to_string(bytes.size())),
              std::string::npos)
        << out;
    EXPECT_EQ(RunCommand(std::string(QZM480_INSPECT) + " " + root.Path() + "/missing", out), 2);
}

}  // namespace
