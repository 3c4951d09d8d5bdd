// The device-ID request against the emulated printer, replies the printer
// might really send included, and the model found in a device ID.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "DeviceId.h"
#include "EmulatedPrinter.h"

namespace {

using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;

std::string Prefix(size_t length) {
    return {static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
}

// Asks an emulated printer whose reply is exactly reply.
std::optional<std::string> Ask(const std::optional<std::string>& reply,
                               std::vector<Transfer>* transfers = nullptr) {
    PrinterState state;
    state.deviceIdReply = reply;
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    EXPECT_EQ(interface->OpenSeize(), 0);
    auto id = _CopyDeviceId(interface.get(), 1, 0);
    if (transfers) {
        *transfers = printer->Transfers();
    }
    return id;
}

TEST(DeviceIdRequest, AsksWithTheConfigurationAndInterfaceOfTheInterface) {
    PrinterState state;
    state.configurationValue = 2;
    state.interfaceNumber = 1;
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    ASSERT_EQ(interface->OpenSeize(), 0);
    EXPECT_EQ(_CopyDeviceId(interface.get(), 2, 1), "MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;");
    const auto transfers = printer->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].kind, Transfer::Kind::kControl);
    EXPECT_EQ(transfers[0].length, 256u);
    EXPECT_EQ(transfers[0].value, 1u);
    EXPECT_EQ(transfers[0].index, 256u);
}

TEST(DeviceIdRequest, RepliesAreReadOnlyAsFarAsTheyReach) {
    const std::string text300(298, 'x');
    struct Case {
        const char* label;
        std::optional<std::string> reply;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"a plain reply", Prefix(8) + "MDL:QZ", "MDL:QZ"},
        {"bytes after the announced length are not taken", Prefix(5) + "MDL:QZ", "MDL"},
        {"a prefix larger than the reply gives what came", Prefix(200) + "MDL:QZ", "MDL:QZ"},
        {"a prefix of 3 gives one byte", Prefix(3) + "M", "M"},
        {"a prefix below 3 gives nothing", Prefix(2) + "MDL:QZ", std::nullopt},
        {"a prefix of 0 gives nothing", Prefix(0), std::nullopt},
        {"a reply of 1 byte gives nothing", std::string(1, '\0'), std::nullopt},
        {"an empty reply gives nothing", std::string(), std::nullopt},
        {"text that is not UTF-8 gives nothing", Prefix(6) + "MD\xC3(", std::nullopt},
        {"a long reply is read whole", Prefix(300) + text300, text300},
        {"a long prefix with a short reply is bounded", Prefix(400) + "MDL:QZ", "MDL:QZ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Ask(c.reply), c.expected);
    }
}

TEST(DeviceIdRequest, ALongReplyIsAskedForAgainWithItsLength) {
    std::vector<Transfer> transfers;
    Ask(Prefix(300) + std::string(298, 'x'), &transfers);
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].length, 256u);
    EXPECT_EQ(transfers[1].length, 300u);
}

TEST(DeviceIdRequest, AFailedRequestGivesNothing) {
    PrinterState state;
    state.deviceIdFails = true;
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    ASSERT_EQ(interface->OpenSeize(), 0);
    EXPECT_EQ(_CopyDeviceId(interface.get(), 1, 0), std::nullopt);
    EXPECT_EQ(_CopyDeviceId(nullptr, 1, 0), std::nullopt);
}

TEST(DeviceIdModel, TheFirstModelFieldGivesTheModel) {
    struct Case {
        std::optional<std::string> id;
        std::optional<std::string> model;
    };
    const Case cases[] = {
        {"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER", "QZ-M480"},
        {"MFG:Orvane;  mdl:QZ-M480;", "QZ-M480"},
        {"MODEL:  QZ-M480  ;MFG:Orvane", "QZ-M480"},
        {"  Model: QZ-M480 ", " QZ-M480"},  // trimmed field, rest not trimmed again
        {"MODEL:First;MDL:Second", "First"},
        {"MFG:Orvane;MDL:", ""},
        {"MFG:Orvane;CLS:PRINTER;", std::nullopt},
        {"MFG:Orvane;XMDL:QZ-M480;", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id.value_or("(none)"));
        EXPECT_EQ(deviceIDCopyModel(c.id), c.model);
    }
}

}  // namespace
