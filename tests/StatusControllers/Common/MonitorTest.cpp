// The device monitor on the emulated bus, in a temporary root. The worker
// cycle is shortened through the monitor's settings; the print-queue step is
// replaced by a recorder here (it has tests of its own against CUPS).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../Support/TempRoot.h"
#include "CacheFolder.h"
#include "DeviceMonitor.h"
#include "DiagnosticReport.h"
#include "EmulatedUsb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedBus;
using qzm::emu::EmulatedPrinter;
using qzm::emu::Fault;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;

constexpr auto kCycle = 20ms;
constexpr auto kPatience = 10s;

const std::string kFolder = "/Library/Caches/Orvane/QZ-M480";

const std::string kDisconnected =
    "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n"
    "MEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\nMEDIA_REMAIN_HALF=\"\"\n\n#COUNTER_INFORMATION\n"
    "TOTAL_COUNT=\"\"\n\n";

std::string Attached(const std::string& serial, const std::string& counter = "") {
    return "#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"00000\"\n"
           "PRINTER_MESSAGE=\"00001\"\nPRINTER_VERSION=\"1.00\"\nPRINTER_SERIAL_NO=\"" +
           serial +
           "\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\nMEDIA_INITIAL=\"0400\"\n"
           "MEDIA_REMAIN=\"0123\"\n\n#COUNTER_INFORMATION\nTOTAL_COUNT=\"" +
           counter + "\"\n\n";
}

size_t CountPackets(const EmulatedPrinter& printer, const std::string& command,
                    const std::string& subCommand = "") {
    size_t count = 0;
    for (const auto& packet : printer.Packets()) {
        count += packet.command == command && packet.subCommand == subCommand;
    }
    return count;
}

size_t CountControlRequests(const EmulatedPrinter& printer) {
    size_t count = 0;
    for (const auto& transfer : printer.Transfers()) {
        count += transfer.kind == Transfer::Kind::kControl;
    }
    return count;
}

class MonitorTest : public ::testing::Test {
  protected:
    void SetUp() override { CheckAndMake_CacheFolder(); }

    MonitorSettings Settings() {
        MonitorSettings settings;
        settings.cycle = kCycle;
        settings.serialRetry = kCycle;
        settings.registerQueue = [this](const char* serial) {
            std::lock_guard lock(mutex_);
            queueSteps_.push_back(serial);
            return queueDone_.load();
        };
        return settings;
    }

    std::shared_ptr<EmulatedPrinter> Printer(const std::string& serial, PrinterState state = {}) {
        state.serial = serial;
        return EmulatedPrinter::Create(state);
    }

    std::string Path(const std::string& name) const { return root_ / (kFolder + "/" + name); }
    std::string InfoFile(const std::string& serial) const {
        return Path("QZ-M480_" + serial + ".log");
    }
    std::string Read(const std::string& path) const {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    void Request(const std::string& serial, const std::string& suffix) {
        std::ofstream(Path("QZ-M480_" + serial + suffix)).close();
    }
    std::vector<std::string> QueueSteps() {
        std::lock_guard lock(mutex_);
        return queueSteps_;
    }

    // Runs the main thread's loop until done holds; false after kPatience.
    bool Pump(DeviceMonitor& monitor, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            monitor.RunOnce(5);
        }
        return true;
    }
    // Runs the main thread's loop for some worker cycles.
    void PumpCycles(DeviceMonitor& monitor, int cycles) {
        const auto end = std::chrono::steady_clock::now() + cycles * kCycle;
        while (std::chrono::steady_clock::now() < end) {
            monitor.RunOnce(5);
        }
    }
    // Waits until the file holds exactly text.
    bool FileBecomes(DeviceMonitor& monitor, const std::string& path, const std::string& text) {
        return Pump(monitor, [&] { return Read(path) == text; });
    }

    int Start(DeviceMonitor& monitor) {
        const PrinterState state;
        return monitor.Start(state.vendorId, state.productId);
    }

    qzm::test::TempRoot root_;
    EmulatedBus bus_;
    std::mutex mutex_;
    std::vector<std::string> queueSteps_;
    std::atomic<bool> queueDone_{true};
};

