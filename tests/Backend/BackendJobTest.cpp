// The backend's job and discovery against the emulated printer, in process.
#include <gtest/gtest.h>

#include <cups/backend.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "../Support/ByteCompare.h"
#include "../Support/StdoutCapture.h"
#include "../Support/TempRoot.h"
#include "Backend.h"
#include "BackendTestSupport.h"
#include "DeviceUri.h"
#include "EmulatedUsb.h"
#include "PrinterLock.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedBus;
using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;
using qzm::test::ReceivedJobBytes;
using qzm::test::Sheet;
using qzm::test::StatusCapture;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A pipe that the test writes the job's stream into, piece by piece.
class StreamPipe {
  public:
    StreamPipe() { EXPECT_EQ(::pipe(fds_), 0); }
    ~StreamPipe() {
        CloseWriting();
        ::close(fds_[0]);
    }
    int ReadEnd() const { return fds_[0]; }
    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = ::write(fds_[1], bytes.data() + done, bytes.size() - done);
            ASSERT_GT(wrote, 0);
            done += static_cast<size_t>(wrote);
        }
    }
    void CloseWriting() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
    }

  private:
    int fds_[2] = {-1, -1};
};

class BackendJobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrinterState state;
        state.serial = "QZ 0001";  // escaped: QZ%200001
        state.mediaSize = "01200";
        state.mediaInitial = "00000350";
        state.mediaRemain = "00000200";
        printer_ = EmulatedPrinter::Create(state);
        context_.bus = [this]() -> std::unique_ptr<qzm::usb::UsbBus> {
            auto bus = std::make_unique<EmulatedBus>();
            if (attached_) {
                bus->Attach(printer_);
            }
            return bus;
        };
        context_.deviceUri = _MakeDeviceUri("QZ%200001");
        context_.arguments.jobId = "42";
        context_.status = status_.File();
        context_.cancelled = [this] { return cancelled_.load(); };
        context_.waits.firstPause = 10ms;
        context_.waits.longestPause = 40ms;
        context_.waits.missingLimit = 300ms;
    }

    std::string StatusFile() const { return root_ / (qzm::test::kCacheFolder + "/Print_42.log"); }

    // Runs the job on another thread, reading from the pipe.
    std::thread Start(StreamPipe& pipe, int* result) {
        context_.input = pipe.ReadEnd();
        return std::thread([this, result] { *result = qzm::backend::RunJob(context_); });
    }

    qzm::test::TempRoot root_;
    std::shared_ptr<EmulatedPrinter> printer_;
    bool attached_ = true;
    std::atomic<bool> cancelled_{false};
    StatusCapture status_;
    qzm::backend::JobContext context_;
};

TEST_F(BackendJobTest, SendsTheStreamUnchangedInTheTransportsPieces) {
    std::vector<uint8_t> stream = Sheet(70000, 1);
    const auto second = Sheet(300, 7);
    stream.insert(stream.end(), second.begin(), second.end());
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    pipe.Write(stream);
    pipe.CloseWriting();
    job.join();

    EXPECT_EQ(result, CUPS_BACKEND_OK);
    ASSERT_EQ(printer_->Sheets().size(), 2u);
    EXPECT_TRUE(qzm::test::SameBytes(ReceivedJobBytes(*printer_), stream));
    // A plane packet of 70032 bytes goes out as 65536, 4240 and 256 bytes.
    std::vector<uint32_t> outs;
    uint64_t total = 0;
    for (const auto& t : printer_->Transfers()) {
        if (t.kind == qzm::emu::Transfer::Kind::kBulkOut && t.length > 32) {
            outs.push_back(t.length);
        }
    }
    const std::vector<uint32_t> pieces{65536, 4240, 256};
    EXPECT_NE(std::search(outs.begin(), outs.end(), pieces.begin(), pieces.end()), outs.end());
    for (const auto& t : printer_->Transfers()) {
        if (t.kind == qzm::emu::Transfer::Kind::kBulkOut) {
            total += t.transferred;
        }
    }
    // Everything sent but the queries' 32-byte packets is the stream.
    size_t queries = printer_->Packets().size() - 12;
    EXPECT_EQ(total, stream.size() + 32 * queries);
    EXPECT_FALSE(printer_->InterfaceOpen());
}

