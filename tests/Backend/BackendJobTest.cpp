// The backend in process: status codes as CUPS state reasons and messages,
// the remaining prints as a marker level, the print-status file against
// planted links, and jobs and discovery against the emulated printer.
#include <gtest/gtest.h>

#include <cups/backend.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "../Support/StdoutCapture.h"
#include "../Support/TempRoot.h"
#include "Backend.h"
#include "BackendTestSupport.h"
#include "CacheFolder.h"
#include "DeviceUri.h"
#include "EmulatedUsb.h"
#include "PrintStatusFile.h"
#include "PrinterLock.h"
#include "StatusReport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedBus;
using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;
using qzm::test::Read;
using qzm::test::Sheet;
using qzm::test::WaitFor;

namespace {

TEST(StatusReport, ReasonsAndMessagesFollowThePrintersStatusCodes) {
    const std::string other = "other-error";
    const struct {
        int status;
        std::set<std::string> reasons;
        std::string message;  // when there is a reason
    } rows[] = {
        {0, {}, ""}, {1, {}, ""}, {500, {}, ""}, {900, {}, ""}, {1999, {}, ""}, {3001, {}, ""},
        {1000, {"cover-open"}, "The printer's cover is open."},
        {1010, {other}, "The printer's scrap box is missing."},
        {1100, {"media-empty"}, "The printer is out of paper."},
        {1200, {"marker-supply-empty"}, "The printer's ribbon has ended."},
        {1300, {"media-jam"}, "Paper is jammed in the printer."},
        {1400, {other}, "The printer reports a ribbon error."},
        {1500, {other}, "The printer reports a paper error."},
        {1600, {other}, "The printer reports a system error 1600."},
        {2000, {other}, "The printer reports a system error 2000."},
        {2610, {other}, "The printer reports a system error 2610."},
        {3000, {other}, "The printer reports a system error 3000."},
        {99999, {"offline-report"}, "The printer does not answer."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(_StateReasons(row.status), row.reasons) << row.status;
        if (!row.reasons.empty()) {
            EXPECT_EQ(_StatusMessage(row.status), row.message);
        }
        // A printer that does not answer is not waited for; one with an error is.
        EXPECT_EQ(_NeedsAttention(row.status), !row.reasons.empty() && row.status != 99999);
    }
    EXPECT_EQ(_StatusMessage(1999), "Printer is busy.");

    // The reporter writes changes only.
    std::FILE* file = std::tmpfile();
    {
        StatusReporter report(file);
        for (int status : {1000, 1000, 1300, 0}) {
            report.ReportStatus(status);
        }
    }
    std::rewind(file);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    EXPECT_EQ(text,
              "STATE: +cover-open\nINFO: The printer's cover is open.\nSTATE: -cover-open\n"
              "STATE: +media-jam\nINFO: Paper is jammed in the printer.\nSTATE: -media-jam\n"
              "INFO: Printer is ready.\n");
}

TEST(StatusReport, CountsAndTheMarkerLevel) {
    const std::string digits = "1234567";
    EXPECT_EQ(_LeadingInt(std::string_view(digits).substr(0, 3)), 123);  // ends with the view
    const std::pair<const char*, int> numbers[] = {
        {"  42x", 42}, {"+7", 7}, {"-12", -12}, {"", 0}, {"x1", 0}, {"-", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"2147483648", INT_MAX},
    };
    for (const auto& [text, value] : numbers) {
        EXPECT_EQ(_LeadingInt(text), value) << text;
    }
    const struct {
        int status;
        const char *media, *initial, *remain;
        int level;
    } rows[] = {
        {0, "200", "0350", "0200", 50},  // 350 and 200 less 50: 150 of 300
        {0, "310", "0051", "0051", 100},
        {0, "210", "0053", "0052", 66},  // truncated toward zero
        {0, "301", "+350", "0200", 50},
        {0, "200", "0350", "0040", 0},   // below the reserve: empty, never negative
        {1200, "200", "0350", "0200", 0},  // ribbon ended
        {0, "999", "0350", "0200", 0},     // media the printer does not name
        {0, "200", "", "0200", -1},        // unknown
        {0, "200", "0350", "", -1},
        {0, "200", "0050", "0020", -1},
        {99999, "200", "0350", "0200", -1},
        // Counts of any size stay within the scale.
        {0, "200", "0051", "99999999999", 100},
        {0, "200", "0052", "2147483647", 100},
        {0, "200", "0350", "-99999999999", 0},
        {0, "200", "99999999999", "-2147483648", 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(_MarkerLevel(r.status, r.media, r.initial, r.remain), r.level)
            << r.status << " " << r.media << " " << r.initial << " " << r.remain;
    }
}

// The print-status file, which the backend writes as root in the
// world-writable cache folder.
TEST(PrintStatusFileTest, PlantedLinksAreReplacedNeverFollowed) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const std::string cache = root / qzm::test::kInfoFolder, file = cache + "/Print_42.log";
    const std::string victim = root / "/etc/shadow";
    fs::create_directories(root / "/etc");
    std::ofstream(victim) << "precious";
    std::ofstream(root / "/etc/Print_42.log") << "precious";
    EXPECT_EQ(_PrintStatusText("0"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n\n");
    EXPECT_EQ(_PrintStatusText("01a\nb"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"ab\"\n\n");
    for (const char* id : {"../../etc/shadow", "1/2", "", "12345678901", "4 2", "-1"}) {
        EXPECT_FALSE(PrintStatusFile(id).Write("01200")) << id;
    }
    EXPECT_TRUE(fs::is_empty(cache));
    EXPECT_TRUE(_IsJobId("1234567890"));

    for (const bool symbolic : {true, false}) {
        if (symbolic) {
            fs::create_symlink(victim, file);
        } else {
            fs::create_hard_link(victim, file);
        }
        {
            PrintStatusFile status("42");
            ASSERT_TRUE(status.Write("01200"));
            struct stat info {};
            ASSERT_EQ(::lstat(file.c_str(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ(info.st_nlink, 1u);
            EXPECT_EQ(Read(file), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
        EXPECT_EQ(Read(victim), "precious");
    }
    // The folder swapped for a link while the job runs: nothing is removed
    // or written through it.
    PrintStatusFile status("42");
    ASSERT_TRUE(status.Write("01200"));
    fs::remove_all(cache);
    fs::create_directory_symlink(root / "/etc", cache);
    status.Remove();
    EXPECT_EQ(Read(root / "/etc/Print_42.log"), "precious");
    EXPECT_FALSE(PrintStatusFile("43").Write("01200"));
    EXPECT_FALSE(fs::exists(root / "/etc/Print_43.log"));
}

// A pipe that the test writes the job's stream into, piece by piece.
class StreamPipe {
  public:
    StreamPipe() { EXPECT_EQ(::pipe(fds_), 0); }
    ~StreamPipe() {
        Close();
        ::close(fds_[0]);
    }
    int ReadEnd() const { return fds_[0]; }
    void Write(const std::vector<uint8_t>& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t wrote = ::write(fds_[1], bytes.data() + done, bytes.size() - done);
            ASSERT_GT(wrote, 0);
            done += static_cast<size_t>(wrote);
        }
    }
    void Close() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
        }
        fds_[1] = -1;
    }

  private:
    int fds_[2] = {-1, -1};
};

class BackendJobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrinterState state;
        state.serial = "QZ 0001";  // escaped: QZ%200001
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
        status_ = std::tmpfile();
        context_.status = status_;
        context_.cancelled = [this] { return cancelled_.load(); };
        context_.waits.firstPause = 10ms;
        context_.waits.longestPause = 40ms;
        context_.waits.missingLimit = 300ms;
    }
    void TearDown() override {
        if (job_.joinable()) {
            pipe_.Close();
            cancelled_ = true;
            job_.join();
        }
        std::fclose(status_);
    }

    std::string StatusFile() const { return root_ / (qzm::test::kInfoFolder + "/Print_42.log"); }
    std::string Said() const {
        std::fflush(status_);
        return Read("/proc/self/fd/" + std::to_string(::fileno(status_)));
    }
    bool Says(const std::string& line) {
        return WaitFor([&] { return Said().find(line + "\n") != std::string::npos; });
    }
    void Start() {
        context_.input = pipe_.ReadEnd();
        job_ = std::thread([this] { result_ = qzm::backend::RunJob(context_); });
    }
    int End() {
        pipe_.Close();
        job_.join();
        return result_;
    }
    void SetStatus(int status, bool busy = false) {
        auto state = printer_->State();
        state.status = status;
        state.interfaceOpenFails = busy;
        printer_->SetState(state);
    }

    qzm::test::TempRoot root_;
    std::shared_ptr<EmulatedPrinter> printer_;
    bool attached_ = true;
    std::atomic<bool> cancelled_{false};
    std::FILE* status_ = nullptr;
    qzm::backend::JobContext context_;
    StreamPipe pipe_;
    std::thread job_;
    int result_ = -1;
};

TEST_F(BackendJobTest, SendsTheStreamUnchangedAndLeavesNoFileBehind) {
    std::vector<uint8_t> stream = Sheet(70000, 1);
    const auto second = Sheet(300, 7);
    stream.insert(stream.end(), second.begin(), second.end());
    // A cut last packet is held back.
    const auto extra = qzm::test::PacketBytes("IMAGE", "YPLANE", qzm::test::Payload(100, 9));
    Start();
    ASSERT_TRUE(WaitFor([&] { return fs::exists(StatusFile()); }));
    // The media answer "01200" from its 3rd character on; the filter reads it.
    EXPECT_EQ(Read(StatusFile()), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
    EXPECT_EQ(qzm::test::ModeOf(StatusFile()), 0644u);
    pipe_.Write(stream);
    pipe_.Write(std::vector<uint8_t>(extra.begin(), extra.end() - 10));
    EXPECT_EQ(End(), CUPS_BACKEND_OK);
    EXPECT_TRUE(qzm::test::SameBytes(qzm::test::ReceivedJobBytes(*printer_), stream));
    // A plane packet of 70032 bytes goes out as 65536, 4240 and 256 bytes.
    std::vector<uint32_t> outs;
    for (const auto& t : printer_->Transfers()) {
        if (t.kind == qzm::emu::Transfer::Kind::kBulkOut && t.length > 32) {
            outs.push_back(t.length);
        }
    }
    const std::vector<uint32_t> pieces{65536, 4240, 256};
    EXPECT_NE(std::search(outs.begin(), outs.end(), pieces.begin(), pieces.end()), outs.end());
    EXPECT_FALSE(printer_->InterfaceOpen());
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_TRUE(qzm::test::OnlyStatusLines(Said()));
    EXPECT_NE(Said().find("ATTR: marker-colors=none marker-names=Media marker-types=ink-ribbon "
                          "marker-levels=50\n"),
              std::string::npos);
}

TEST_F(BackendJobTest, AnErrorAtTheStartHoldsTheJobUntilFixed) {
    SetStatus(1100);
    Start();
    ASSERT_TRUE(Says("STATE: +media-empty"));
    pipe_.Write(Sheet(100, 1));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(printer_->Sheets().empty()) << "sent while the paper is out";
    SetStatus(0);
    EXPECT_EQ(End(), CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 1u);
    EXPECT_NE(Said().find("STATE: -media-empty\n"), std::string::npos);
}

TEST_F(BackendJobTest, AnErrorBetweenSheetsHoldsTheNextSheet) {
    Start();
    ASSERT_TRUE(WaitFor([&] { return fs::exists(StatusFile()); }));
    SetStatus(1200);  // the ribbon ends while the first sheet prints
    pipe_.Write(Sheet(100, 1));
    pipe_.Write(Sheet(100, 2));
    ASSERT_TRUE(Says("STATE: +marker-supply-empty"));
    EXPECT_TRUE(Says("ATTR: marker-colors=none marker-names=Media marker-types=ink-ribbon "
                     "marker-levels=0"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(printer_->Sheets().size(), 1u);
    SetStatus(0);
    EXPECT_EQ(End(), CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 2u);
}

TEST_F(BackendJobTest, ABusyPrinterAndTheDaemonsLockAreWaitedFor) {
    PrinterLock daemon("QZ%200001");
    ASSERT_EQ(daemon.TryLock(), PrinterLock::kLockTaken);
    Start();
    pipe_.Write(Sheet(100, 1));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(printer_->Packets().empty()) << "opened while the daemon's pass runs";
    SetStatus(0, true);  // another client holds the interface
    daemon.Unlock();
    ASSERT_TRUE(Says("INFO: Waiting for the printer, which is in use."));
    // Longer than the wait for a missing printer: busy is not missing.
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(fs::exists(StatusFile()));
    SetStatus(0, false);
    ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
    // The daemon's next pass is skipped while the job holds the printer.
    EXPECT_EQ(daemon.TryLock(), PrinterLock::kLockBusy);
    EXPECT_EQ(End(), CUPS_BACKEND_OK);
    EXPECT_EQ(daemon.TryLock(), PrinterLock::kLockTaken);
}

TEST_F(BackendJobTest, MissingUnpluggedOrCancelled) {
    attached_ = false;
    Start();
    EXPECT_EQ(End(), CUPS_BACKEND_RETRY);
    EXPECT_NE(Said().find("STATE: +offline-report\n"), std::string::npos);
    attached_ = true;
    for (const bool unplug : {true, false}) {
        StreamPipe pipe;
        context_.input = pipe.ReadEnd();
        job_ = std::thread([this] { result_ = qzm::backend::RunJob(context_); });
        pipe.Write(Sheet(100, 1));
        ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
        if (unplug) {
            printer_->Remove();
            pipe.Write(Sheet(100, 2));
            pipe.Close();
        } else {
            cancelled_ = true;  // the stream stays open: no wait for its end
        }
        job_.join();
        EXPECT_EQ(result_, unplug ? CUPS_BACKEND_STOP : CUPS_BACKEND_OK);
        EXPECT_FALSE(fs::exists(StatusFile()));
        EXPECT_EQ(printer_->Sheets().size(), 1u);
        printer_ = EmulatedPrinter::Create(printer_->State());
    }
}

TEST_F(BackendJobTest, FileArgumentsCopiesAndRefusedArguments) {
    const std::string file = root_ / "/job.bin";
    const auto sheet = Sheet(100, 3);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(sheet.data()), static_cast<std::streamsize>(sheet.size()));
    context_.arguments.file = file;
    context_.arguments.copies = 2;
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 2u);
    printer_->ClearTransfers();

    context_.arguments.jobId = "../../etc/x";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_FAILED);
    context_.arguments.jobId = "42";
    context_.deviceUri = "usb://Orvane/QZ-M480?serial=QZ%200001";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_STOP);
    EXPECT_TRUE(printer_->Transfers().empty());
}

TEST(BackendDiscovery, ListsEveryUsablePrinterAsADirectDevice) {
    qzm::test::TempRoot root;
    std::vector<std::shared_ptr<EmulatedPrinter>> printers;
    for (const char* serial : {"AB 12", "ZZ9", "../x", "BUSY"}) {
        PrinterState state;
        state.serial = serial;
        state.deviceIdFails = serial[0] == 'Z';
        state.interfaceOpenFails = serial[0] == 'B';
        printers.push_back(EmulatedPrinter::Create(state));
    }
    qzm::test::StdoutCapture capture;
    EXPECT_EQ(qzm::backend::RunDiscovery([&printers] {
                  auto bus = std::make_unique<EmulatedBus>();
                  for (const auto& p : printers) {
                      bus->Attach(p);
                  }
                  return bus;
              }),
              CUPS_BACKEND_OK);
    const auto bytes = capture.Stop();
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
