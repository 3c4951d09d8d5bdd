// The libusb layer against emulated printers on a mocked USB bus: hotplug,
// exclusive opening, the device-ID request, bulk transfers with libusb's own
// time-outs, and a printer unplugged while a worker waits on a transfer.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
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

constexpr uint16_t kVendor = QZM480_USB_VENDOR_ID;
constexpr uint16_t kProduct = QZM480_USB_PRODUCT_ID;

PrinterState Printer() {
    PrinterState state;
    state.vendorId = kVendor;
    state.productId = kProduct;
    return state;
}

// Collects what the bus reports, from whichever thread handles libusb events.
struct Events {
    std::mutex mutex;
    std::vector<qzm::usb::UsbEvent> list;

    qzm::usb::UsbEventHandler Handler() {
        return [this](qzm::usb::UsbEvent event) {
            std::lock_guard lock(mutex);
            list.push_back(std::move(event));
        };
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return list.size();
    }
    qzm::usb::UsbEvent Take(size_t index) {
        std::lock_guard lock(mutex);
        return std::move(list.at(index));
    }
};

class LibusbOnMockBus : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!qzm::test::MockUsbBus::Available(&why)) {
            GTEST_SKIP() << why;
        }
        mock_ = std::make_unique<qzm::test::MockUsbBus>();
    }

    // Starts the libusb bus (after the printers already attached are in).
    void StartBus() {
        bus_ = qzm::usb::CreateLibusbBus();
        ASSERT_TRUE(bus_) << "libusb did not start";
        ASSERT_EQ(bus_->Start(kVendor, kProduct, events_.Handler()), qzm::usb::kUsbOk);
    }

    // Lets the main thread handle libusb events until count events came.
    bool WaitForEvents(size_t count, std::chrono::milliseconds limit = 3s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (events_.Count() < count && std::chrono::steady_clock::now() < end) {
            bus_->HandleEvents(50);
        }
        return events_.Count() >= count;
    }

    // Opens the device of an arrival and its one interface.
    std::unique_ptr<qzm::usb::UsbInterface> OpenInterface(qzm::usb::UsbDevice& device) {
        EXPECT_EQ(device.OpenSeize(), qzm::usb::kUsbOk);
        std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces;
        EXPECT_EQ(device.GetInterfaces(&interfaces), qzm::usb::kUsbOk);
        if (interfaces.size() != 1) {
            ADD_FAILURE() << "interfaces: " << interfaces.size();
            return nullptr;
        }
        EXPECT_EQ(interfaces[0]->OpenSeize(), qzm::usb::kUsbOk);
        return std::move(interfaces[0]);
    }

    // The number of open file descriptors of this process, as the kernel
    // sees them.
    static int OpenDescriptors() {
        int count = 0;
        for (int fd = 0; fd < 4096; ++fd) {
            count += ::fcntl(fd, F_GETFD) != -1;
        }
        return count;
    }

    std::unique_ptr<qzm::test::MockUsbBus> mock_;
    Events events_;
    std::unique_ptr<qzm::usb::UsbBus> bus_;
};

struct Completion {
    std::atomic<int> calls{0};
    int result = -1;
    uint32_t moved = 0;
    static void Done(void* refCon, int result, void* arg) {
        auto* self = static_cast<Completion*>(refCon);
        self->result = result;
        self->moved = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
        ++self->calls;
    }
};

std::vector<uint32_t> Lengths(const std::vector<Transfer>& transfers, Transfer::Kind kind) {
    std::vector<uint32_t> lengths;
    for (const Transfer& transfer : transfers) {
        if (transfer.kind == kind)
            lengths.push_back(transfer.transferred);
    }
    return lengths;
}

TEST_F(LibusbOnMockBus, AttachedPrinterArrivesBeforeStartReturnsAndLeavesWithTheSameIdentity) {
    auto printer = EmulatedPrinter::Create(Printer());
    const std::string path = mock_->Plug(printer, /*announce=*/false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u) << "the attached printer is reported by Start itself";
    qzm::usb::UsbEvent arrival = events_.Take(0);
    EXPECT_EQ(arrival.kind, Kind::kArrived);
    ASSERT_TRUE(arrival.device);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);
    EXPECT_EQ(GetStatus(interface.get()), 0);

    printer->Remove();  // unplugged from the emulator's side: the mocked bus follows
    ASSERT_TRUE(WaitForEvents(2)) << "no removal notice";
    qzm::usb::UsbEvent removal = events_.Take(1);
    EXPECT_EQ(removal.kind, Kind::kRemoved);
    EXPECT_EQ(removal.id, arrival.id);
    EXPECT_FALSE(removal.device);
    EXPECT_EQ(GetStatus(interface.get()), kStatusUnknown) << "a gone printer answers nothing";
    EXPECT_FALSE(mock_->Counters(path).claimed);
}

