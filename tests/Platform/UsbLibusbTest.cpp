// The libusb layer against emulated printers on a mocked USB bus: hotplug,
// exclusive opening, the device-ID request, bulk transfers with libusb's own
// time-outs, and printers unplugged while a worker waits on a transfer.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "MockUsbBus.h"
#include "StatusQueries.h"
#include "UsbLibusb.h"
#include "UsbTransport.h"

namespace {

using namespace std::chrono_literals;
using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;
using Kind = qzm::usb::UsbEvent::Kind;
namespace usb = qzm::usb;

PrinterState Printer() {
    PrinterState state;
    state.vendorId = QZM480_USB_VENDOR_ID;
    state.productId = QZM480_USB_PRODUCT_ID;
    return state;
}

struct Completion {
    std::atomic<int> calls{0};
    int result = -1;
    static void Done(void* refCon, int result, void*) {
        auto* self = static_cast<Completion*>(refCon);
        self->result = result;
        ++self->calls;
    }
};

std::vector<uint32_t> Moved(const EmulatedPrinter& printer, Transfer::Kind kind) {
    std::vector<uint32_t> lengths;
    for (const Transfer& transfer : printer.Transfers()) {
        if (transfer.kind == kind)
            lengths.push_back(transfer.transferred);
    }
    return lengths;
}

class LibusbOnMockBus : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!qzm::test::MockUsbBus::Available(&why)) {
            GTEST_SKIP() << why;
        }
        mock_ = std::make_unique<qzm::test::MockUsbBus>();
    }

    // Plugs printers in, starts the libusb bus, opens every arrival.
    // Printer i has the serial "Pi"; interfaces_[i] is its interface.
    void Start(std::vector<PrinterState> states = {Printer()}) {
        for (PrinterState& state : states) {
            state.serial = "P" + std::to_string(printers_.size());
            printers_.push_back(EmulatedPrinter::Create(state));
            paths_.push_back(mock_->Plug(printers_.back(), false));
        }
        bus_ = usb::CreateLibusbBus();
        ASSERT_TRUE(bus_) << "libusb did not start";
        ASSERT_EQ(bus_->Start(QZM480_USB_VENDOR_ID, QZM480_USB_PRODUCT_ID,
                              [this](usb::UsbEvent event) {
                                  std::lock_guard lock(mutex_);
                                  events_.push_back(std::move(event));
                              }),
                  usb::kUsbOk);
        ASSERT_EQ(Events(), states.size()) << "attached printers are reported by Start itself";
        EXPECT_NE(bus_->Start(QZM480_USB_VENDOR_ID, QZM480_USB_PRODUCT_ID, [](usb::UsbEvent) {}),
                  usb::kUsbOk) << "a bus started twice";
        // Arrivals come in no fixed order.
        interfaces_.resize(states.size());
        arrival_.resize(states.size());
        for (size_t e = 0; e < events_.size(); ++e) {
            ASSERT_EQ(events_[e].kind, Kind::kArrived);
            auto interface = OpenInterface(*events_[e].device);
            char serial[kQueryFieldSize] = {};
            ASSERT_EQ(GetSerialNo(interface.get(), serial), 2);
            arrival_.at(serial[1] - '0') = e;
            interfaces_.at(serial[1] - '0') = std::move(interface);
        }
        for (const auto& printer : printers_) {
            printer->ClearTransfers();
        }
    }
    // The number of this process's descriptors open on USB device nodes.
    static int Descriptors() {
        int count = 0;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
            count += target.find("/dev/bus/usb/") != std::string::npos;
        }
        return count;
    }
    size_t Events() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }
    // Lets the main thread handle libusb events until count events came.
    bool WaitForEvents(size_t count) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (Events() < count && std::chrono::steady_clock::now() < end) {
            bus_->HandleEvents(50);
        }
        return Events() >= count;
    }
    std::unique_ptr<usb::UsbInterface> OpenInterface(usb::UsbDevice& device) {
        std::vector<std::unique_ptr<usb::UsbInterface>> interfaces;
        EXPECT_NE(device.GetInterfaces(&interfaces), usb::kUsbOk) << "interfaces of a closed device";
        EXPECT_EQ(device.OpenSeize(), usb::kUsbOk);
        EXPECT_EQ(device.GetInterfaces(&interfaces), usb::kUsbOk);
        EXPECT_EQ(interfaces.size(), 1u);
        EXPECT_EQ(interfaces.at(0)->OpenSeize(), usb::kUsbOk);
        return std::move(interfaces.at(0));
    }
    // The removal notice of printer i came, for the arrival's identity.
    void ExpectRemoval(size_t event, size_t i = 0) {
        ASSERT_TRUE(WaitForEvents(event + 1)) << "no removal notice";
        std::lock_guard lock(mutex_);
        EXPECT_EQ(events_[event].kind, Kind::kRemoved);
        EXPECT_EQ(events_[event].id, events_[arrival_[i]].id);
        EXPECT_FALSE(events_[event].device);
        EXPECT_FALSE(mock_->Counters(paths_[i]).claimed);
    }

    std::unique_ptr<qzm::test::MockUsbBus> mock_;
    std::vector<std::shared_ptr<EmulatedPrinter>> printers_;
    std::vector<std::string> paths_;
    std::unique_ptr<usb::UsbBus> bus_;
    std::mutex mutex_;
    std::vector<usb::UsbEvent> events_;
    std::vector<std::unique_ptr<usb::UsbInterface>> interfaces_;
    std::vector<size_t> arrival_;  // the event of printer i's arrival
};

