// The device-ID request and the device monitor on the emulated bus, in a
// temporary root. The worker cycle is shortened through the monitor's
// settings; the print-queue step is a recorder here (PrintQueueTest has it
// against CUPS). Every wait is for a condition, with a generous deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "../../Support/Eventually.h"
#include "../../Support/TempRoot.h"
#include "CacheFolder.h"
#include "DaemonTestSupport.h"
#include "DeviceId.h"
#include "DeviceMonitor.h"
#include "DiagnosticReport.h"
#include "EmulatedUsb.h"
#include "PrinterLock.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace qzm::test;
using qzm::emu::EmulatedBus;
using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;

constexpr auto kCycle = 20ms;

// The emulated interface, except that a device-ID request reports a
// time-out after the reply has arrived in the buffer.
class LateFailure : public qzm::usb::UsbInterface {
  public:
    explicit LateFailure(std::unique_ptr<qzm::usb::UsbInterface> real) : real_(std::move(real)) {}
    int OpenSeize() override { return real_->OpenSeize(); }
    int Close() override { return real_->Close(); }
    int GetConfigurationValue(uint8_t* v) override { return real_->GetConfigurationValue(v); }
    int GetInterfaceNumber(uint8_t* n) override { return real_->GetInterfaceNumber(n); }
    int ControlRequest(qzm::usb::UsbControlRequest* request, uint32_t timeoutMs) override {
        real_->ControlRequest(request, timeoutMs);
        return qzm::usb::kUsbTimedOut;
    }
    int StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size, uint32_t a, uint32_t b,
                          qzm::usb::UsbCompletion done, void* ref) override {
        return real_->StartBulkTransfer(pipe, buffer, size, a, b, done, ref);
    }
    void WaitForCompletion() override { real_->WaitForCompletion(); }

  private:
    std::unique_ptr<qzm::usb::UsbInterface> real_;
};