TEST_F(LibusbOnMockBus, HotplugReportsOnlyMatchingPrintersPluggedInLater) {
    StartBus();
    EXPECT_EQ(events_.Count(), 0u);
    PrinterState other = Printer();
    other.productId = static_cast<uint16_t>(kProduct + 1);
    mock_->Plug(EmulatedPrinter::Create(other));
    auto printer = EmulatedPrinter::Create(Printer());
    const std::string path = mock_->Plug(printer);
    ASSERT_TRUE(WaitForEvents(1)) << "no arrival for a printer plugged in later";
    bus_->HandleEvents(200);
    ASSERT_EQ(events_.Count(), 1u) << "another product was reported";
    qzm::usb::UsbEvent arrival = events_.Take(0);
    ASSERT_EQ(arrival.kind, Kind::kArrived);
    {
        auto interface = OpenInterface(*arrival.device);
        ASSERT_TRUE(interface);
        char serial[kQueryFieldSize] = {};
        EXPECT_EQ(GetSerialNo(interface.get(), serial), 6);
        EXPECT_STREQ(serial, "QZ0001");
    }
    EXPECT_EQ(arrival.device->Close(), qzm::usb::kUsbOk);

    mock_->Unplug(path);
    ASSERT_TRUE(WaitForEvents(2));
    EXPECT_EQ(events_.Take(1).id, arrival.id);
    EXPECT_EQ(mock_->Counters(path).opens, 1);
}

TEST_F(LibusbOnMockBus, OpeningTakesTheInterfaceFromThePrinterDriverAndClosingGivesItBack) {
    PrinterState state = Printer();
    state.configurationValue = 2;
    state.interfaceNumber = 1;
    auto printer = EmulatedPrinter::Create(state);
    const std::string path = mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    ASSERT_EQ(arrival.device->OpenSeize(), qzm::usb::kUsbOk);
    std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces;
    ASSERT_EQ(arrival.device->GetInterfaces(&interfaces), qzm::usb::kUsbOk);
    ASSERT_EQ(interfaces.size(), 1u);
    qzm::usb::UsbInterface& interface = *interfaces[0];
    uint8_t configuration = 0, number = 0;
    EXPECT_EQ(interface.GetConfigurationValue(&configuration), qzm::usb::kUsbOk);
    EXPECT_EQ(interface.GetInterfaceNumber(&number), qzm::usb::kUsbOk);
    EXPECT_EQ(configuration, 2);
    EXPECT_EQ(number, 1);
    uint8_t byte = 0;
    Completion done;
    EXPECT_NE(interface.StartBulkTransfer(qzm::usb::kPipeBulkIn, &byte, 1, 100, 100,
                                          &Completion::Done, &done),
              qzm::usb::kUsbOk)
        << "a transfer started on an interface that is not open";

    ASSERT_EQ(interface.OpenSeize(), qzm::usb::kUsbOk);
    qzm::test::MockUsbCounters counters = mock_->Counters(path);
    EXPECT_FALSE(counters.driverAttached);
    EXPECT_TRUE(counters.claimed);
    EXPECT_EQ(interface.OpenSeize(), qzm::usb::kUsbOk) << "an open interface counts as opened";
    EXPECT_EQ(mock_->Counters(path).claims, 1);

    EXPECT_EQ(interface.Close(), qzm::usb::kUsbOk);
    counters = mock_->Counters(path);
    EXPECT_FALSE(counters.claimed);
    EXPECT_TRUE(counters.driverAttached) << "the printer driver was not given the interface back";
    EXPECT_EQ(counters.driverDetaches, 1);
    EXPECT_EQ(counters.driverAttaches, 1);
    EXPECT_NE(interface.Close(), qzm::usb::kUsbOk);

    // A claim that fails gives the interface back to the driver at once.
    state.interfaceOpenFails = true;
    printer->SetState(state);
    EXPECT_EQ(interface.OpenSeize(), qzm::usb::kUsbBusy);
    counters = mock_->Counters(path);
    EXPECT_TRUE(counters.driverAttached);
    EXPECT_EQ(counters.driverAttaches, 2);
    EXPECT_FALSE(counters.claimed);
}