TEST_F(LibusbOnMockBus, OpeningExchangingAndClosingTheInterface) {
    PrinterState state = Printer();
    state.configurationValue = 2;
    state.interfaceNumber = 1;
    state.deviceId = "MFG:Orvane;" + std::string(300, 'x') + ";MDL:QZ-M480;";
    Start({state});
    usb::UsbInterface& interface = *interfaces_[0];
    uint8_t configuration = 0, number = 0;
    EXPECT_EQ(interface.GetConfigurationValue(&configuration), usb::kUsbOk);
    EXPECT_EQ(interface.GetInterfaceNumber(&number), usb::kUsbOk);
    EXPECT_EQ(configuration << 8 | number, 0x201);
    auto counters = mock_->Counters(paths_[0]);
    EXPECT_FALSE(counters.driverAttached);
    EXPECT_TRUE(counters.claimed);
    uint8_t byte = 0;
    EXPECT_NE(interface.StartBulkTransfer(usb::kPipeBulkIn, &byte, 1, 100, 100, nullptr, nullptr),
              usb::kUsbOk) << "a transfer without a completion";
    EXPECT_EQ(interface.OpenSeize(), usb::kUsbOk) << "an open interface counts as opened";

    // The device-ID request: a long reply fills the buffer and no more.
    const size_t total = state.deviceId.size() + 2;
    std::vector<uint8_t> reply(total, 0xEE);
    usb::UsbControlRequest request{0xA1, 0, 0, 0, 256, reply.data()};
    ASSERT_EQ(interface.ControlRequest(&request, 5000), usb::kUsbOk);
    ASSERT_EQ(request.transferred, 256u);
    EXPECT_EQ(reply[0] << 8 | reply[1], static_cast<int>(total));
    EXPECT_EQ(reply[256], 0xEE) << "bytes after the buffer were touched";
    request.length = static_cast<uint16_t>(total);
    ASSERT_EQ(interface.ControlRequest(&request, 5000), usb::kUsbOk);
    EXPECT_EQ(std::string(reply.begin() + 2, reply.end()), state.deviceId);
    state.deviceIdFails = true;
    printers_[0]->SetState(state);
    EXPECT_EQ(interface.ControlRequest(&request, 5000), usb::kUsbStall);
    EXPECT_EQ(request.transferred, 0u);

    // A read ends by its own time-out, or a stall; the next exchange works.
    uint8_t header[8];
    std::memset(header, '#', sizeof header);
    Completion done;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(interface.StartBulkTransfer(usb::kPipeBulkIn, header, 8, 300, 300,
                                          &Completion::Done, &done),
              usb::kUsbOk);
    interface.WaitForCompletion();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms) << "ended before its time-out";
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.result, usb::kUsbTimedOut);
    EXPECT_EQ(header[0], '#') << "a read that timed out wrote into the buffer";
    EXPECT_EQ(mock_->Counters(paths_[0]).pending, 0) << "the timed-out URB was not cancelled";
    EXPECT_EQ(GetStatus(&interface), 0) << "the next exchange after a time-out";

    printers_[0]->SetFault(Fault::kStall, "STATUS");
    EXPECT_EQ(GetStatus(&interface), kStatusUnknown);
    EXPECT_EQ(printers_[0]->Transfers().back().status, usb::kUsbStall);
    printers_[0]->ClearFaults();
    EXPECT_EQ(GetStatus(&interface), 0) << "the next exchange after a stall";

    EXPECT_EQ(interface.Close(), usb::kUsbOk);
    counters = mock_->Counters(paths_[0]);
    EXPECT_FALSE(counters.claimed);
    EXPECT_TRUE(counters.driverAttached) << "the printer driver was not given the interface back";
    EXPECT_NE(interface.Close(), usb::kUsbOk);
    EXPECT_NE(interface.StartBulkTransfer(usb::kPipeBulkIn, &byte, 1, 100, 100, &Completion::Done,
                                          &done),
              usb::kUsbOk)
        << "a transfer started on an interface that is not open";

    // A claim that fails gives the interface back to the driver at once.
    state.interfaceOpenFails = true;
    printers_[0]->SetState(state);
    EXPECT_EQ(interface.OpenSeize(), usb::kUsbBusy);
    counters = mock_->Counters(paths_[0]);
    EXPECT_TRUE(counters.driverAttached);
    EXPECT_FALSE(counters.claimed);
}

