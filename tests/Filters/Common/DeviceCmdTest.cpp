// The command packet: exact bytes of built packets, refusals that leave the
// object empty, and the little-endian and fixed-width number helpers.
#include "DeviceCmd.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "../../Support/ByteCompare.h"

using qzm::test::BytesEqual;

namespace {

std::string Header(const std::string& command, const std::string& sub, const std::string& len) {
    return "\x1bP" + command + std::string(6 - command.size(), ' ') + sub +
           std::string(16 - sub.size(), ' ') + len;
}
const std::string kBlank(8, ' ');

struct Build {
    const char *command, *sub;
    int32_t length;
    const char* payload;
    int result;
    std::string bytes;  // the whole packet; empty when refused
};

TEST(DeviceCmdTest, BuildsExactPacketsOrRefusesLeavingItEmpty) {
    static const char byte = 0;  // never read: the length is refused first
    const Build cases[] = {
        {"CNTRL", "START", -1, nullptr, 0, Header("CNTRL", "START", kBlank)},
        {"CNTRL", "PRINTSPEED", 8, "00000030", 0, Header("CNTRL", "PRINTSPEED", "00000008") + "00000030"},
        {"INFO", "FVER", 0, "x", 0, Header("INFO", "FVER", kBlank)},
        {"INFO", "FVER", 5, nullptr, 0, Header("INFO", "FVER", kBlank)},
        {"ABCDEF", "0123456789ABCDEF", -1, nullptr, 0, Header("ABCDEF", "0123456789ABCDEF", kBlank)},
        {"STATUS", nullptr, -1, nullptr, 0, Header("STATUS", "", kBlank)},
        {"STATUS", nullptr, 3, "abc", 3, ""},
        {"ABCDEFG", "X", -1, nullptr, 3, ""},
        {"A", "0123456789ABCDEFG", -1, nullptr, 3, ""},
        {nullptr, "START", -1, nullptr, 3, ""},
        {"IMAGE", "YPLANE", 100000000, &byte, 3, ""},
    };
    for (const Build& c : cases) {
        SCOPED_TRACE(c.bytes.empty() ? "refused" : c.bytes.substr(2, 22));
        DeviceCmd cmd("IMAGE", "MULTICUT", 8, "00000001");  // a packet held before
        ASSERT_EQ(cmd.MakeCmd(c.command, c.sub, c.length, c.payload), c.result);
        if (c.bytes.empty()) {
            EXPECT_TRUE(cmd.m_data == nullptr && cmd.m_length == 0);
            continue;
        }
        EXPECT_GE(malloc_usable_size(cmd.m_data), size_t(cmd.m_length) + 2);
        EXPECT_TRUE(BytesEqual(cmd.m_data, cmd.m_length + 2, c.bytes + std::string(2, '\0')));
        EXPECT_EQ(cmd.Free(), 0);  // the two zero bytes after the packet are never sent
        EXPECT_TRUE(cmd.m_data == nullptr && cmd.m_length == 0);
    }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves the address space limited here
// Builds the largest packet with the address space limited to what the
// process uses plus 16 MiB; exits 0 when the object was left empty.
[[noreturn]] void BuildWithoutRoom(const std::vector<char>& payload) {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1)
        std::exit(2);
    const rlim_t size = rlim_t(pages) * 4096 + (16 << 20);
    const rlimit limit{size, size};
    setrlimit(RLIMIT_AS, &limit);
    DeviceCmd cmd;
    const int rc = cmd.MakeCmd("IMAGE", "YPLANE", int32_t(payload.size()), payload.data());
    std::exit(rc == 2 && cmd.m_data == nullptr && cmd.m_length == 0 ? 0 : 1);
}
#endif

TEST(DeviceCmdTest, LargestFramablePayloadAndNoMemory) {
    std::vector<char> payload(DeviceCmd::kMaxPayloadLength, 'z');
    {
        DeviceCmd cmd("IMAGE", "YPLANE", int32_t(payload.size()), payload.data());
        ASSERT_EQ(cmd.m_length, 32 + 99999999);
        EXPECT_TRUE(BytesEqual(cmd.m_data + 24, 9, std::string("99999999z")));
        EXPECT_EQ(cmd.m_data[cmd.m_length - 1], 'z');
    }
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_EXIT(BuildWithoutRoom(payload), testing::ExitedWithCode(0), "");
#endif
}

TEST(StoreLETest, LittleEndianUnaligned) {
    unsigned char bytes[8] = {};
    _StoreLE4(bytes + 1, 0x87654321);
    _StoreLE2(bytes + 5, 0x12345678);
    EXPECT_TRUE(BytesEqual(bytes, 8, std::string("\0\x21\x43\x65\x87\x78\x56\0", 8)));
}

TEST(TextToIntTest, ReadsExactlyWidthCharactersLikeAtoiAndSaturates) {
    const std::string big(511, '9');
    const std::string small = "-" + std::string(510, '9');
    const struct {
        const char* text;
        int width, value;
    } cases[] = {
        {"00000120", 8, 120},   {"        ", 8, 0},  {"0000012099", 8, 120}, {"  -42abc", 8, -42},
        {"abc", 3, 0},          {"7", 1, 7},         {"123", 0, 0},          {"123", 512, -1},
        {"123", -1, -1},        {big.c_str(), 511, INT_MAX},                 {small.c_str(), 511, INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(_TextToInt(c.text, c.width), c.value) << c.text << " / " << c.width;
}

}  // namespace