TEST_F(MonitorTest, APrinterPresentAtStartIsIdentifiedThenLeftAlone) {
    auto printer = Printer("QZ0001");
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    EXPECT_EQ(monitor.WorkerCount(), 1u);

    ASSERT_TRUE(FileBecomes(monitor, InfoFile("QZ0001"), Attached("QZ0001")));
    EXPECT_EQ(QueueSteps(), std::vector<std::string>{"QZ0001"});

    // Set up: no pass, and so no USB traffic, without a request file.
    printer->ClearTransfers();
    PumpCycles(monitor, 10);
    EXPECT_TRUE(printer->Transfers().empty());
    EXPECT_EQ(QueueSteps().size(), 1u);
}

TEST_F(MonitorTest, RequestFilesDrivePasses) {
    PrinterState state;
    state.status = 900;
    auto printer = Printer("QZ0001", state);
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    ASSERT_TRUE(Pump(monitor, [&] { return fs::exists(InfoFile("QZ0001")); }));

    // "_TC_UTIL": a pass with the life counter, whatever the status; the
    // request is removed.
    Request("QZ0001", "_TC_UTIL");
    ASSERT_TRUE(Pump(monitor, [&] {
        return Read(InfoFile("QZ0001")).find("TOTAL_COUNT=\"00042\"") != std::string::npos;
    }));
    EXPECT_FALSE(fs::exists(Path("QZ0001_TC_UTIL")));

    // "_START_UTIL" while the status is 900: a pass without the counter.
    Request("QZ0001", "_START_UTIL");
    ASSERT_TRUE(Pump(monitor, [&] {
        return !fs::exists(Path("QZ-M480_QZ0001_START_UTIL")) &&
               Read(InfoFile("QZ0001")).find("TOTAL_COUNT=\"\"") != std::string::npos;
    }));

    // "_UTIL": a pass every cycle for as long as it exists.
    Request("QZ0001", "_UTIL");
    const size_t before = CountPackets(*printer, "STATUS");
    ASSERT_TRUE(Pump(monitor, [&] { return CountPackets(*printer, "STATUS") >= before + 3; }));
    EXPECT_TRUE(fs::exists(Path("QZ-M480_QZ0001_UTIL")));
    fs::remove(Path("QZ-M480_QZ0001_UTIL"));
    PumpCycles(monitor, 3);
    const size_t after = CountPackets(*printer, "STATUS");
    PumpCycles(monitor, 10);
    EXPECT_EQ(CountPackets(*printer, "STATUS"), after);
}

TEST_F(MonitorTest, AnArrivalGetsAWorkerAndAnUnplugTheDisconnectedFile) {
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    EXPECT_EQ(monitor.WorkerCount(), 0u);

    auto printer = Printer("QZ 7");
    bus_.Attach(printer);
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("QZ%207"), Attached("QZ%207")));
    int stranger = 0;
    monitor.DeviceRemoved(&stranger);  // no record: ignored
    EXPECT_EQ(monitor.WorkerCount(), 1u);

    bus_.Detach(printer);
    ASSERT_TRUE(Pump(monitor, [&] { return monitor.WorkerCount() == 0; }));
    EXPECT_EQ(Read(InfoFile("QZ%207")), kDisconnected);
    monitor.DeviceRemoved(printer->Id());  // a second notice frees nothing twice

    // Plugged in again: a new worker goes through set-up again.
    bus_.Attach(printer);
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("QZ%207"), Attached("QZ%207")));
    EXPECT_EQ(QueueSteps(), (std::vector<std::string>{"QZ%207", "QZ%207"}));
}

TEST_F(MonitorTest, AnUnplugRightAfterTheArrivalLeavesNoWorker) {
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    for (int round = 0; round < 20; ++round) {
        auto printer = Printer("QZ0001");
        bus_.Attach(printer);
        bus_.Detach(printer);
        monitor.RunOnce(0);
        ASSERT_EQ(monitor.WorkerCount(), 0u) << "round " << round;
    }
    PumpCycles(monitor, 2);
    EXPECT_EQ(monitor.WorkerCount(), 0u);
}