// Two printers, each with its own worker, while the main thread handles bus
// events: every worker's completions reach it, whichever thread handled them.
// Then each is unplugged: one in the middle of an answer, the other from the
// bus's side while a worker waits on a read; and plugged in again. Another
// product on the bus is never reported.
TEST_F(LibusbOnMockBus, HotplugAndWorkersOfTwoPrintersThatAreUnplugged) {
    PrinterState second = Printer(), other = Printer();
    second.status = 1000;
    other.productId = static_cast<uint16_t>(other.productId + 1);
    mock_->Plug(EmulatedPrinter::Create(other), false);
    Start({Printer(), second});
    std::atomic<int> running{2};
    std::vector<std::set<int>> statuses(2);  // each worker sees only its own printer
    std::vector<std::thread> workers;
    for (size_t i = 0; i < 2; ++i) {
        workers.emplace_back([&, i] {
            for (int n = 0; n < 100; ++n) {
                statuses[i].insert(GetStatus(interfaces_[i].get()));
            }
            --running;
        });
    }
    while (running > 0) {
        bus_->HandleEvents(10);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(statuses, (std::vector<std::set<int>>{{0}, {1000}}));

    // In the middle of an answer: the missing data reads as empty.
    printers_[1]->ClearTransfers();
    printers_[1]->SetFault(Fault::kRemoveMidTransfer, "INFO", "MEDIA");
    char media[kQueryFieldSize];
    EXPECT_EQ(GetMediaSize(interfaces_[1].get(), media), 0);
    EXPECT_EQ(Moved(*printers_[1], Transfer::Kind::kBulkIn), (std::vector<uint32_t>{8, 0}));
    EXPECT_EQ(printers_[1]->Transfers().back().status, usb::kUsbNoDevice);
    ExpectRemoval(2, 1);
    EXPECT_EQ(GetStatus(interfaces_[1].get()), kStatusUnknown);

    Completion done;
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        uint8_t header[8] = {};
        if (interfaces_[0]->StartBulkTransfer(usb::kPipeBulkIn, header, 8, 10000, 10000,
                                              &Completion::Done, &done) == usb::kUsbOk) {
            interfaces_[0]->WaitForCompletion();
        }
        ended = true;
    });
    for (int i = 0; i < 1000 && mock_->Counters(paths_[0]).pending == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(mock_->Counters(paths_[0]).pending, 1) << "the worker's read never reached the bus";
    mock_->Unplug(paths_[0]);  // returns at once: the main thread goes on handling events
    ExpectRemoval(3, 0);
    for (int i = 0; i < 1000 && !ended; ++i) {
        bus_->HandleEvents(10);
    }
    EXPECT_TRUE(ended) << "the worker still waited after the removal";
    worker.join();
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.result, usb::kUsbNoDevice);
    uint8_t byte = 0;
    EXPECT_EQ(interfaces_[0]->StartBulkTransfer(usb::kPipeBulkOut, &byte, 1, 100, 100,
                                                &Completion::Done, &done),
              usb::kUsbNoDevice);

    mock_->Plug(printers_[0]);
    mock_->Plug(EmulatedPrinter::Create(other));
    ASSERT_TRUE(WaitForEvents(5)) << "no arrival for a printer plugged in again";
    bus_->HandleEvents(200);
    EXPECT_EQ(Events(), 5u) << "another product was reported";
    interfaces_.clear();
    events_.clear();
    bus_.reset();
    EXPECT_EQ(Descriptors(), 0) << "a descriptor was left open";
    EXPECT_EQ(mock_->Counters(paths_[0]).pending, 0);
}

}  // namespace
