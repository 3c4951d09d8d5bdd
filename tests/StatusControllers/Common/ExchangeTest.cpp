// Commands, answers and the status queries against the emulated printer.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "EmulatedPrinter.h"
#include "PhotoPrinterDevice.h"
#include "StatusQueries.h"
#include "UsbTransport.h"

using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;

namespace {

std::vector<uint32_t> Lengths(const EmulatedPrinter& printer, Transfer::Kind kind) {
    std::vector<uint32_t> lengths;
    for (const Transfer& t : printer.Transfers()) {
        if (t.kind == kind) {
            lengths.push_back(t.length);
        }
    }
    return lengths;
}

// A printer with its interface open.
struct Attached {
    std::shared_ptr<EmulatedPrinter> printer;
    std::unique_ptr<qzm::usb::UsbInterface> intf;
    explicit Attached(PrinterState state = {})
        : printer(EmulatedPrinter::Create(std::move(state))), intf(printer->CreateInterface()) {
        EXPECT_EQ(intf->OpenSeize(), 0);
    }
};

using TextQuery = int64_t (*)(qzm::usb::UsbInterface*, char*, size_t);
const struct {
    TextQuery query;
    const char* command;
    const char* sub;
    std::string PrinterState::*field;
} kTextQueries[] = {
    {GetSerialNo, "INFO", "SERIAL_NUMBER", &PrinterState::serial},
    {GetFirmVersion, "INFO", "FVER", &PrinterState::firmware},
    {GetMediaSize, "INFO", "MEDIA", &PrinterState::mediaSize},
    {GetMediaInitial, "INFO", "MQTY_DEFAULT", &PrinterState::mediaInitial},
    {GetMediaRemain, "INFO", "MQTY", &PrinterState::mediaRemain},
    {GetTotalCount, "MNT_RD", "COUNTER_LIFE", &PrinterState::lifeCounter},
    {GetMediaRemainHalf, "INFO", "RQTY", &PrinterState::mediaRemainHalf},
    {GetMediaClass, "INFO", "MEDIA_CLASS_RFID", &PrinterState::mediaClass},
};

TEST(TransportTest, WritesCommandsInPiecesThatJoinUp) {
    const struct {
        int payload;
        std::vector<uint32_t> pieces;
    } cases[] = {
        {0, {32}}, {479, {511}}, {480, {256, 256}}, {568, {344, 256}}, {69968, {65536, 4208, 256}},
    };
    for (const auto& c : cases) {
        Attached a;
        std::vector<uint8_t> payload(c.payload);
        for (size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<uint8_t>(i * 7);
        }
        DeviceCmd cmd("IMAGE", "YPLANE", c.payload, payload.data());
        ASSERT_EQ(deviceWrite(a.intf.get(), cmd.m_data, cmd.m_length), 0);
        EXPECT_EQ(Lengths(*a.printer, Transfer::Kind::kBulkOut), c.pieces) << c.payload;
        ASSERT_EQ(a.printer->Packets().size(), 1u);
        EXPECT_EQ(a.printer->Packets()[0].payload, payload);
        EXPECT_EQ(a.printer->Transfers()[0].pipe, outPipeRef);
    }
    // Arguments refused before anything reaches the printer.
    Attached a;
    auto* intf = a.intf.get();
    uint8_t small[4] = {};
    DeviceRecv none(0, nullptr);
    int written = 0;
    for (const int result :
         {deviceWrite(nullptr, small, 1), deviceWrite(intf, nullptr, 1),
          deviceWrite(intf, small, 0), deviceRead(intf, small, 4), deviceRead(intf, nullptr, 100),
          deviceRead(intf, none), USB_Write(nullptr, small, 1, &written),
          USB_Write(intf, small, 1, nullptr), USB_Read(nullptr, small, 4)}) {
        EXPECT_EQ(result, kResultInvalid);
    }
    EXPECT_TRUE(a.printer->Transfers().empty());
    a.printer->Remove();
    std::vector<uint8_t> data(600);
    EXPECT_EQ(deviceWrite(a.intf.get(), data.data(), 600), kResultCannotStart);
    EXPECT_EQ(USB_Read(a.intf.get(), small, 4), kResultCannotStart);
    EXPECT_EQ(deviceRead(a.intf.get(), data.data(), 600), kResultCannotStart);
    EXPECT_TRUE(a.printer->Transfers().empty());
}

TEST(TransportTest, AnswerHeadersAndReads) {
    const std::string full(4088, 'x');
    const struct {
        std::string raw;
        int result;
        std::vector<uint32_t> reads;
    } cases[] = {
        {"00000012ABCDEFGHIJK\r", 0, {8, 12}},
        {"0000001A" + std::string(26, 'x'), 3, {8}},
        {"0000 012" + std::string(12, 'x'), 3, {8}},
        {"-0000012" + std::string(12, 'x'), 3, {8}},
        {"0000\xB0" "12" + std::string(12, 'x'), 3, {8}},
        {"00000000", 3, {8}},
        {"00004089" + full + "x", 3, {8}},
        {"00004088" + full, 0, {8, 4088}},
        // The data never arrives: the read times out, the zero fill stays.
        {"00000012", 0, {8, 12}},
    };
    for (const auto& c : cases) {
        Attached a;
        DeviceRecv response(DeviceRecv::kVariableLength, nullptr);
        a.printer->SetRawAnswer("STATUS", "", c.raw);
        DeviceCmd query("STATUS", nullptr, 0, nullptr);
        ASSERT_EQ(deviceWrite(a.intf.get(), query.m_data, query.m_length), 0);
        a.printer->ClearTransfers();
        EXPECT_EQ(deviceRead(a.intf.get(), response), c.result) << c.raw.substr(0, 8);
        EXPECT_EQ(Lengths(*a.printer, Transfer::Kind::kBulkIn), c.reads) << c.raw.substr(0, 8);
        if (c.raw.size() == 8 && c.result == 0) {
            EXPECT_EQ(a.printer->Transfers()[1].status, qzm::usb::kUsbTimedOut);
            char out[64] = "junk";
            EXPECT_EQ(response.GetEffectiveDataAsString(out), 0);
            EXPECT_STREQ(out, "");
        }
    }
}

TEST(ResponseTest, CheckDataAndEffectiveData) {
    const struct {
        int expected;
        const char* key;
        std::string raw;
        int result;
        std::string text;
    } cases[] = {
        // Fixed length 8 filling the capacity with no terminator.
        {8, nullptr, "0000000801234567", 3, ""},
        {8, nullptr, std::string("0000000801234\r\n\0", 16), 0, "01234"},
        // A shorter answer passes on the zero fill; effective data up to CR.
        {8, nullptr, "00000005AB\rCD", 0, "AB"},
        {8, nullptr, "00000005AB\rCDEFG", 3, ""},
        {-1, nullptr, "00000007ABC\rDEF", 0, "ABC"},
        {-1, nullptr, std::string("00000006AB\0C\rD", 14), 0, std::string("AB\0C", 4)},
        {-1, nullptr, "00000004ABCD", 0, "ABCD"},
        {-1, "KEY", "00000009KEYvalue\r", 0, "value"},
        {-1, "KEY", "00000009KEXvalue\r", 3, ""},
        {4, "KEYLONGER", "00000004KEYL", 3, ""},
        {-1, nullptr, "00004088" + std::string(4088, 'x'), 3, ""},
        {-1, nullptr, "00004088" + std::string(4087, 'x') + "\r", 0, std::string(4087, 'x')},
    };
    for (const auto& c : cases) {
        DeviceRecv response(c.expected, c.key);
        ASSERT_EQ(response.Alloc(), 0);
        ASSERT_LE(c.raw.size(), static_cast<size_t>(response.GetBufferLength()));
        std::memcpy(response.m_buffer, c.raw.data(), c.raw.size());
        EXPECT_EQ(response.CheckData(), c.result) << c.raw.substr(0, 20);
        if (c.result == 0) {
            EXPECT_EQ(response.GetEffectiveData(), c.text) << c.raw.substr(0, 20);
        }
    }
    DeviceRecv unread(-1, nullptr);
    EXPECT_EQ(unread.CheckData(), kResultInvalid);
    EXPECT_EQ(unread.GetEffectiveDataAsString(nullptr), kResultInvalid);
    EXPECT_EQ(std::strlen(DeviceRecv(-1, std::string(50, 'k').c_str()).m_key), 35u);
    // 62 ASCII bytes, then a two-byte character across the 63-byte limit.
    DeviceRecv response(-1, nullptr);
    ASSERT_EQ(response.Alloc(), 0);
    const std::string raw = "00000070" + std::string(62, 'a') + "\xC3\xA9" + "bbbbb\r";
    std::memcpy(response.m_buffer, raw.data(), raw.size());
    char out[64];
    ASSERT_EQ(response.GetEffectiveDataAsString(out), 0);
    EXPECT_EQ(std::string(out), std::string(62, 'a'));
    ASSERT_EQ(response.GetEffectiveDataAsString(out, 8), 0);
    EXPECT_STREQ(out, "aaaaaaa");
}

TEST(QueriesTest, TextQueriesAnswerTheirFieldOrFail) {
    PrinterState distinct;
    const char* values[] = {"SER-1", "FW 2.10", "01200", "00000400",
                            "00000123", "0000042", "00000007", "03"};
    for (size_t i = 0; i < std::size(kTextQueries); ++i) {
        distinct.*kTextQueries[i].field = values[i];
    }
    Attached a(distinct), silent;
    silent.printer->SetFault(Fault::kNoAnswer);
    for (size_t i = 0; i < std::size(kTextQueries); ++i) {
        const auto& q = kTextQueries[i];
        char out[64] = "previous";
        EXPECT_EQ(q.query(a.intf.get(), out, sizeof out), static_cast<int64_t>(strlen(values[i])));
        EXPECT_STREQ(out, values[i]);
        const auto packet = a.printer->Packets().back();
        EXPECT_EQ(packet.command + "/" + packet.subCommand, std::string(q.command) + "/" + q.sub);
        EXPECT_EQ(q.query(silent.intf.get(), out, sizeof out), -1) << q.sub;
        EXPECT_STREQ(out, "") << q.sub;
    }
    // A NUL inside the data: the text before it (a serial is refused).
    for (const TextQuery query : {GetFirmVersion, GetSerialNo}) {
        Attached nul;
        nul.printer->SetRawAnswer("INFO", query == GetSerialNo ? "SERIAL_NUMBER" : "FVER",
                                  std::string("00000008AB\0CD\r\n\0", 16));
        char out[64];
        EXPECT_EQ(query(nul.intf.get(), out, sizeof out), query == GetSerialNo ? -1 : 2);
        EXPECT_STREQ(out, query == GetSerialNo ? "" : "AB");
        EXPECT_EQ(query(nullptr, out, sizeof out), -1);
        EXPECT_EQ(query(nul.intf.get(), nullptr, 64), -1);
    }
    PrinterState longer;
    longer.firmware = std::string(200, 'v');
    Attached c(longer);
    char out[64];
    EXPECT_EQ(GetFirmVersion(c.intf.get(), out), 63);
    EXPECT_EQ(std::string(out), std::string(63, 'v'));
    EXPECT_EQ(GetFirmVersion(c.intf.get(), out, 1), 0);  // room for the terminator only
}

TEST(QueriesTest, SerialsAreEscapedOrRefused) {
    const struct {
        std::string answer;
        int64_t length;
        std::string serial;
    } cases[] = {
        {"AB 12 C", 11, "AB%2012%20C"},
        {"", 0, ""},
        {std::string(60, 'S') + " ", 63, std::string(60, 'S') + "%20"},
        {std::string(61, 'S') + " ", 0, ""},
        {std::string(64, 'S'), 0, ""},
        {"...", 3, "..."},
        {"caf\xC3\xA9", 5, "caf\xC3\xA9"},
        {"a/b", -1, ""}, {"/", -1, ""}, {".", -1, ""}, {"..", -1, ""}, {"ab\x01", -1, ""},
        {"\x1B[2J", -1, ""}, {"a\x7F", -1, ""}, {"\xC2\x85", -1, ""}, {"\xC3", -1, ""},
        {"\xFF", -1, ""},
    };
    for (const auto& c : cases) {
        PrinterState s;
        s.serial = c.answer;
        Attached a(s);
        char out[64] = "x";
        EXPECT_EQ(GetSerialNo(a.intf.get(), out), c.length) << c.answer;
        EXPECT_EQ(out, c.serial) << c.answer;
    }
}

TEST(QueriesTest, StatusAndItsMessage) {
    const std::pair<std::string, int> cases[] = {
        {"0000000801000\r\n", 1000},      {"00000005A1000", 0}, {"00000003-12", -12},
        {"0000000801000000", INT_MIN},     // 8 bytes without terminator
        {"000000090100000\r\n", INT_MIN},  // more than 8 bytes announced
    };
    for (const auto& [raw, expected] : cases) {
        Attached a;
        a.printer->SetRawAnswer("STATUS", "", raw);
        EXPECT_EQ(GetStatus(a.intf.get()), expected) << raw;
        EXPECT_EQ(a.printer->Packets().back().command + a.printer->Packets().back().subCommand,
                  "STATUS");
    }
    const std::pair<int, int> table[] = {
        {0, 1},      {1, 2},      {500, 3},    {510, 4},    {900, 5},      {1000, 100},
        {1010, 101}, {1100, 102}, {1200, 103}, {1300, 104}, {1400, 105},   {1500, 106},
        {1600, 107}, {2000, 200}, {2100, 201}, {2200, 202}, {2300, 203},   {2400, 204},
        {2500, 205}, {2600, 206}, {2610, 207}, {2700, 208}, {2800, 209},   {3000, 210},
        {99999, 6},  {2, -1},     {2650, -1},  {-1, -1},    {INT_MIN, -1},
    };
    for (const auto& [status, message] : table) {
        EXPECT_EQ(GetMessage(status), message) << status;
    }
    EXPECT_EQ(GetStatus(nullptr), INT_MIN);
}

}  // namespace
