// The emulated printer and bus that the daemon's tests stand on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EmulatedPrinter.h"
#include "EmulatedUsb.h"

using namespace qzm;
using emu::EmulatedPrinter;

namespace {

std::string Header(const std::string& cmd, const std::string& sub, const std::string& payload) {
    std::string h =
        "\x1BP" + cmd + std::string(6 - cmd.size(), ' ') + sub + std::string(16 - sub.size(), ' ');
    if (payload.empty()) {
        return h + std::string(8, ' ');
    }
    char length[24];
    std::snprintf(length, sizeof length, "%08zu", payload.size());
    return h + length + payload;
}

// Sends bytes in one bulk-out transfer and waits for it.
void Send(usb::UsbInterface& intf, std::string bytes) {
    ASSERT_EQ(intf.StartBulkTransfer(
                  usb::kPipeBulkOut, bytes.data(), bytes.size(), 1000, 1000,
                  [](void*, int, void*) {}, nullptr),
              0);
    intf.WaitForCompletion();
}

// Reads up to size bytes; returns what arrived and the completion status.
std::string Read(usb::UsbInterface& intf, uint32_t size, int* status) {
    struct Done {
        int status = -1;
        uintptr_t moved = 0;
    } done;
    std::string buffer(size, '\0');
    EXPECT_EQ(intf.StartBulkTransfer(
                  usb::kPipeBulkIn, buffer.data(), size, 10000, 10000,
                  [](void* ref, int result, void* arg) {
                      auto* d = static_cast<Done*>(ref);
                      d->status = result;
                      d->moved = reinterpret_cast<uintptr_t>(arg);
                  },
                  &done),
              0);
    intf.WaitForCompletion();
    *status = done.status;
    return buffer.substr(0, done.moved);
}

TEST(EmulatorTest, ParsesPacketsAcrossTransfersAndKeepsSheets) {
    auto printer = EmulatedPrinter::Create();
    auto intf = printer->CreateInterface();
    ASSERT_EQ(intf->OpenSeize(), 0);
    const std::string job = Header("CNTRL", "CUTTER", "00000120") +
                            Header("IMAGE", "YPLANE", std::string(300, '\x7F')) +
                            Header("CNTRL", "START", "");
    // Noise before the job, and the job split at odd places.
    Send(*intf, "zz" + job.substr(0, 17));
    Send(*intf, job.substr(17, 200));
    Send(*intf, job.substr(217) + Header("IMAGE", "MULTICUT", "00000002"));
    const auto sheets = printer->Sheets();
    ASSERT_EQ(sheets.size(), 2u);
    ASSERT_EQ(sheets[0].size(), 3u);
    EXPECT_EQ(sheets[0][0].subCommand, "CUTTER");
    EXPECT_EQ(sheets[0][1].payload.size(), 300u);
    EXPECT_EQ(sheets[0][2].command, "CNTRL");
    EXPECT_EQ(sheets[0][2].subCommand, "START");
    EXPECT_EQ(sheets[1][0].subCommand, "MULTICUT");  // next sheet, not started yet
    const auto transfers = printer->Transfers();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[0].length, 19u);
    EXPECT_EQ(transfers[0].kind, emu::Transfer::Kind::kBulkOut);
}

TEST(EmulatorTest, AnswersQueriesAndTimesOutWhenSilent) {
    emu::PrinterState state;
    state.status = 1200;
    auto printer = EmulatedPrinter::Create(state);
    auto intf = printer->CreateInterface();
    int status = 0;
    EXPECT_NE(intf->StartBulkTransfer(
                  usb::kPipeBulkIn, &status, 1, 1, 1, [](void*, int, void*) {}, nullptr),
              0);  // not open
    ASSERT_EQ(intf->OpenSeize(), 0);
    Send(*intf, Header("STATUS", "", ""));
    EXPECT_EQ(Read(*intf, 8, &status), "00000008");
    EXPECT_EQ(Read(*intf, 8, &status), std::string("01200\r\n\0", 8));
    EXPECT_EQ(Read(*intf, 8, &status), "");
    EXPECT_EQ(status, usb::kUsbTimedOut);
    Send(*intf, Header("INFO", "BOGUS", ""));  // unknown queries go unanswered
    EXPECT_EQ(Read(*intf, 8, &status), "");

    printer->SetFault(emu::Fault::kBadHeader);
    Send(*intf, Header("INFO", "SERIAL_NUMBER", ""));
    EXPECT_EQ(Read(*intf, 16, &status), "0000000AQZ0001\r\n");
    EXPECT_EQ(status, usb::kUsbOk);
}

