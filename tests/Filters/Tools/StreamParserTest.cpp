// Reading command streams back (everything read is untrusted): packet
// framing, faults at their offsets, sheets of three planes, BMP headers that
// lie, sheet pictures, and the inspector program.
#include "StreamParser.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "SheetPng.h"
#include "StreamTestSupport.h"

namespace {

using qzm::stream::ParseStream;
using qzm::test::Append;
using qzm::test::Bytes;
using qzm::test::PlaneBmp;

// A cut or damaged packet after one sound 40-byte packet, reported at the
// offset of the fault.
struct Fault {
    const char* name;
    std::string tail;
    uint64_t offset;
    const char* words;  // expected in the message
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

class StreamFaults : public testing::TestWithParam<Fault> {};

TEST_P(StreamFaults, AreReportedWithTheirOffset) {
    Bytes s;
    Append(s, "CNTRL", "PRINTSPEED", "00000030");
    s.insert(s.end(), GetParam().tail.begin(), GetParam().tail.end());
    const auto parsed = ParseStream(s);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->offset, GetParam().offset) << parsed.error->message;
    EXPECT_NE(parsed.error->message.find(GetParam().words), std::string::npos) << parsed.error->message;
    ASSERT_EQ(parsed.packets.size(), 1u);  // the sound packet before the fault
}

INSTANTIATE_TEST_SUITE_P(
    StreamParser, StreamFaults,
    testing::Values(
        Fault{"HeaderCut", "\x1bPCNTRL START      ", 59, "truncated packet header"},
        Fault{"PayloadCut", "\x1bPCNTRL PRINTSPEED      00000008123", 75, "8 bytes announced, 3 present"},
        Fault{"HugeLengthCut", "\x1bPIMAGE YPLANE          99999999B", 73, "99999999 bytes announced, 1 present"},
        Fault{"NoEscape", "xPCNTRL START                   ", 40, "ESC"},
        Fault{"NoP", "\x1bQCNTRL START                   ", 41, "ESC"},
        Fault{"LetterInLength", "\x1bPCNTRL PRINTSPEED      0000000x", 71, "length"},
        Fault{"SpacesInLength", "\x1bPCNTRL PRINTSPEED         12   ", 64, "length"},
        Fault{"SignInLength", "\x1bPCNTRL PRINTSPEED      -0000008", 64, "length"},
        Fault{"NulInCommand", std::string("\x1bPC\0TRL START                   ", 32), 43, "command"},
        Fault{"GapInCommand", "\x1bPCN TRLSTART                   ", 45, "command"},
        Fault{"BlankCommand", "\x1bP      START                   ", 42, "empty"},
        Fault{"GapInSubCommand", "\x1bPCNTRL ST ART                  ", 51, "sub-command"}),
    [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_TRUE(a.cyan.greyPalette && a.cyan.xPixelsPerMeter == 11811u);
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

// Runs a shell command; returns its exit status and what it wrote.
int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The inspector lists packets, writes each sheet as a PNG (cyan as red,
// magenta green, yellow blue, top row first) and flags a damaged stream.
TEST(Inspect, ListsPacketsWritesSheetPicturesAndFlagsFaults) {
    qzm::test::TempRoot root;
    const std::string stream = root.Path() + "/job.prn";
    Bytes bytes = TwoSheets();
    std::ofstream(stream, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string out;
    ASSERT_EQ(RunCommand(std::string(QZM480_INSPECT) + " --png " + root.Path() + "/png " + stream, out), 0) << out;
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
    EXPECT_EQ(RunCommand("cat " + stream + " | " + QZM480_INSPECT, out), 1);
    EXPECT_NE(out.find("malformed stream at byte offset " + std::to_string(bytes.size())), std::string::npos)
        << out;
    EXPECT_EQ(RunCommand(std::string(QZM480_INSPECT) + " " + root.Path() + "/missing", out), 2);
}

}  // namespace
