// The response buffer and the transport, against the emulated printer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "EmulatedPrinter.h"
#include "PhotoPrinterDevice.h"
#include "UsbTransport.h"

using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::Transfer;

namespace {

std::vector<uint32_t> Lengths(const std::vector<Transfer>& transfers, Transfer::Kind kind) {
    std::vector<uint32_t> lengths;
    for (const Transfer& t : transfers) {
        if (t.kind == kind) {
            lengths.push_back(t.length);
        }
    }
    return lengths;
}

// A printer with its interface open.
struct Attached {
    std::shared_ptr<EmulatedPrinter> printer = EmulatedPrinter::Create();
    std::unique_ptr<qzm::usb::UsbInterface> intf = printer->CreateInterface();
    Attached() { EXPECT_EQ(intf->OpenSeize(), 0); }

    // Queues raw answer bytes behind a "STATUS" query and reads them.
    int ReadRaw(const std::string& raw, DeviceRecv& response) {
        printer->SetRawAnswer("STATUS", "", raw);
        DeviceCmd query("STATUS", nullptr, 0, nullptr);
        EXPECT_EQ(deviceWrite(intf.get(), query.m_data, query.m_length), 0);
        printer->ClearTransfers();
        return deviceRead(intf.get(), response);
    }
};

// Fills a response buffer as if raw had been received.
void Receive(DeviceRecv& response, const std::string& raw) {
    ASSERT_EQ(response.Alloc(), 0);
    ASSERT_LE(raw.size(), static_cast<size_t>(response.GetBufferLength()));
    std::memcpy(response.m_buffer, raw.data(), raw.size());
}

TEST(TransportTest, WritesCommandsInPieces) {
    struct Case {
        int payload;
        std::vector<uint32_t> pieces;
    };
    const Case cases[] = {
        {0, {32}}, {479, {511}}, {480, {256, 256}}, {568, {344, 256}}, {69968, {65536, 4208, 256}},
    };
    for (const Case& c : cases) {
        Attached a;
        std::vector<uint8_t> payload(c.payload);
        for (size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<uint8_t>(i * 7);
        }
        DeviceCmd cmd("IMAGE", "YPLANE", c.payload, payload.data());
        ASSERT_EQ(deviceWrite(a.intf.get(), cmd.m_data, cmd.m_length), 0);
        EXPECT_EQ(Lengths(a.printer->Transfers(), Transfer::Kind::kBulkOut), c.pieces)
            << "payload " << c.payload;
        // The pieces join up into the packet that was sent.
        const auto packets = a.printer->Packets();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].payload, payload);
        EXPECT_EQ(a.printer->Transfers()[0].pipe, outPipeRef);
    }
}

TEST(TransportTest, WriteRefusesBadArgumentsAndStopsWhenAPieceCannotStart) {
    Attached a;
    const uint8_t byte = 0;
    EXPECT_EQ(deviceWrite(nullptr, &byte, 1), kResultInvalid);
    EXPECT_EQ(deviceWrite(a.intf.get(), nullptr, 1), kResultInvalid);
    EXPECT_EQ(deviceWrite(a.intf.get(), &byte, 0), kResultInvalid);
    EXPECT_TRUE(a.printer->Transfers().empty());

    a.printer->Remove();
    std::vector<uint8_t> data(600);
    EXPECT_EQ(deviceWrite(a.intf.get(), data.data(), 600), kResultCannotStart);
    EXPECT_TRUE(a.printer->Transfers().empty());
}

TEST(TransportTest, HeaderRules) {
    struct Case {
        std::string raw;
        int result;
        std::vector<uint32_t> reads;
    };
    const std::string full(4088, 'x');
    const Case cases[] = {
        {"00000012" + std::string("ABCDEFGHIJK\r"), 0, {8, 12}},
        {"0000001A" + std::string(26, 'x'), 3, {8}},
        {"0000 012" + std::string(12, 'x'), 3, {8}},
        {"-0000012" + std::string(12, 'x'), 3, {8}},
        {std::string("0000\xB0"
                     "12") +
             std::string(12, 'x'),
         3,
         {8}},
        {"00000000", 3, {8}},
        {"00004089" + full + "x", 3, {8}},
        {"00004088" + full, 0, {8, 4088}},
    };
    for (const Case& c : cases) {
        Attached a;
        DeviceRecv response(DeviceRecv::kVariableLength, nullptr);
        EXPECT_EQ(a.ReadRaw(c.raw, response), c.result) << c.raw.substr(0, 8);
        EXPECT_EQ(Lengths(a.printer->Transfers(), Transfer::Kind::kBulkIn), c.reads)
            << c.raw.substr(0, 8);
    }
}

TEST(TransportTest, ReadRefusesABufferTooSmallForTheHeader) {
    Attached a;
    uint8_t small[4] = {};
    EXPECT_EQ(deviceRead(a.intf.get(), small, 4), kResultInvalid);
    EXPECT_EQ(deviceRead(a.intf.get(), nullptr, 100), kResultInvalid);
    DeviceRecv none(0, nullptr);
    EXPECT_EQ(deviceRead(a.intf.get(), none), kResultInvalid);
    EXPECT_TRUE(a.printer->Transfers().empty());
}

