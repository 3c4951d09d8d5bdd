// The backend: status codes as CUPS state reasons and messages, the remaining
// prints as a marker level, the print-status file against planted links,
// jobs and discovery against the emulated printer, and a photo printed with
// lp through a private CUPS scheduler, the filter and the backend program.
#include <gtest/gtest.h>

#include <cups/backend.h>
#include <cups/cups.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Staging.h"
#include "../StatusControllers/Common/DaemonTestSupport.h"
#include "../Support/ByteCompare.h"
#include "../Support/Eventually.h"
#include "../Support/PrivateCupsd.h"
#include "../Support/StdoutCapture.h"
#include "../Support/TempRoot.h"
#include "Backend.h"
#include "CacheFolder.h"
#include "DeviceCmd.h"
#include "DeviceUri.h"
#include "EmulatedUsb.h"
#include "EmulatorSocket.h"
#include "PrintQueue.h"
#include "PrintStatusFile.h"
#include "PrinterLock.h"
#include "StatusReport.h"
#include "StreamParser.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;
using qzm::test::Eventually;
using qzm::test::Read;

namespace {

const std::string kMarker =
    "ATTR: marker-colors=none marker-names=Media marker-types=ink-ribbon marker-levels=";

std::vector<uint8_t> PacketBytes(const std::string& command, const std::string& sub,
                                 const std::vector<uint8_t>& payload) {
    DeviceCmd cmd(command.c_str(), sub.empty() ? nullptr : sub.c_str(),
                  static_cast<int32_t>(payload.size()), payload.empty() ? nullptr : payload.data());
    return std::vector<uint8_t>(cmd.m_data, cmd.m_data + cmd.m_length);
}

// A sheet as the filter sends it: media, three planes of the given size of
// pseudo-random bytes, start.
std::vector<uint8_t> Sheet(size_t planeSize, uint32_t seed) {
    std::vector<std::vector<uint8_t>> packets = {
        PacketBytes("CNTRL", "CUTTER", {'0', '0', '0', '0', '0', '0', '0', '0'}),
        PacketBytes("IMAGE", "MULTICUT", {'0', '0', '0', '0', '0', '0', '0', '1'})};
    for (const char* plane : {"YPLANE", "MPLANE", "CPLANE"}) {
        std::vector<uint8_t> bytes(planeSize);
        for (auto& b : bytes) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<uint8_t>(seed >> 16);
        }
        packets.push_back(PacketBytes("IMAGE", plane, bytes));
    }
    packets.push_back(PacketBytes("CNTRL", "START", {}));
    std::vector<uint8_t> out;
    for (const auto& bytes : packets) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// Every job packet the printer received, back in wire form, queries left out.
std::vector<uint8_t> ReceivedJobBytes(const EmulatedPrinter& printer) {
    std::vector<uint8_t> out;
    for (const auto& sheet : printer.Sheets()) {
        for (const auto& p : sheet) {
            const auto bytes = PacketBytes(p.command, p.subCommand, p.payload);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    return out;
}

TEST(StatusReport, ReasonsAndMessagesFollowThePrintersStatusCodes) {
    const std::string other = "other-error";
    const struct {
        int status;
        std::set<std::string> reasons;
        std::string message;
    } rows[] = {
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
        EXPECT_EQ(_StatusMessage(row.status), row.message);
        // A printer that does not answer is not waited for; one with an error is.
        EXPECT_EQ(_NeedsAttention(row.status), row.status != 99999) << row.status;
    }
    for (int status : {0, 1, 500, 900, 1999, 3001}) {
        EXPECT_TRUE(_StateReasons(status).empty() && !_NeedsAttention(status)) << status;
    }
    EXPECT_EQ(_StatusMessage(1999), "Printer is busy.");

    // The reporter writes changes only.
    char* text = nullptr;
    size_t length = 0;
    std::FILE* file = ::open_memstream(&text, &length);
    {
        StatusReporter report(file);
        for (int status : {1000, 1000, 1300, 0}) {
            report.ReportStatus(status);
        }
    }
    std::fclose(file);
    EXPECT_EQ(std::string(text, length),
              "STATE: +cover-open\nINFO: The printer's cover is open.\nSTATE: -cover-open\n"
              "STATE: +media-jam\nINFO: Paper is jammed in the printer.\nSTATE: -media-jam\n"
              "INFO: Printer is ready.\n");
    std::free(text);
}

TEST(StatusReport, CountsAndTheMarkerLevel) {
    const std::string digits = "1234567";
    EXPECT_EQ(_LeadingInt(std::string_view(digits).substr(0, 3)), 123);  // ends with the view
    const std::pair<const char*, int> numbers[] = {{"  42x", 42},
                                                   {"+7", 7},
                                                   {"-12", -12},
                                                   {"", 0},
                                                   {"x1", 0},
                                                   {"-", 0},
                                                   {"99999999999", INT_MAX},
                                                   {"-99999999999", INT_MIN},
                                                   {"2147483648", INT_MAX}};
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
        {0, "200", "0350", "0040", 0},     // below the reserve: empty, never negative
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
    EXPECT_EQ(_PrintStatusText("01a\nb c\x7f"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"ab c\"\n\n");
    for (const char* id : {"../../etc/shadow", "1/2", "", "12345678901", "4 2", "-1"}) {
        EXPECT_FALSE(PrintStatusFile(id).Write("01200")) << id;
    }
    EXPECT_TRUE(fs::is_empty(cache));
    EXPECT_TRUE(_IsJobId("1234567890"));

    for (const bool symbolic : {true, false}) {
        symbolic ? fs::create_symlink(victim, file) : fs::create_hard_link(victim, file);
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

// A job on an emulated printer, its stream written into a pipe piece by
// piece, what it says in a temporary file.
class BackendJobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrinterState state;
        state.serial = "QZ 0001";  // escaped: QZ%200001
        state.mediaInitial = "00000350";
        state.mediaRemain = "00000200";
        printer_ = EmulatedPrinter::Create(state);
        context_.bus = [this]() -> std::unique_ptr<qzm::usb::UsbBus> {
            auto bus = std::make_unique<qzm::emu::EmulatedBus>();
            if (attached_) {
                bus->Attach(printer_);
            }
            return bus;
        };
        context_.deviceUri = _MakeDeviceUri("QZ%200001");
        context_.arguments.jobId = "42";
        context_.status = status_;
        context_.cancelled = [this] { return cancelled_.load(); };
        context_.waits = {10ms, 40ms, 300ms};
        ASSERT_EQ(::pipe(pipe_), 0);
        context_.input = pipe_[0];
    }
    void TearDown() override {
        if (job_.joinable()) {
            cancelled_ = true;
            End();
        }
        ::close(pipe_[0]);
        std::fclose(status_);
    }

    std::string StatusFile() const { return root_ / (qzm::test::kInfoFolder + "/Print_42.log"); }
    std::string Said() const {
        std::fflush(status_);
        return Read("/proc/self/fd/" + std::to_string(::fileno(status_)));
    }
    bool Says(const std::string& line) {
        return Eventually([&] { return Said().find(line + "\n") != std::string::npos; });
    }
    void Start() {
        job_ = std::thread([this] { result_ = qzm::backend::RunJob(context_); });
    }
    void Write(const std::vector<uint8_t>& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t wrote = ::write(pipe_[1], bytes.data() + done, bytes.size() - done);
            ASSERT_GT(wrote, 0);
            done += static_cast<size_t>(wrote);
        }
    }
    int End() {
        ::close(std::exchange(pipe_[1], -1));
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
    std::FILE* status_ = std::tmpfile();
    qzm::backend::JobContext context_;
    int pipe_[2] = {-1, -1};
    std::thread job_;
    int result_ = -1;
};

TEST_F(BackendJobTest, SendsTheStreamUnchangedAndLeavesNoFileBehind) {
    std::vector<uint8_t> stream = Sheet(70000, 1);
    const auto second = Sheet(300, 7);
    stream.insert(stream.end(), second.begin(), second.end());
    // A cut last packet is held back.
    const auto extra = PacketBytes("IMAGE", "YPLANE", std::vector<uint8_t>(100, 9));
    Start();
    ASSERT_TRUE(Eventually([&] { return fs::exists(StatusFile()); }));
    // The media answer "01200" from its 3rd character on; the filter reads it.
    EXPECT_EQ(Read(StatusFile()), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
    EXPECT_EQ(qzm::test::ModeOf(StatusFile()), 0644u);
    Write(stream);
    Write(std::vector<uint8_t>(extra.begin(), extra.end() - 10));
    EXPECT_EQ(End(), CUPS_BACKEND_OK);
    const auto received = ReceivedJobBytes(*printer_);
    EXPECT_TRUE(
        qzm::test::BytesEqual(received.data(), received.size(), stream.data(), stream.size()));
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
    // Only lines CUPS reads from a backend.
    std::istringstream lines(Said());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with("STATE: ") || line.starts_with("INFO: ") ||
                    line.starts_with("ATTR: "))
            << line;
    }
    EXPECT_NE(Said().find(kMarker + "50\n"), std::string::npos);
}

// A status that needs somebody holds the job until it is cleared: found at
// the start, and after a sheet (the ribbon ends while the first prints).
TEST_F(BackendJobTest, AnErrorHoldsTheJobUntilFixed) {
    SetStatus(1100);
    Start();
    ASSERT_TRUE(Says("STATE: +media-empty"));
    SetStatus(0);
    ASSERT_TRUE(Says("STATE: -media-empty"));
    SetStatus(1200);
    Write(Sheet(100, 1));
    Write(Sheet(100, 2));
    ASSERT_TRUE(Says("STATE: +marker-supply-empty"));
    EXPECT_TRUE(Says(kMarker + "0"));
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
    Write(Sheet(100, 1));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(printer_->Packets().empty()) << "opened while the daemon's pass runs";
    SetStatus(0, true);  // another client holds the interface
    daemon.Unlock();
    ASSERT_TRUE(Says("INFO: Waiting for the printer, which is in use."));
    // Longer than the wait for a missing printer: busy is not missing.
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(fs::exists(StatusFile()));
    SetStatus(0, false);
    ASSERT_TRUE(Eventually([&] { return printer_->Sheets().size() == 1; }));
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
        ::close(pipe_[0]);
        ASSERT_EQ(::pipe(pipe_), 0);
        context_.input = pipe_[0];
        Start();
        Write(Sheet(100, 1));
        ASSERT_TRUE(Eventually([&] { return printer_->Sheets().size() == 1; }));
        if (unplug) {
            printer_->Remove();
            Write(Sheet(100, 2));
            ::close(std::exchange(pipe_[1], -1));
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

// A job id that is no number and a device URI of another scheme end the job
// before the printer is opened; a print file that cannot be read fails it.
TEST_F(BackendJobTest, RefusedArguments) {
    context_.arguments.jobId = "../../etc/x";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_FAILED);
    context_.arguments.jobId = "42";
    context_.deviceUri = "usb://Orvane/QZ-M480?serial=QZ%200001";
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_STOP);
    EXPECT_TRUE(printer_->Transfers().empty());
    context_.deviceUri = _MakeDeviceUri("QZ%200001");
    context_.arguments.file = root_.Path();  // a folder opens, but cannot be read
    EXPECT_EQ(qzm::backend::RunJob(context_), CUPS_BACKEND_FAILED);
}

// The program's entry as CUPS starts it: the job's arguments, DEVICE_URI and
// the stream on standard input; SIGTERM while the job waits for more data
// ends it at once, its file removed and the printer given back. A job's own
// file comes as a seventh argument, printed as often as the copies say.
TEST_F(BackendJobTest, TheProgramsEntryEndsAJobOnSigterm) {
    const std::string file = root_ / "/job.bin";
    std::string args[] = {"ovbackend", "42", "user", "title", "2", "", file};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                    args[4].data(), args[5].data(), args[6].data(), nullptr};
    EXPECT_EQ(qzm::backend::BackendMain(3, argv, context_.bus), CUPS_BACKEND_FAILED);
    ::setenv("DEVICE_URI", context_.deviceUri.c_str(), 1);
    const auto sheet = Sheet(100000, 5);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(sheet.data()),
               static_cast<std::streamsize>(sheet.size()));
    EXPECT_EQ(qzm::backend::BackendMain(7, argv, context_.bus), CUPS_BACKEND_OK);
    EXPECT_EQ(printer_->Sheets().size(), 2u);
    printer_ = EmulatedPrinter::Create(printer_->State());

    ASSERT_EQ(::dup2(pipe_[0], STDIN_FILENO), STDIN_FILENO);
    qzm::test::StdoutCapture capture;
    job_ = std::thread([&] { result_ = qzm::backend::BackendMain(6, argv, context_.bus); });
    Write(sheet);
    ASSERT_TRUE(Eventually([&] { return ReceivedJobBytes(*printer_).size() >= sheet.size(); }));
    ::pthread_kill(job_.native_handle(), SIGTERM);
    job_.join();
    EXPECT_EQ(result_, CUPS_BACKEND_OK);
    const auto received = ReceivedJobBytes(*printer_);
    EXPECT_TRUE(
        qzm::test::BytesEqual(received.data(), received.size(), sheet.data(), sheet.size()));
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_FALSE(printer_->InterfaceOpen());
    EXPECT_TRUE(capture.Stop().empty());
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
    std::string name = "ovbackend";
    char* argv[] = {name.data(), nullptr};
    EXPECT_EQ(qzm::backend::BackendMain(1, argv,
                                        [&printers] {
                                            auto bus = std::make_unique<qzm::emu::EmulatedBus>();
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

// Printing end to end: a JPEG printed with lp on a private CUPS scheduler, on
// the queue the daemon's queue step makes, through CUPS's rasterizer,
// rastertoqzm480 and the test build of ovbackend, to the emulated printer.
// The package is installed under QZM480_ROOT; the scheduler passes the root
// and the emulator's socket to the filter and the backend with SetEnv.
TEST(EndToEnd, AJpegPrintedWithLpReachesThePrinter) {
    if (qzm::test::RunShell("command -v convert && command -v lp") != 0) {
        GTEST_SKIP() << "convert (imagemagick) or lp (cups-client) is not installed";
    }
    constexpr char kQueue[] = "Orvane_Imaging_Inc__M480";
    constexpr char kPpd[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
    qzm::test::TempRoot root;
    // The filter runs as the scheduler's user: it must reach the staged files.
    fs::permissions(root.Path(),
                    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::add);
    std::string output;
    ASSERT_EQ(qzm::test::InstallBuild("QZM480_ROOT=" + qzm::test::ShellQuote(root.Path()), &output),
              0)
        << output;
    // CUPS knows nothing of QZM480_ROOT: a private copy of the installed PPD
    // names the installed filter under the root.
    const std::string ppd = root.Path() + "/QZ-M480.gz",
                      filter = "/Library/Printers/Orvane/Filters/";
    ASSERT_EQ(qzm::test::RunShell("gzip -dc '" + root / ("/" + std::string(kPpd)) + "' | sed 's|" +
                                  filter + "|" + root / filter + "|' | gzip -9 -n > '" + ppd + "'"),
              0);

    PrinterState state;
    state.serial = "QZ 0480";
    auto printer = EmulatedPrinter::Create(state);
    qzm::emu::EmulatorServer server(root.Path() + "/emu.sock", {printer});
    ASSERT_TRUE(server.Start());
    qzm::test::PrivateCupsd cupsd;
    cupsd.SetEnv("QZM480_ROOT", root.Path());
    cupsd.SetEnv("QZM480_EMULATOR_SOCKET", root.Path() + "/emu.sock");
    cupsd.SetLogLevel("debug");
    ASSERT_TRUE(cupsd.AddModel(kPpd, ppd));
    ASSERT_TRUE(cupsd.InstallBackend("ovbackend", QZM480_TEST_BACKEND));
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    }
    ASSERT_TRUE(CheckAndMake_PrintQueue("QZ%200480"));  // as the daemon makes it

    // Red and green over blue and white, the shape of 152 x 102 mm paper.
    const std::string jpeg = root.Path() + "/photo.jpg";
    ASSERT_EQ(qzm::test::RunShell("convert -size 900x600 xc:red xc:lime +append \\( -size 900x600 "
                                  "xc:blue xc:white +append \\) -append -quality 95 '" +
                                      jpeg + "' && lp -d " + kQueue +
                                      " -o PageSize=153x102mm -o fit-to-page '" + jpeg + "'",
                                  &output),
              0)
        << output;
    // Had the backend not written the print-status file, the filter alone
    // would wait 120 s for it; the job ends well before.
    ipp_jstate_t end = IPP_JSTATE_PENDING;
    for (auto limit = std::chrono::steady_clock::now() + 100s;
         end < IPP_JSTATE_STOPPED && std::chrono::steady_clock::now() < limit;) {
        std::this_thread::sleep_for(20ms);
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ALL);
        end = count > 0 ? jobs[0].state : IPP_JSTATE_PENDING;
        cupsFreeJobs(count, jobs);
    }
    ASSERT_EQ(end, IPP_JSTATE_COMPLETED) << cupsd.ErrorLog();

    // Every job packet arrived whole and makes one sheet: the picture, in
    // some quarter turn (the printer may feed it sideways). The colour in the
    // middle of each quarter (cyan plane as 4, magenta 2, yellow 1), clockwise
    // from the top left corner.
    const auto parsed = qzm::stream::ParseStream(ReceivedJobBytes(*printer));
    EXPECT_FALSE(parsed.error);
    ASSERT_EQ(parsed.sheets.size(), 1u);
    const auto& sheet = parsed.sheets[0];
    const qzm::stream::Plane* planes[3] = {&sheet.cyan, &sheet.magenta, &sheet.yellow};
    const int w = sheet.cyan.width, h = sheet.cyan.height;
    std::string seen;
    for (const auto& [cx, cy] : {std::pair{w / 4, h / 4},
                                 {3 * w / 4, h / 4},
                                 {3 * w / 4, 3 * h / 4},
                                 {w / 4, 3 * h / 4}}) {
        int colour = 0;
        for (int p = 0; p < 3; ++p) {
            long sum = 0;
            for (int y = cy - h / 16; y < cy + h / 16; ++y) {
                for (int x = cx - w / 16; x < cx + w / 16; ++x) {
                    sum += planes[p]->PictureRow(y)[x];
                }
            }
            colour |= sum / ((h / 8) * (w / 8)) > 128 ? 4 >> p : 0;
        }
        seen += std::to_string(colour);
    }
    EXPECT_NE((std::string("4271") + "4271").find(seen), std::string::npos) << seen;
    EXPECT_FALSE(fs::exists(root / (qzm::test::kInfoFolder + "/Print_1.log")));
}

}  // namespace