TEST_F(BackendJobTest, PrintStatusFileIsThereWhileTheJobRunsAndGoneAfter) {
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(StatusFile()); }));
    // The media answer "01200" from its 3rd character on, like the
    // information file; the filter reads this line.
    EXPECT_EQ(ReadText(StatusFile()), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
    struct stat info {};
    ASSERT_EQ(::lstat(StatusFile().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    pipe.Write(Sheet(100, 1));
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_FALSE(fs::exists(StatusFile()));
}

TEST_F(BackendJobTest, StatusCodesBecomeStateReasonsAndClearWhenFixed) {
    auto state = printer_->State();
    state.status = 1100;
    printer_->SetState(state);
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    ASSERT_TRUE(
        WaitFor([&] { return status_.Text().find("STATE: +media-empty\n") != std::string::npos; }));
    // Nothing is sent while the paper is out.
    pipe.Write(Sheet(100, 1));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(printer_->Sheets().empty());
    state.status = 0;
    printer_->SetState(state);
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 1u);
    const std::string text = status_.Text();
    EXPECT_NE(text.find("STATE: -media-empty\n"), std::string::npos) << text;
    // 350 and 200 less 50 each: 150 of 300.
    EXPECT_NE(text.find("ATTR: marker-colors=none marker-names=Media marker-types=ink-ribbon "
                        "marker-levels=50\n"),
              std::string::npos)
        << text;
    // Nothing but status lines.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.rfind("STATE: ", 0) == 0 || line.rfind("INFO: ", 0) == 0 ||
                    line.rfind("ATTR: ", 0) == 0)
            << line;
    }
}

TEST_F(BackendJobTest, AnErrorBetweenSheetsHoldsTheNextSheet) {
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    // The ribbon ends while the first sheet prints.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(StatusFile()); }));
    auto state = printer_->State();
    state.status = 1200;
    printer_->SetState(state);
    pipe.Write(Sheet(100, 1));
    pipe.Write(Sheet(100, 2));
    ASSERT_TRUE(WaitFor(
        [&] { return status_.Text().find("STATE: +marker-supply-empty\n") != std::string::npos; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(printer_->Sheets().size(), 1u);
    state.status = 0;
    printer_->SetState(state);
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 2u);
    // With the ribbon ended no prints remain.
    EXPECT_NE(status_.Text().find("marker-levels=0\n"), std::string::npos);
}

TEST_F(BackendJobTest, ABusyPrinterIsWaitedFor) {
    auto state = printer_->State();
    state.interfaceOpenFails = true;  // another client holds the interface
    printer_->SetState(state);
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    pipe.Write(Sheet(100, 1));
    pipe.CloseWriting();
    ASSERT_TRUE(WaitFor([&] {
        return status_.Text().find("INFO: Waiting for the printer, which is in use.\n") !=
               std::string::npos;
    }));
    // Longer than the wait for a missing printer: busy is not missing.
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(fs::exists(StatusFile()));
    state.interfaceOpenFails = false;
    printer_->SetState(state);
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 1u);
}

TEST_F(BackendJobTest, TheDaemonsLockAndTheJobsExcludeEachOther) {
    PrinterLock daemon("QZ%200001");
    ASSERT_EQ(daemon.TryLock(), PrinterLock::kLockTaken);
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    std::this_thread::sleep_for(200ms);
    // Not even opened while the daemon's pass runs.
    EXPECT_TRUE(printer_->Packets().empty());
    daemon.Unlock();
    pipe.Write(Sheet(100, 1));
    ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
    // The daemon's next pass is skipped while the job holds the printer.
    EXPECT_EQ(daemon.TryLock(), PrinterLock::kLockBusy);
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_EQ(daemon.TryLock(), PrinterLock::kLockTaken);
}
TEST_F(BackendJobTest, AMissingPrinterHandsTheJobBackForARetry) {
    attached_ = false;
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_RETRY);
    EXPECT_NE(status_.Text().find("STATE: +offline-report\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(StatusFile()));
}

TEST_F(BackendJobTest, UnpluggedInTheMiddleStopsTheQueueAndCleansUp) {
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    pipe.Write(Sheet(100, 1));
    ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
    printer_->Remove();
    pipe.Write(Sheet(100, 2));
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_STOP);
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_NE(status_.Text().find("STATE: +offline-report\n"), std::string::npos);
}

TEST_F(BackendJobTest, CancelStopsBetweenTransfersAndCleansUp) {
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    pipe.Write(Sheet(100, 1));
    ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
    cancelled_ = true;
    // The pipe stays open: the cancel must not wait for the stream's end.
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_EQ(printer_->Sheets().size(), 1u);
}

TEST_F(BackendJobTest, ACutLastPacketIsHeldBack) {
    const auto sheet = Sheet(100, 1);
    auto stream = sheet;
    const auto extra = qzm::test::PacketBytes("IMAGE", "YPLANE", qzm::test::Payload(100, 9));
    stream.insert(stream.end(), extra.begin(), extra.end() - 10);
    StreamPipe pipe;
    int result = -1;
    std::thread job = Start(pipe, &result);
    pipe.Write(stream);
    pipe.CloseWriting();
    job.join();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_TRUE(qzm::test::SameBytes(ReceivedJobBytes(*printer_), sheet));
}

TEST_F(BackendJobTest, AFileArgumentIsSentOncePerCopy) {
    const std::string file = root_ / "/job.bin";
    const auto sheet = Sheet(100, 3);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(sheet.data()),
               static_cast<std::streamsize>(sheet.size()));
    context_.arguments.file = file;
    context_.arguments.copies = 2;
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 2u);
}

