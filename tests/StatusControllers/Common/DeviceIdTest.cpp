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
std::optional<std::string> Ask(const std::string& reply) {
    PrinterState state;
    state.deviceIdReply = reply;
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    EXPECT_EQ(interface->OpenSeize(), 0);
    return _CopyDeviceId(interface.get(), 1, 0);
}

TEST(DeviceIdRequest, AsksWithTheInterfacesValuesAndAgainForALongReply) {
    PrinterState state;
    state.deviceId = std::string(298, 'x');
    auto printer = EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    ASSERT_EQ(interface->OpenSeize(), 0);
    EXPECT_EQ(_CopyDeviceId(interface.get(), 2, 1), state.deviceId);
    const auto transfers = printer->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(transfers[i].kind, Transfer::Kind::kControl);
        EXPECT_EQ(transfers[i].value, 1u);    // configuration value - 1
        EXPECT_EQ(transfers[i].index, 256u);  // interface number * 256
    }
    EXPECT_EQ(transfers[0].length, 256u);
    EXPECT_EQ(transfers[1].length, 300u);
}

TEST(DeviceIdRequest, RepliesAreReadOnlyAsFarAsTheyReach) {
    struct Case {
        const char* label;
        std::string reply;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"bytes after the announced length are not taken", Prefix(5) + "MDL:QZ", "MDL"},
        {"a prefix larger than the reply gives what came", Prefix(200) + "MDL:QZ", "MDL:QZ"},
        {"a long prefix with a short reply is bounded", Prefix(400) + "MDL:QZ", "MDL:QZ"},
        {"a prefix below 3 gives nothing", Prefix(2) + "MDL:QZ", std::nullopt},
        {"a reply of 1 byte gives nothing", std::string(1, '\0'), std::nullopt},
        {"text that is not UTF-8 gives nothing", Prefix(6) + "MD\xC3(", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Ask(c.reply), c.expected);
    }
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
