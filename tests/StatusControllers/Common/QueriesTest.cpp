// The status queries against the emulated printer.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "EmulatedPrinter.h"
#include "StatusQueries.h"

using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;

namespace {

using TextQuery = int64_t (*)(qzm::usb::UsbInterface*, char*, size_t);

struct QueryCase {
    TextQuery query;
    const char* command;
    const char* sub;
};

const QueryCase kTextQueries[] = {
    {GetSerialNo, "INFO", "SERIAL_NUMBER"}, {GetFirmVersion, "INFO", "FVER"},
    {GetMediaSize, "INFO", "MEDIA"},        {GetMediaInitial, "INFO", "MQTY_DEFAULT"},
    {GetMediaRemain, "INFO", "MQTY"},       {GetTotalCount, "MNT_RD", "COUNTER_LIFE"},
    {GetMediaRemainHalf, "INFO", "RQTY"},   {GetMediaClass, "INFO", "MEDIA_CLASS_RFID"},
};

struct Attached {
    std::shared_ptr<EmulatedPrinter> printer;
    std::unique_ptr<qzm::usb::UsbInterface> intf;
    explicit Attached(PrinterState state = {})
        : printer(EmulatedPrinter::Create(std::move(state))), intf(printer->CreateInterface()) {
        EXPECT_EQ(intf->OpenSeize(), 0);
    }
};

PrinterState Distinct() {
    PrinterState s;
    s.serial = "SER-1";
    s.firmware = "FW 2.10";
    s.mediaSize = "01200";
    s.mediaInitial = "00000400";
    s.mediaRemain = "00000123";
    s.lifeCounter = "0000042";
    s.mediaRemainHalf = "00000007";
    s.mediaClass = "03";
    return s;
}

TEST(QueriesTest, EveryTextQuerySendsItsCommandAndReturnsTheText) {
    Attached a(Distinct());
    const std::string expected[] = {"SER-1",    "FW 2.10", "01200",    "00000400",
                                    "00000123", "0000042", "00000007", "03"};
    for (size_t i = 0; i < std::size(kTextQueries); ++i) {
        const QueryCase& q = kTextQueries[i];
        char out[64];
        EXPECT_EQ(q.query(a.intf.get(), out, sizeof out), static_cast<int64_t>(expected[i].size()))
            << q.sub;
        EXPECT_EQ(out, expected[i]) << q.sub;
        const auto packets = a.printer->Packets();
        EXPECT_EQ(packets.back().command, q.command);
        EXPECT_EQ(packets.back().subCommand, q.sub);
        EXPECT_TRUE(packets.back().payload.empty());
    }
}

TEST(QueriesTest, FailureValues) {
    Attached a;
    a.printer->SetFault(Fault::kNoAnswer);
    for (const QueryCase& q : kTextQueries) {
        char out[64] = "previous";
        EXPECT_EQ(q.query(a.intf.get(), out, sizeof out), -1) << q.sub;
        EXPECT_STREQ(out, "") << q.sub;
        EXPECT_EQ(q.query(nullptr, out, sizeof out), -1) << q.sub;
        EXPECT_EQ(q.query(a.intf.get(), nullptr, 64), -1) << q.sub;
    }
    EXPECT_EQ(GetStatus(a.intf.get()), INT_MIN);
    a.printer->ClearTransfers();
    EXPECT_EQ(GetStatus(nullptr), INT_MIN);
    EXPECT_TRUE(a.printer->Transfers().empty());
}

TEST(QueriesTest, MisbehavingPrinterFailsTheQuery) {
    for (Fault fault : {Fault::kBadHeader, Fault::kGarbage, Fault::kStall}) {
        Attached a;
        a.printer->SetFault(fault, "INFO", "FVER");
        char out[64];
        EXPECT_EQ(GetFirmVersion(a.intf.get(), out), -1) << static_cast<int>(fault);
    }
}

TEST(QueriesTest, AnswerLongerThanAnnouncedSpoilsTheNextAnswer) {
    PrinterState s;
    s.firmware = "1.00AB";  // 8 data bytes with CR LF; 4 are announced
    Attached a(s);
    a.printer->SetFault(Fault::kLongerThanAnnounced, "INFO", "FVER");
    char out[64];
    EXPECT_EQ(GetFirmVersion(a.intf.get(), out), 4);
    EXPECT_STREQ(out, "1.00");
    // The rest stays in the pipe and is read as the next header.
    EXPECT_EQ(GetMediaSize(a.intf.get(), out), -1);
}

TEST(QueriesTest, RemovalDuringTheDataReadReadsAsEmpty) {
    Attached a;
    a.printer->SetFault(Fault::kRemoveMidTransfer, "INFO", "MEDIA");
    char out[64];
    EXPECT_EQ(GetMediaSize(a.intf.get(), out), 0);
    EXPECT_TRUE(a.printer->Removed());
    EXPECT_EQ(GetStatus(a.intf.get()), INT_MIN);
}

TEST(QueriesTest, SerialEscapingAndItsLimit) {
    struct Case {
        std::string answer;
        int64_t length;
        std::string serial;
    };
    const Case cases[] = {
        {"AB 12 C", 11, "AB%2012%20C"},
        {"", 0, ""},
        {std::string(60, 'S') + " ", 63, std::string(60, 'S') + "%20"},
        {std::string(61, 'S') + " ", 0, ""},
        {std::string(64, 'S'), 0, ""},
        {"...", 3, "..."},
        {"caf\xC3\xA9", 5, "caf\xC3\xA9"},
    };
    for (const Case& c : cases) {
        PrinterState s;
        s.serial = c.answer;
        Attached a(s);
        char out[64] = "x";
        EXPECT_EQ(GetSerialNo(a.intf.get(), out), c.length) << c.answer;
        EXPECT_EQ(out, c.serial) << c.answer;
    }
}

TEST(QueriesTest, SerialThatCannotBeAFileNameIsNotRead) {
    const std::string unsafe[] = {"a/b",     "/",     ".",        "..",   "ab\x01",
                                  "\x1B[2J", "a\x7F", "\xC2\x85", "\xC3", "\xFF"};
    for (const std::string& serial : unsafe) {
        PrinterState s;
        s.serial = serial;
        Attached a(s);
        char out[64] = "x";
        EXPECT_EQ(GetSerialNo(a.intf.get(), out), -1) << serial;
        EXPECT_STREQ(out, "") << serial;
    }
    // A NUL inside the data, before the carriage return.
    Attached a;
    a.printer->SetRawAnswer("INFO", "SERIAL_NUMBER", std::string("00000006AB\0CD\r", 14));
    char out[64];
    EXPECT_EQ(GetSerialNo(a.intf.get(), out), -1);
}

TEST(QueriesTest, LongAnswersAreShortenedToTheField) {
    PrinterState s;
    s.firmware = std::string(200, 'v');
    Attached a(s);
    char out[64];
    EXPECT_EQ(GetFirmVersion(a.intf.get(), out), 63);
    EXPECT_EQ(std::string(out), std::string(63, 'v'));
}

TEST(QueriesTest, TextBeforeANulIsTheWholeAnswer) {
    // A NUL inside the data with a carriage return after it: the field holds
    // the text before the NUL and the length returned is that text's length.
    // (A serial holding a NUL is refused whole, see below.)
    for (const QueryCase& q : kTextQueries) {
        if (q.query == GetSerialNo) {
            continue;
        }
        Attached a;
        a.printer->SetRawAnswer(q.command, q.sub, std::string("00000008AB\0CD\r\n\0", 16));
        char out[64];
        EXPECT_EQ(q.query(a.intf.get(), out, sizeof out), 2) << q.command << " " << q.sub;
        EXPECT_STREQ(out, "AB");
    }
}

TEST(QueriesTest, StatusParsing) {
    struct Case {
        std::string raw;  // empty: the emulator's own answer
        int status;
        int expected;
    };
    const Case cases[] = {
        {"", 1000, 1000},
        {"", 2610, 2610},
        {"0000000801000\r\n\0", 0, 1000},
        {"00000005A1000", 0, 0},
        {"00000003-12", 0, -12},
        {"0000000801000000", 0, INT_MIN},     // 8 bytes without terminator
        {"000000090100000\r\n", 0, INT_MIN},  // more than 8 bytes announced
    };
    for (const Case& c : cases) {
        PrinterState s;
        s.status = c.status;
        Attached a(s);
        if (!c.raw.empty()) {
            a.printer->SetRawAnswer("STATUS", "", c.raw);
        }
        EXPECT_EQ(GetStatus(a.intf.get()), c.expected) << c.raw;
        EXPECT_EQ(a.printer->Packets().back().command, "STATUS");
        EXPECT_EQ(a.printer->Packets().back().subCommand, "");
    }
}

TEST(QueriesTest, MessageTable) {
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
}

}  // namespace