TEST_F(LibusbOnMockBus, DeviceIdRequestReturnsShortAndLongReplies) {
    PrinterState state = Printer();
    state.deviceId = "MFG:Orvane;" + std::string(300, 'x') + ";MDL:QZ-M480;";
    auto printer = EmulatedPrinter::Create(state);
    mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);

    std::vector<uint8_t> reply(256);
    qzm::usb::UsbControlRequest request{0xA1, 0, 0, 0, 256, reply.data()};
    ASSERT_EQ(interface->ControlRequest(&request, 5000), qzm::usb::kUsbOk);
    ASSERT_EQ(request.transferred, 256u) << "a long reply fills the buffer";
    const size_t total = state.deviceId.size() + 2;
    EXPECT_EQ(reply[0] << 8 | reply[1], static_cast<int>(total));

    reply.assign(total, 0);
    request.length = static_cast<uint16_t>(total);
    request.data = reply.data();
    ASSERT_EQ(interface->ControlRequest(&request, 5000), qzm::usb::kUsbOk);
    ASSERT_EQ(request.transferred, total);
    EXPECT_EQ(std::string(reply.begin() + 2, reply.end()), state.deviceId);

    state.deviceId = "MDL:QZ-M480;";
    printer->SetState(state);
    reply.assign(256, 0xEE);
    request.length = 256;
    request.data = reply.data();
    ASSERT_EQ(interface->ControlRequest(&request, 5000), qzm::usb::kUsbOk);
    ASSERT_EQ(request.transferred, 14u) << "a short reply reports its own length";
    EXPECT_EQ(std::string(reply.begin() + 2, reply.begin() + 14), "MDL:QZ-M480;");
    EXPECT_EQ(reply[14], 0xEE) << "bytes after the reply were touched";

    state.deviceIdFails = true;
    printer->SetState(state);
    EXPECT_EQ(interface->ControlRequest(&request, 5000), qzm::usb::kUsbStall);
    EXPECT_EQ(request.transferred, 0u);
}

TEST_F(LibusbOnMockBus, CommandsGoOutInPiecesAndAnswersComeHeaderThenBody) {
    auto printer = EmulatedPrinter::Create(Printer());
    mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);

    std::vector<uint8_t> command(70000, 'z');
    ASSERT_EQ(deviceWrite(interface.get(), command.data(), 600), 0);
    ASSERT_EQ(deviceWrite(interface.get(), command.data(), 70000), 0);
    EXPECT_EQ(Lengths(printer->Transfers(), Transfer::Kind::kBulkOut),
              (std::vector<uint32_t>{344, 256, 65536, 4208, 256}));

    printer->ClearTransfers();
    char firmware[kQueryFieldSize] = {};
    ASSERT_EQ(GetFirmVersion(interface.get(), firmware), 4);
    EXPECT_STREQ(firmware, "1.00");
    EXPECT_EQ(Lengths(printer->Transfers(), Transfer::Kind::kBulkIn), (std::vector<uint32_t>{8, 6}))
        << "header, then the 6 bytes it announces";

    // Exact bytes of an answer reach the caller's buffer unchanged.
    printer->SetRawAnswer("STATUS", "", std::string("00000008\x30\x31\x30\x30\x30\r\n\0", 16));
    EXPECT_EQ(GetStatus(interface.get()), 1000);
}

TEST_F(LibusbOnMockBus, ReadsEndByTheirOwnTimeOutOrStallAndTheNextExchangeStillWorks) {
    auto printer = EmulatedPrinter::Create(Printer());
    const std::string path = mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);

    uint8_t header[8];
    std::memset(header, '#', sizeof header);
    Completion done;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(interface->StartBulkTransfer(qzm::usb::kPipeBulkIn, header, 8, 300, 300,
                                           &Completion::Done, &done),
              qzm::usb::kUsbOk);
    interface->WaitForCompletion();
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.result, qzm::usb::kUsbTimedOut);
    EXPECT_EQ(done.moved, 0u);
    EXPECT_GE(waited, 250ms) << "the read ended before its time-out";
    EXPECT_EQ(header[0], '#') << "a read that timed out wrote into the buffer";
    qzm::test::MockUsbCounters counters = mock_->Counters(path);
    EXPECT_EQ(counters.discarded, 1) << "libusb did not cancel the timed-out URB";
    EXPECT_EQ(counters.pending, 0);

    EXPECT_EQ(GetStatus(interface.get()), 0) << "the next exchange after a time-out";

    printer->SetFault(Fault::kStall, "STATUS");
    EXPECT_EQ(GetStatus(interface.get()), kStatusUnknown);
    EXPECT_EQ(printer->Transfers().back().status, qzm::usb::kUsbStall);
    printer->ClearFaults();
    EXPECT_EQ(GetStatus(interface.get()), 0) << "the next exchange after a stall";
}

// The transport's designed read time-out (10 s), once, through a whole query.
TEST_F(LibusbOnMockBus, QueryWithoutAnswerEndsAfterTheDesignedReadTimeOut) {
    auto printer = EmulatedPrinter::Create(Printer());
    mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);
    printer->SetFault(Fault::kNoAnswer, "STATUS");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(GetStatus(interface.get()), kStatusUnknown);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 9500ms);
}