TEST_F(BackendJobTest, UnsafeJobIdsAndForeignUrisAreRefused) {
    context_.arguments.jobId = "../../etc/x";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_FAILED);
    context_.arguments.jobId = "42";
    context_.deviceUri = "usb://Orvane/QZ-M480?serial=QZ%200001";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_STOP);
    EXPECT_TRUE(printer_->Packets().empty());
    EXPECT_FALSE(fs::exists(root_ / qzm::test::kCacheFolder));
}

TEST(BackendDiscovery, ListsEveryUsablePrinterAsADirectDevice) {
    qzm::test::TempRoot root;
    PrinterState first;
    first.serial = "AB 12";
    PrinterState second;
    second.serial = "ZZ9";
    second.deviceIdFails = true;
    PrinterState bad;
    bad.serial = "../x";  // cannot serve as an identity
    PrinterState busy;
    busy.serial = "BUSY";
    busy.interfaceOpenFails = true;
    std::vector<std::shared_ptr<EmulatedPrinter>> printers;
    for (const auto& s : {first, second, bad, busy}) {
        printers.push_back(EmulatedPrinter::Create(s));
    }
    qzm::test::StdoutCapture capture;
    const int result = qzm::backend::RunDiscovery([&printers] {
        auto bus = std::make_unique<EmulatedBus>();
        for (const auto& p : printers) {
            bus->Attach(p);
        }
        return bus;
    });
    const auto bytes = capture.Stop();
    EXPECT_EQ(result, CUPS_BACKEND_OK);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "direct ovbackend://Orvane%20Imaging%20Inc./M480?serial=AB%2012 \"Orvane QZ-M480\" "
              "\"Orvane QZ-M480 USB AB%2012\" \"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;\" \"\"\n"
              "direct ovbackend://Orvane%20Imaging%20Inc./M480?serial=ZZ9 \"Orvane QZ-M480\" "
              "\"Orvane QZ-M480 USB ZZ9\" \"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;\" \"\"\n");
    for (const auto& p : printers) {
        EXPECT_FALSE(p->InterfaceOpen());
    }
}

}  // namespace