TEST(TransportTest, DataThatNeverArrivesLeavesTheZeroFill) {
    Attached a;
    DeviceRecv response(DeviceRecv::kVariableLength, nullptr);
    // The header announces 12 bytes, then the printer falls silent: the data
    // read times out and counts as done.
    EXPECT_EQ(a.ReadRaw("00000012", response), 0);
    const auto transfers = a.printer->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[1].status, qzm::usb::kUsbTimedOut);
    EXPECT_EQ(transfers[1].transferred, 0u);
    EXPECT_EQ(response.CheckData(), 0);
    char out[64] = "junk";
    EXPECT_EQ(response.GetEffectiveDataAsString(out), 0);
    EXPECT_STREQ(out, "");
}

TEST(TransportTest, ExchangeIsOneWriteAndTwoReads) {
    Attached a;
    DeviceCmd cmd("INFO", "FVER", 0, nullptr);
    DeviceRecv response(DeviceRecv::kVariableLength, nullptr);
    ASSERT_EQ(DeviceIO(a.intf.get(), cmd, response), 0);
    const auto transfers = a.printer->Transfers();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[0].kind, Transfer::Kind::kBulkOut);
    EXPECT_EQ(transfers[0].length, 32u);
    EXPECT_EQ(transfers[1].pipe, inPipeRef);
    EXPECT_EQ(transfers[1].length, 8u);
    EXPECT_EQ(transfers[2].length, 6u);  // "1.00\r\n"
    EXPECT_EQ(response.GetEffectiveData(), "1.00");

    // Silence: the zero header fails the digit test.
    a.printer->SetFault(Fault::kNoAnswer);
    EXPECT_EQ(DeviceIO(a.intf.get(), cmd, response), kResultInvalid);
    EXPECT_EQ(DeviceIO(nullptr, cmd, response), kResultInvalid);
}

TEST(ResponseTest, CapacityAndAllocation) {
    DeviceRecv variable(-1, nullptr);
    DeviceRecv none(0, nullptr);
    DeviceRecv fixed(8, "KEY");
    EXPECT_EQ(variable.GetBufferLength(), 4096);
    EXPECT_EQ(none.GetBufferLength(), 0);
    EXPECT_EQ(fixed.GetBufferLength(), 16);
    EXPECT_STREQ(fixed.m_key, "KEY");
    EXPECT_EQ(none.Alloc(), 0);
    EXPECT_EQ(none.m_buffer, nullptr);
    ASSERT_EQ(fixed.Alloc(), 0);
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ(fixed.m_buffer[i], 0) << i;
    }
    EXPECT_EQ(fixed.Free(), 0);
    EXPECT_EQ(fixed.Free(), 0);
    DeviceRecv longKey(-1, std::string(50, 'k').c_str());
    EXPECT_EQ(std::strlen(longKey.m_key), 35u);
}

TEST(ResponseTest, CheckDataRules) {
    struct Case {
        int expected;
        const char* key;
        std::string raw;
        int result;
        std::string text;
    };
    const Case cases[] = {
        // Fixed length 8 filling the capacity with no terminator.
        {8, nullptr, "0000000801234567", 3, ""},
        {8, nullptr, "0000000801234\r\n\0", 0, "01234"},
        // A shorter answer passes on the zero fill; effective data up to CR.
        {8, nullptr, "00000005AB\rCD", 0, "AB"},
        // Announced length differs and a CR alone is not enough.
        {8, nullptr, "00000005AB\rCDEFG", 3, ""},
        {-1, nullptr, "00000007ABC\rDEF", 0, "ABC"},
        {-1, nullptr, std::string("00000006AB\0C\rD", 14), 0, std::string("AB\0C", 4)},
        {-1, nullptr, "00000004ABCD", 0, "ABCD"},
        {-1, "KEY", "00000009KEYvalue\r", 0, "value"},
        {-1, "KEY", "00000009KEXvalue\r", 3, ""},
        {4, "KEYLONGER", "00000004KEYL", 3, ""},
    };
    for (const Case& c : cases) {
        DeviceRecv response(c.expected, c.key);
        Receive(response, c.raw);
        EXPECT_EQ(response.CheckData(), c.result) << c.raw;
        if (c.result == 0) {
            EXPECT_EQ(response.GetEffectiveData(), c.text) << c.raw;
        }
    }
}

TEST(ResponseTest, VariableBufferWithoutTerminatorIsInvalid) {
    DeviceRecv response(-1, nullptr);
    Receive(response, "00004088" + std::string(4088, 'x'));
    EXPECT_EQ(response.CheckData(), kResultInvalid);
    response.m_buffer[4095] = '\r';
    EXPECT_EQ(response.CheckData(), 0);
    DeviceRecv unread(-1, nullptr);
    EXPECT_EQ(unread.CheckData(), kResultInvalid);
}

TEST(ResponseTest, EffectiveDataIsShortenedToItsField) {
    DeviceRecv response(-1, nullptr);
    EXPECT_EQ(response.GetEffectiveDataAsString(nullptr), kResultInvalid);
    // 62 ASCII bytes, then a two-byte character across the 63-byte limit.
    Receive(response, "00000070" + std::string(62, 'a') + "\xC3\xA9" + "bbbbb\r");
    char out[64];
    ASSERT_EQ(response.GetEffectiveDataAsString(out), 0);
    EXPECT_EQ(std::string(out), std::string(62, 'a'));
    ASSERT_EQ(response.GetEffectiveDataAsString(out, 8), 0);
    EXPECT_STREQ(out, "aaaaaaa");
    EXPECT_EQ(_CutUtf8("a\xC3\xA9", 3), "a\xC3\xA9");
}

}  // namespace