TEST_F(LibusbOnMockBus, UnplugWhileAWorkerWaitsEndsTheWorkerAndLeavesNothingOpen) {
    auto printer = EmulatedPrinter::Create(Printer());
    const std::string path = mock_->Plug(printer, false);
    const int descriptorsBefore = OpenDescriptors();
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);

    Completion done;
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        uint8_t header[8] = {};
        if (interface->StartBulkTransfer(qzm::usb::kPipeBulkIn, header, 8, 10000, 10000,
                                         &Completion::Done, &done) == qzm::usb::kUsbOk) {
            interface->WaitForCompletion();
        }
        ended = true;
    });
    for (int i = 0; i < 200 && mock_->Counters(path).pending == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(mock_->Counters(path).pending, 1) << "the worker's read never reached the bus";

    mock_->Unplug(path);  // returns at once: the main thread goes on handling events
    const bool removed = WaitForEvents(2);
    for (int i = 0; i < 300 && !ended; ++i) {
        bus_->HandleEvents(10);
    }
    const bool workerEnded = ended;
    worker.join();
    EXPECT_TRUE(removed) << "no removal notice";
    EXPECT_TRUE(workerEnded) << "the worker still waited after the removal";
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.result, qzm::usb::kUsbNoDevice);
    if (removed) {
        EXPECT_EQ(events_.Take(1).id, arrival.id);
    }
    uint8_t byte = 0;
    EXPECT_EQ(interface->StartBulkTransfer(qzm::usb::kPipeBulkOut, &byte, 1, 100, 100,
                                           &Completion::Done, &done),
              qzm::usb::kUsbNoDevice);

    interface->Close();
    interface.reset();
    arrival.device.reset();
    bus_.reset();
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "a descriptor was left open";
    EXPECT_EQ(mock_->Counters(path).pending, 0);
}

TEST_F(LibusbOnMockBus, PrinterRemovedInTheMiddleOfAnAnswer) {
    auto printer = EmulatedPrinter::Create(Printer());
    const std::string path = mock_->Plug(printer, false);
    StartBus();
    ASSERT_EQ(events_.Count(), 1u);
    qzm::usb::UsbEvent arrival = events_.Take(0);
    auto interface = OpenInterface(*arrival.device);
    ASSERT_TRUE(interface);
    printer->SetFault(Fault::kRemoveMidTransfer, "INFO", "MEDIA");
    char media[kQueryFieldSize];
    EXPECT_EQ(GetMediaSize(interface.get(), media), 0) << "the missing data reads as empty";
    EXPECT_EQ(Lengths(printer->Transfers(), Transfer::Kind::kBulkIn),
              (std::vector<uint32_t>{8, 0}));
    EXPECT_EQ(printer->Transfers().back().status, qzm::usb::kUsbNoDevice);
    ASSERT_TRUE(WaitForEvents(2)) << "the removal was not reported";
    EXPECT_EQ(events_.Take(1).kind, Kind::kRemoved);
    EXPECT_EQ(GetStatus(interface.get()), kStatusUnknown);
    EXPECT_FALSE(mock_->Counters(path).claimed);
}

}  // namespace

// Two printers, each with its own worker, while the main thread handles bus
// events: every worker's completions reach it, whichever thread handled them.
TEST_F(LibusbOnMockBus, WorkersOfTwoPrintersExchangeAtTheSameTime) {
    PrinterState second = Printer();
    second.serial = "QZ0002";
    second.status = 1000;
    const std::vector<std::shared_ptr<EmulatedPrinter>> printers = {
        EmulatedPrinter::Create(Printer()), EmulatedPrinter::Create(second)};
    for (const auto& printer : printers) {
        mock_->Plug(printer, false);
    }
    StartBus();
    ASSERT_EQ(events_.Count(), 2u);
    std::vector<qzm::usb::UsbEvent> arrivals;
    std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces;
    for (size_t i = 0; i < 2; ++i) {
        arrivals.push_back(events_.Take(i));
        interfaces.push_back(OpenInterface(*arrivals.back().device));
        ASSERT_TRUE(interfaces.back());
    }

    constexpr int kExchanges = 100;
    std::atomic<int> running{2};
    std::vector<std::vector<int>> statuses(2);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < 2; ++i) {
        workers.emplace_back([&, i] {
            for (int n = 0; n < kExchanges; ++n) {
                statuses[i].push_back(GetStatus(interfaces[i].get()));
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
    // Arrivals come in no fixed order: each worker saw only its own printer.
    const std::set<std::set<int>> seen = {std::set<int>(statuses[0].begin(), statuses[0].end()),
                                          std::set<int>(statuses[1].begin(), statuses[1].end())};
    EXPECT_EQ(seen, (std::set<std::set<int>>{{0}, {1000}}));
    EXPECT_EQ(statuses[0].size() + statuses[1].size(), 2u * kExchanges);
}