TEST(EmulatorTest, DeviceIdRequest) {
    emu::PrinterState state;
    state.deviceId = "MDL:QZ-M480;";
    auto printer = EmulatedPrinter::Create(state);
    auto intf = printer->CreateInterface();
    uint8_t reply[256] = {};
    usb::UsbControlRequest request{0xA1, 0, 0, 0, sizeof reply, reply};
    ASSERT_EQ(intf->ControlRequest(&request, 5000), 0);
    ASSERT_EQ(request.transferred, 14u);
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(reply[1], 14);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 2, 12), "MDL:QZ-M480;");
    request.length = 5;
    ASSERT_EQ(intf->ControlRequest(&request, 5000), 0);
    EXPECT_EQ(request.transferred, 5u);
    request.request = 1;
    EXPECT_EQ(intf->ControlRequest(&request, 5000), usb::kUsbStall);
}

TEST(EmulatorTest, BusReportsArrivalsAndRemovals) {
    std::vector<std::pair<usb::UsbEvent::Kind, usb::UsbDeviceId>> events;
    std::vector<std::unique_ptr<usb::UsbDevice>> devices;
    emu::EmulatedBus bus;
    auto present = EmulatedPrinter::Create();
    emu::PrinterState other;
    other.productId = 0x9999;
    auto stranger = EmulatedPrinter::Create(other);
    bus.Attach(present);
    bus.Attach(stranger);
    ASSERT_EQ(bus.Start(0x1343, 0x0480,
                        [&](usb::UsbEvent e) {
                            events.emplace_back(e.kind, e.id);
                            if (e.device) {
                                devices.push_back(std::move(e.device));
                            }
                        }),
              0);
    ASSERT_EQ(events.size(), 1u);  // the printer already attached
    EXPECT_EQ(events[0].second, present->Id());

    auto later = EmulatedPrinter::Create();
    bus.Attach(later);
    bus.HandleEvents(0);
    ASSERT_EQ(devices.size(), 2u);
    ASSERT_EQ(devices[1]->OpenSeize(), 0);
    std::vector<std::unique_ptr<usb::UsbInterface>> interfaces;
    ASSERT_EQ(devices[1]->GetInterfaces(&interfaces), 0);
    ASSERT_EQ(interfaces.size(), 1u);
    ASSERT_EQ(interfaces[0]->OpenSeize(), 0);

    // Unplugged in the middle of an answer: the transfer fails, the bus says so.
    later->SetFault(emu::Fault::kRemoveMidTransfer);
    Send(*interfaces[0], Header("STATUS", "", ""));
    int status = 0;
    EXPECT_EQ(Read(*interfaces[0], 8, &status), "00000008");
    EXPECT_EQ(Read(*interfaces[0], 8, &status), "");
    EXPECT_EQ(status, usb::kUsbNoDevice);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2], std::make_pair(usb::UsbEvent::Kind::kRemoved, later->Id()));
    std::string byte = "x";
    EXPECT_EQ(interfaces[0]->StartBulkTransfer(
                  usb::kPipeBulkOut, byte.data(), 1, 1, 1, [](void*, int, void*) {}, nullptr),
              usb::kUsbNoDevice);
    EXPECT_EQ(devices[1]->Close(), 0);
    EXPECT_NE(devices[1]->OpenSeize(), 0);

    bus.Detach(present);
    EXPECT_EQ(events.back(), std::make_pair(usb::UsbEvent::Kind::kRemoved, present->Id()));
    bus.Stop();
    bus.Attach(present);
    EXPECT_EQ(events.size(), 4u);
}

}  // namespace
