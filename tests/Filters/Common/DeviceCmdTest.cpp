#include "DeviceCmd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../Support/ByteCompare.h"

using qzm::test::BytesEqual;

namespace {

std::string Header(const std::string& command, const std::string& sub, const std::string& len) {
    std::string h = "\x1bP";
    h += command + std::string(6 - command.size(), ' ');
    h += sub + std::string(16 - sub.size(), ' ');
    h += len;
    return h;
}

TEST(DeviceCmdTest, StartCommandIsHeaderOnly) {
    DeviceCmd cmd;
    ASSERT_EQ(cmd.MakeCmd("CNTRL", "START", -1, nullptr), 0);
    EXPECT_TRUE(BytesEqual(cmd.m_data, cmd.m_length, Header("CNTRL", "START", "        ")));
    EXPECT_EQ(cmd.m_data[32], 0);
    EXPECT_EQ(cmd.m_data[33], 0);
}

TEST(DeviceCmdTest, PrintSpeedCarriesTextPayload) {
    DeviceCmd cmd("CNTRL", "PRINTSPEED", 8, "00000030");
    EXPECT_TRUE(BytesEqual(cmd.m_data, cmd.m_length,
                           Header("CNTRL", "PRINTSPEED", "00000008") + "00000030"));
}

TEST(DeviceCmdTest, MissingPayloadGivesBlankLengthField) {
    DeviceCmd a("INFO", "FVER", 0, "x");
    EXPECT_TRUE(BytesEqual(a.m_data, a.m_length, Header("INFO", "FVER", "        ")));
    DeviceCmd b("INFO", "FVER", 5, nullptr);
    EXPECT_TRUE(BytesEqual(b.m_data, b.m_length, Header("INFO", "FVER", "        ")));
}

TEST(DeviceCmdTest, FieldLimits) {
    DeviceCmd cmd;
    EXPECT_EQ(cmd.MakeCmd("ABCDEF", "0123456789ABCDEF", -1, nullptr), 0);
    EXPECT_TRUE(
        BytesEqual(cmd.m_data, cmd.m_length, Header("ABCDEF", "0123456789ABCDEF", "        ")));

    EXPECT_EQ(cmd.MakeCmd("ABCDEFG", "X", -1, nullptr), 3);
    EXPECT_EQ(cmd.m_data, nullptr);
    EXPECT_EQ(cmd.m_length, 0);

    EXPECT_EQ(cmd.MakeCmd("A", "0123456789ABCDEFG", -1, nullptr), 3);
    EXPECT_EQ(cmd.m_data, nullptr);
    EXPECT_EQ(cmd.m_length, 0);
}

TEST(DeviceCmdTest, NullSubCommand) {
    DeviceCmd cmd;
    EXPECT_EQ(cmd.MakeCmd("STATUS", nullptr, -1, nullptr), 0);
    EXPECT_TRUE(BytesEqual(cmd.m_data, cmd.m_length, Header("STATUS", "", "        ")));
    EXPECT_EQ(cmd.MakeCmd("STATUS", nullptr, 3, "abc"), 3);
    EXPECT_EQ(cmd.m_data, nullptr);
    EXPECT_EQ(cmd.m_length, 0);
}

TEST(DeviceCmdTest, RebuildReplacesPacket) {
    DeviceCmd cmd("IMAGE", "MULTICUT", 8, "00000001");
    EXPECT_EQ(cmd.m_length, 40);
    EXPECT_EQ(cmd.MakeCmd("CNTRL", "START", -1, nullptr), 0);
    EXPECT_EQ(cmd.m_length, 32);
    EXPECT_EQ(cmd.Free(), 0);
    EXPECT_EQ(cmd.m_data, nullptr);
    EXPECT_EQ(cmd.Free(), 0);
}

TEST(DeviceCmdTest, PayloadBeyondEightDigitsIsRefused) {
    // The pointer is never read: the length is refused first.
    static const char byte = 0;
    DeviceCmd cmd;
    EXPECT_EQ(cmd.MakeCmd("IMAGE", "YPLANE", 100000000, &byte), 3);
    EXPECT_EQ(cmd.m_data, nullptr);
    EXPECT_EQ(cmd.m_length, 0);
}

TEST(DeviceCmdTest, LargestFramablePayload) {
    std::vector<char> payload(99999999, 'z');
    DeviceCmd cmd("IMAGE", "YPLANE", static_cast<int32_t>(payload.size()), payload.data());
    ASSERT_EQ(cmd.m_length, 32 + 99999999);
    EXPECT_EQ(std::memcmp(cmd.m_data + 24, "99999999", 8), 0);
    EXPECT_EQ(cmd.m_data[cmd.m_length - 1], 'z');
}

TEST(StoreLETest, LittleEndianUnaligned) {
    unsigned char bytes[7] = {};
    _StoreLE4(bytes + 1, 1088);
    EXPECT_TRUE(BytesEqual(bytes + 1, 4, std::string("\x40\x04\x00\x00", 4)));
    _StoreLE2(bytes + 5, 0x12345678);
    EXPECT_EQ(bytes[5], 0x78);
    EXPECT_EQ(bytes[6], 0x56);
}

TEST(TextToIntTest, ReadsFixedWidthLikeAtoi) {
    EXPECT_EQ(_TextToInt("00000120", 8), 120);
    EXPECT_EQ(_TextToInt("        ", 8), 0);
    EXPECT_EQ(_TextToInt("0000012099", 8), 120);  // only 8 characters are read
    EXPECT_EQ(_TextToInt("  -42abc", 8), -42);
    EXPECT_EQ(_TextToInt("abc", 3), 0);
    EXPECT_EQ(_TextToInt("123", 0), 0);
    EXPECT_EQ(_TextToInt("123", 512), -1);
    EXPECT_EQ(_TextToInt("123", -1), -1);
}

TEST(TextToIntTest, SaturatesInsteadOfOverflowing) {
    const std::string big(511, '9');
    EXPECT_EQ(_TextToInt(big.c_str(), 511), 2147483647);
    const std::string small = "-" + std::string(510, '9');
    EXPECT_EQ(_TextToInt(small.c_str(), 511), -2147483647 - 1);
}

}  // namespace