TEST_F(MonitorTest, AnUnplugDuringATransferEndsTheWorker) {
    auto printer = Printer("QZ0001");
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    ASSERT_TRUE(Pump(monitor, [&] { return fs::exists(InfoFile("QZ0001")); }));

    // The removal is reported on the worker's thread, inside its transfer.
    printer->SetFault(Fault::kRemoveMidTransfer, "STATUS");
    Request("QZ0001", "_UTIL");
    ASSERT_TRUE(Pump(monitor, [&] { return monitor.WorkerCount() == 0; }));
    EXPECT_TRUE(printer->Removed());
    EXPECT_EQ(Read(InfoFile("QZ0001")), kDisconnected);
}

TEST_F(MonitorTest, ASerialThatCannotBeReadIsAskedForAgainAndNothingIsMade) {
    auto printer = Printer("QZ0001");
    printer->SetFault(Fault::kNoAnswer, "INFO", "SERIAL_NUMBER");
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);

    // Two attempts a pass, a pass every cycle.
    ASSERT_TRUE(
        Pump(monitor, [&] { return CountPackets(*printer, "INFO", "SERIAL_NUMBER") >= 6; }));
    EXPECT_TRUE(fs::is_empty(root_ / kFolder));
    EXPECT_TRUE(QueueSteps().empty());

    printer->ClearFaults();
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("QZ0001"), Attached("QZ0001")));
}

TEST_F(MonitorTest, APrinterWithoutAModelIsOpenedEveryCycleAndNothingIsMade) {
    PrinterState state;
    state.deviceId = "MFG:Orvane;CLS:PRINTER;";
    auto printer = Printer("QZ0001", state);
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);

    ASSERT_TRUE(Pump(monitor, [&] { return CountControlRequests(*printer) >= 4; }));
    EXPECT_EQ(CountPackets(*printer, "INFO", "SERIAL_NUMBER"), 1u);
    EXPECT_TRUE(fs::is_empty(root_ / kFolder));
    EXPECT_TRUE(QueueSteps().empty());
}

TEST_F(MonitorTest, TheQueueStepIsRepeatedAndTheFileWrittenMeanwhile) {
    queueDone_ = false;
    PrinterState state;
    state.deviceId = "MDL:QZ-M480\n\"EVIL=\"1;";  // no line may break the file
    auto printer = Printer("QZ0001", state);
    bus_.Attach(printer);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);

    ASSERT_TRUE(Pump(monitor, [&] { return QueueSteps().size() >= 3; }));
    EXPECT_NE(Read(InfoFile("QZ0001")).find("MODEL=\"QZ-M480 \"EVIL=\"1\"\n"), std::string::npos);
}

TEST_F(MonitorTest, TwoPrintersKeepTheirOwnFilesAndRequests) {
    auto a = Printer("A1");
    auto b = Printer("B2");
    bus_.Attach(a);
    bus_.Attach(b);
    DeviceMonitor monitor(bus_, Settings());
    ASSERT_EQ(Start(monitor), 0);
    EXPECT_EQ(monitor.WorkerCount(), 2u);
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("A1"), Attached("A1")));
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("B2"), Attached("B2")));

    b->ClearTransfers();
    Request("A1", "_START_UTIL");
    ASSERT_TRUE(FileBecomes(monitor, InfoFile("A1"), Attached("A1", "00042")));
    EXPECT_TRUE(b->Transfers().empty());
    EXPECT_EQ(Read(InfoFile("B2")), Attached("B2"));

    bus_.Detach(a);
    ASSERT_TRUE(Pump(monitor, [&] { return monitor.WorkerCount() == 1; }));
    EXPECT_EQ(Read(InfoFile("A1")), kDisconnected);
    EXPECT_EQ(Read(InfoFile("B2")), Attached("B2"));
}

TEST_F(MonitorTest, TheDiagnosticReportListsPrintersAndTheirFiles) {
    auto printer = Printer("QZ0001");
    bus_.Attach(printer);
    std::ofstream(InfoFile("QZ0001")) << "#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\n";
    std::ostringstream out;
    const PrinterState state;
    EXPECT_EQ(_ReportAttachedPrinters(bus_, state.vendorId, state.productId, out), 0);
    EXPECT_EQ(out.str(),
              "Printer 1: serial number \"QZ0001\", model \"QZ-M480\"\n"
              "  Information file: /Library/Caches/Orvane/QZ-M480/QZ-M480_QZ0001.log\n"
              "    #PRINTER_INFORMATION\n"
              "    MODEL=\"QZ-M480\"\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / kFolder), fs::directory_iterator()), 1);
}

}  // namespace