std::string Prefix(size_t length) {
    return {static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
}

std::vector<uint32_t> ControlLengths(const EmulatedPrinter& printer) {
    std::vector<uint32_t> lengths;
    for (const Transfer& t : printer.Transfers()) {
        if (t.kind == Transfer::Kind::kControl) {
            // The configuration value - 1, the interface number * 256.
            EXPECT_EQ(t.value << 16 | t.index, 0x10100u);
            lengths.push_back(t.length);
        }
    }
    return lengths;
}

TEST(DeviceIdRequest, AsksWithTheInterfacesValuesAndReadsOnlyAsFarAsTheReplyReaches) {
    // Device IDs of 298 and 253 bytes: 300 and 255 with the prefix, asked again.
    const struct {
        std::string reply;
        std::optional<std::string> expected;
        std::vector<uint32_t> asked;
    } cases[] = {
        {Prefix(300) + std::string(298, 'x'), std::string(298, 'x'), {256, 300}},
        {Prefix(255) + std::string(253, 'x'), std::string(253, 'x'), {256, 255}},
        {Prefix(254) + std::string(252, 'x'), std::string(252, 'x'), {256}},
        {Prefix(5) + "MDL:QZ", "MDL", {256}},  // bytes after the announced length
        {Prefix(200) + "MDL:QZ", "MDL:QZ", {256}},  // a prefix larger than the reply
        {Prefix(5), "", {256}},
        {Prefix(2) + "MDL:QZ", std::nullopt, {256}},
        {std::string(1, '\0'), std::nullopt, {256}},
        {Prefix(6) + "MD\xC3(", std::nullopt, {256}},  // not UTF-8
    };
    for (const auto& c : cases) {
        PrinterState state;
        state.deviceIdReply = c.reply;
        auto printer = EmulatedPrinter::Create(state);
        auto interface = printer->CreateInterface();
        ASSERT_EQ(interface->OpenSeize(), 0);
        EXPECT_EQ(_CopyDeviceId(interface.get(), 2, 1), c.expected) << c.reply.size();
        EXPECT_EQ(ControlLengths(*printer), c.asked) << c.reply.size();
    }
    // A request that fails gives nothing, whatever reached the buffer.
    PrinterState state;
    auto printer = EmulatedPrinter::Create(state);
    LateFailure late(printer->CreateInterface());
    ASSERT_EQ(late.OpenSeize(), 0);
    EXPECT_EQ(_CopyDeviceId(&late, 1, 0), std::nullopt);
    state.deviceId = std::string(298, 'x');
    printer->SetState(state);
    EXPECT_EQ(_CopyDeviceId(&late, 1, 0), std::nullopt);
    state.deviceIdFails = true;
    printer->SetState(state);
    EXPECT_EQ(_CopyDeviceId(printer->CreateInterface().get(), 1, 0), std::nullopt);
    EXPECT_EQ(_CopyDeviceId(nullptr, 1, 0), std::nullopt);
}

TEST(DeviceIdModel, TheFirstModelFieldGivesTheModel) {
    const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER", "QZ-M480"},
        {"MFG:Orvane;  mdl:QZ-M480;", "QZ-M480"},
        {"MODEL:  QZ-M480  ;MFG:Orvane", "QZ-M480"},
        {"  Model: QZ-M480 ", " QZ-M480"},  // trimmed field, rest not trimmed again
        {"MODEL:First;MDL:Second", "First"},
        {"MFG:Orvane;MDL:", ""},
        {"MFG:Orvane;CLS:PRINTER;", std::nullopt},
        {"MFG:Orvane;XMDL:QZ-M480;", std::nullopt},
        {"NDL:A;XODEL:B;MD:C;MODE:D", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [id, model] : cases) {
        EXPECT_EQ(deviceIDCopyModel(id), model) << id.value_or("(none)");
    }
}

size_t Count(const EmulatedPrinter& printer, const std::string& command,
             const std::string& sub = "") {
    size_t count = 0;
    for (const auto& packet : printer.Packets()) {
        count += packet.command == command && packet.subCommand == sub;
    }
    return count;
}

class MonitorTest : public ::testing::Test {
  protected:
    void SetUp() override { CheckAndMake_CacheFolder(); }

    // Starts the monitor on the bus with the short cycle.
    DeviceMonitor& Start(std::chrono::milliseconds cycle = kCycle) {
        MonitorSettings settings;
        settings.cycle = settings.serialRetry = cycle;
        settings.registerQueue = [this](const char* serial) {
            std::lock_guard lock(mutex_);
            queueSteps_.push_back(serial);
            return queueDone_.load();
        };
        monitor_ = std::make_unique<DeviceMonitor>(bus_, settings);
        EXPECT_EQ(monitor_->Start(0x1343, 0x0480), 0);
        return *monitor_;
    }
    std::shared_ptr<EmulatedPrinter> Plug(const std::string& serial, PrinterState state = {}) {
        state.serial = serial;
        auto printer = EmulatedPrinter::Create(state);
        bus_.Attach(printer);
        return printer;
    }
    std::string Path(const std::string& name) const { return root_ / (kInfoFolder + "/" + name); }
    std::string File(const std::string& serial) const { return Path("QZ-M480_" + serial + ".log"); }
    void Request(const std::string& serial, const std::string& suffix) {
        std::ofstream(Path("QZ-M480_" + serial + suffix)).close();
    }
    std::vector<std::string> QueueSteps() {
        std::lock_guard lock(mutex_);
        return queueSteps_;
    }
    // Runs the main thread's loop until done holds; false after 20 s.
    bool Until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        for (; !done(); monitor_->RunOnce(2)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        return true;
    }
    bool FileBecomes(const std::string& serial, const std::string& text) {
        return Until([&] { return Read(File(serial)) == text; });
    }
    // Runs the loop for some worker cycles: for checks that nothing happens.
    void Cycles(int cycles) {
        const auto end = std::chrono::steady_clock::now() + cycles * kCycle;
        while (std::chrono::steady_clock::now() < end) {
            monitor_->RunOnce(5);
        }
    }

    qzm::test::TempRoot root_;
    EmulatedBus bus_;
    std::unique_ptr<DeviceMonitor> monitor_;
    std::mutex mutex_;
    std::vector<std::string> queueSteps_;
    std::atomic<bool> queueDone_{true};
};

// A printer is set up once; while a print job holds its lock, a request waits
// for the job to end rather than take the printer from it.
TEST_F(MonitorTest, NoPassWhileAPrintJobHoldsThePrintersLock) {
    auto a = Plug("A 1");
    DeviceMonitor& monitor = Start();
    ASSERT_TRUE(FileBecomes("A%201", Info{.serial = "A%201"}.Text()));
    EXPECT_EQ(QueueSteps(), std::vector<std::string>{"A%201"});
    int stranger = 0;
    monitor.DeviceRemoved(&stranger);  // no record: ignored

    PrinterLock job("A%201");
    ASSERT_TRUE(Until([&] { return job.TryLock() == PrinterLock::kLockTaken; }));
    a->ClearTransfers();
    Request("A%201", "_UTIL");
    Cycles(5);
    EXPECT_TRUE(a->Transfers().empty());
    job.Unlock();
    ASSERT_TRUE(Until([&] { return Count(*a, "STATUS") >= 1; }));

    bus_.Detach(a);
    ASSERT_TRUE(Until([&] { return monitor.WorkerCount() == 0; }));
    monitor.DeviceRemoved(a->Id());  // a second notice frees nothing twice
}

TEST_F(MonitorTest, PrintersThatCannotBeIdentifiedGetNoFile) {
    auto noSerial = Plug("S1");
    noSerial->SetFault(Fault::kNoAnswer, "INFO", "SERIAL_NUMBER");
    PrinterState state;
    state.deviceId = "MFG:Orvane;CLS:PRINTER;";
    state.configurationValue = 2;
    state.interfaceNumber = 1;
    auto noModel = Plug("S2", state);
    Start();
    EXPECT_EQ(monitor_->Start(0x1343, 0x0480), qzm::usb::kUsbError) << "a bus that cannot be watched";
    // The serial is asked for twice a pass, a pass every cycle; a printer
    // without a model is opened every cycle, its serial read once.
    ASSERT_TRUE(Until([&] {
        return Count(*noSerial, "INFO", "SERIAL_NUMBER") >= 6 &&
               ControlLengths(*noModel).size() >= 4;
    }));
    EXPECT_EQ(Count(*noModel, "INFO", "SERIAL_NUMBER"), 1u);
    EXPECT_TRUE(fs::is_empty(root_ / kInfoFolder));
    EXPECT_TRUE(QueueSteps().empty());
    noSerial->ClearFaults();
    ASSERT_TRUE(FileBecomes("S1", Info{.serial = "S1"}.Text()));
}

TEST_F(MonitorTest, TheQueueStepIsRepeatedAndTheFileWrittenMeanwhile) {
    queueDone_ = false;
    PrinterState state;
    // No line may break the file, and a long model keeps to its field.
    state.deviceId = "MDL:QZ M480\n\"EVIL=\"1\x1F\x7F" + std::string(200, 'x') + ";";
    Plug("QZ0001", state);
    Start();
    ASSERT_TRUE(Until([&] { return QueueSteps().size() >= 3; }));
    const std::string model = "MODEL=\"QZ M480 \"EVIL=\"1  " + std::string(36, 'x') + "\"\n";
    EXPECT_NE(Read(File("QZ0001")).find(model), std::string::npos) << Read(File("QZ0001"));
}

// A printer plugged in and out a hundred times, at different moments of its
// worker's life: no worker and no thread is left, the file says
// disconnected, and (in the sanitizer build) nothing leaks.
TEST_F(MonitorTest, PlugCyclesLeaveNoWorkerBehind) {
    // A joined thread may stay listed for a moment while the kernel reaps it,
    // so the count is awaited; a worker left behind never leaves the list.
    const auto threads = [] {
        return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
    };
    const auto before = threads();
    const auto threadsBack = [&] { return Eventually([&] { return threads() == before; }); };
    auto printer = EmulatedPrinter::Create();
    DeviceMonitor& monitor = Start(2ms);
    for (int i = 0; i < 100; ++i) {
        bus_.Attach(printer);
        if (i % 4 == 0) {  // unplugged before the monitor saw the arrival
            bus_.Detach(printer);
            monitor.RunOnce(0);
            ASSERT_EQ(monitor.WorkerCount(), 0u) << i;
            continue;
        }
        ASSERT_TRUE(Until([&] { return monitor.WorkerCount() == 1; })) << i;
        // Unplugged at once, once the file is written, or a few cycles on.
        if (i % 4 == 2) {
            ASSERT_TRUE(FileBecomes("QZ0001", Info{}.Text())) << i;
        } else if (i % 4 == 3) {
            for (int k = 0; k < 3; ++k) {
                monitor.RunOnce(2);
            }
        }
        bus_.Detach(printer);
        ASSERT_TRUE(Until([&] { return monitor.WorkerCount() == 0; })) << i;
        ASSERT_TRUE(threadsBack()) << i;
    }
    EXPECT_EQ(Read(File("QZ0001")), kDisconnected);

    // Unplugged inside a transfer: the removal comes on the worker's thread.
    bus_.Attach(printer);
    ASSERT_TRUE(FileBecomes("QZ0001", Info{}.Text()));
    printer->SetFault(Fault::kRemoveMidTransfer, "STATUS");
    Request("QZ0001", "_UTIL");
    ASSERT_TRUE(Until([&] { return monitor.WorkerCount() == 0; }));
    EXPECT_TRUE(printer->Removed());
    EXPECT_EQ(Read(File("QZ0001")), kDisconnected);
    monitor_.reset();
    EXPECT_TRUE(threadsBack());
}

TEST_F(MonitorTest, TheDiagnosticReportListsPrintersAndTheirFiles) {
    Plug("QZ0001");
    std::ofstream(File("QZ0001")) << "#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\n";
    std::ostringstream out;
    EXPECT_EQ(_ReportAttachedPrinters(bus_, 0x1343, 0x0480, out), 0);
    EXPECT_EQ(out.str(),
              "Printer 1: serial number \"QZ0001\", model \"QZ-M480\"\n"
              "  Information file: /Library/Caches/Orvane/QZ-M480/QZ-M480_QZ0001.log\n"
              "    #PRINTER_INFORMATION\n"
              "    MODEL=\"QZ-M480\"\n");
    EXPECT_EQ(Tree(root_ / kInfoFolder).size(), 1u);
    EmulatedBus empty;
    std::ostringstream none;
    EXPECT_EQ(_ReportAttachedPrinters(empty, 0x1343, 0x0480, none), 0);
    EXPECT_EQ(none.str(), "No QZ-M480 printer is attached.\n");
    ASSERT_EQ(empty.Start(0x1343, 0x0480, [](qzm::usb::UsbEvent) {}), 0);
    EXPECT_NE(_ReportAttachedPrinters(empty, 0x1343, 0x0480, none), 0) << "a bus already watched";
}

}  // namespace
