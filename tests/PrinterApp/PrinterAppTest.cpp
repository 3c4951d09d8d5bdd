// The printer application against real clients: a server on a loopback port
// with an emulated printer attached, driven by CUPS's ipptool and compared
// with the CUPS filter's own stream.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../Support/PrivateCupsd.h"
#include "../Support/TempRoot.h"
#include "AppMedia.h"
#include "EmulatorSocket.h"
#include "JobSettings.h"
#include "Paths.h"
#include "StreamParser.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSerial[] = "QZ0001";
constexpr char kSixByFour[] = "om_153x102mm_156.13x104.99mm";

struct Output {
    int status = -1;
    std::string text;
};

// Runs a command through the shell; its standard output and error.
Output Shell(const std::string& command) {
    Output out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t got;
    while (pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.text.append(buffer, got);
    }
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A PWG raster of one 8-bit sRGB page with a colour ramp; NumCopies 1. Only
// the first rows lines are written when given.
void WritePwgRaster(const std::string& path, unsigned width, unsigned height,
                    unsigned rows = ~0u) {
    cups_page_header2_t header;
    cupsRasterInitPWGHeader(&header, pwgMediaForPWG(kSixByFour), "srgb_8", 300, 300, "one-sided",
                            nullptr);
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBytesPerLine = width * 3;
    header.NumCopies = 1;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cupsRasterWriteHeader2(raster, &header);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < height && y < rows; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            line[x * 3] = static_cast<unsigned char>(x * 255 / width);
            line[x * 3 + 1] = static_cast<unsigned char>(y * 255 / height);
            line[x * 3 + 2] = static_cast<unsigned char>((x + y) & 0xFF);
        }
        cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
    }
    cupsRasterClose(raster);
    ::close(fd);
}

// The packets of print jobs the printer received (status queries left out).
std::vector<qzm::emu::Packet> JobPackets(const qzm::emu::EmulatedPrinter& printer) {
    std::vector<qzm::emu::Packet> packets;
    for (const auto& packet : printer.Packets()) {
        if (packet.command == "IMAGE" || packet.command == "CNTRL") {
            packets.push_back(packet);
        }
    }
    return packets;
}

// True when every byte sent to the printer belongs to a whole packet.
bool OnlyWholePackets(const qzm::emu::EmulatedPrinter& printer) {
    uint64_t sent = 0;
    for (const auto& transfer : printer.Transfers()) {
        if (transfer.kind == qzm::emu::Transfer::Kind::kBulkOut) {
            sent += transfer.transferred;
        }
    }
    uint64_t packed = 0;
    for (const auto& packet : printer.Packets()) {
        packed += 32 + packet.payload.size();
    }
    return sent == packed;
}

// One server with one emulated QZ-M480, for every test of this program.
class PrinterApp : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = new qzm::test::TempRoot();
        const fs::path profiles = root_->Path() + qzm::paths::kProfileFolder;
        fs::create_directories(profiles);
        for (const char* name : {qzm::paths::kProfileM480, qzm::paths::kProfileOV480}) {
            const fs::path file = fs::path(name).filename();
            fs::copy_file(fs::path(QZM480_PROFILE_DIR) / file, profiles / file);
        }
        qzm::emu::PrinterState state;
        state.serial = kSerial;
        shared_ = qzm::emu::EmulatedPrinter::Create(state);
        printer_ = shared_.get();
        emulator_ = new qzm::emu::EmulatorServer(Dir() + "/emu.sock", {shared_});
        ASSERT_TRUE(emulator_->Start());
        port_ = FreePort();
        StartServer();
        const Output added = Ipp("ipp/system", Dir() + "/create.test");
        ASSERT_EQ(added.status, 0) << added.text;
    }

    static void TearDownTestSuite() {
        StopServer();
        emulator_->Stop();
        delete emulator_;
        shared_.reset();
        delete root_;
    }

    void SetUp() override {
        printer_->SetState(Default());
        printer_->Plug();
        printer_->ClearFaults();
    }

    static qzm::emu::PrinterState Default() {
        qzm::emu::PrinterState state;
        state.serial = kSerial;
        return state;
    }

    static std::string Dir() { return root_->Path(); }
    static std::string Uri(const std::string& path) {
        return "ipp://localhost:" + std::to_string(port_) + "/" + path;
    }

    static void StartServer() {
        WriteFile(Dir() + "/create.test", R"({
  NAME "Create the printer"
  OPERATION Create-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR keyword printer-service-type print
  ATTR keyword smi55357-driver qzm480
  ATTR uri smi55357-device-uri "qzm480://usb/QZ-M480?serial=QZ0001"
  GROUP printer-attributes-tag
  ATTR name printer-name qzm
  STATUS successful-ok
})");
        const std::string program = QZM480_PRINTER_APP;
        const std::vector<std::string> args = {
            program, "server", "-o", "server-port=" + std::to_string(port_), "-o",
            "state-file=" + Dir() + "/state", "-o", "spool-directory=" + Dir() + "/spool", "-o",
            "log-file=" + Dir() + "/app.log", "-o", "log-level=debug"};
        server_ = ::fork();
        if (server_ == 0) {
            ::setenv("QZM480_EMULATOR_SOCKET", (Dir() + "/emu.sock").c_str(), 1);
            ::setenv("TMPDIR", Dir().c_str(), 1);
            std::vector<char*> argv;
            for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ASSERT_TRUE(WaitFor([] { return Ipp("", "get-printers.test").status == 0; },
                            std::chrono::seconds(30)));
    }

    static void StopServer() {
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            int status = 0;
            ::waitpid(server_, &status, 0);
            server_ = -1;
        }
    }

    static bool ServerRunning() {
        return server_ > 0 && ::waitpid(server_, nullptr, WNOHANG) == 0;
    }

    // ipptool with a test file against a path of the server.
    static Output Ipp(const std::string& path, const std::string& test,
                      const std::string& extra = "") {
        return Shell("ipptool -T 30 -tv " + extra + " " + Uri(path) + " " + test);
    }

    // Prints a file and waits for the job to end; the ipptool output holds
    // the refusal, or the job's final state.
    static Output Print(const std::string& file, const std::string& format,
                        const std::string& jobAttributes = "") {
        const std::string test = Dir() + "/print.test";
        WriteFile(test, R"({
  NAME "Print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
  ATTR mimeMediaType document-format )" + format + R"(
  GROUP job-attributes-tag
  )" + jobAttributes + R"(
  FILE )" + file + R"(
  STATUS successful-ok
  STATUS successful-ok-ignored-or-substituted-attributes
  EXPECT job-id OF-TYPE integer
})");
        Output out = Ipp("ipp/print/qzm", test);
        const size_t at = out.text.find("job-id (integer) = ");
        if (at == std::string::npos) {
            return out;
        }
        const std::string id = std::to_string(std::atoi(out.text.c_str() + at + 19));
        WriteFile(Dir() + "/job.test", R"({
  NAME "Job state"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id )" + id + R"(
  ATTR keyword requested-attributes job-state,job-state-reasons,job-state-message
  STATUS successful-ok
})");
        std::string state;
        WaitFor(
            [&] {
                state = Ipp("ipp/print/qzm", Dir() + "/job.test").text;
                return state.find("job-state (enum) = completed") != std::string::npos ||
                       state.find("job-state (enum) = aborted") != std::string::npos ||
                       state.find("job-state (enum) = canceled") != std::string::npos;
            },
            std::chrono::seconds(300));
        out.text += state;
        return out;
    }

    static std::string PrinterAttributes() {
        return Ipp("ipp/print/qzm", "get-printer-attributes.test").text;
    }

    static std::string HttpGet(const std::string& path) {
        return Shell("curl -s http://localhost:" + std::to_string(port_) + path).text;
    }

    static inline qzm::test::TempRoot* root_ = nullptr;
    static inline std::shared_ptr<qzm::emu::EmulatedPrinter> shared_;
    static inline qzm::emu::EmulatedPrinter* printer_ = nullptr;
    static inline qzm::emu::EmulatorServer* emulator_ = nullptr;
    static inline pid_t server_ = -1;
    static inline int port_ = 0;
};

// The filter's stream for a raster file with the options the application
// uses for this media at 300 dpi and the PPD's defaults.
std::vector<uint8_t> FilterStream(const std::string& raster, const std::string& media) {
    qzm::app::JobOptions options;
    std::string error;
    EXPECT_TRUE(qzm::app::_MakeJobOptions(media.c_str(), 300, 300, 0, nullptr, &options, &error));
    std::string text;
    for (int i = 0; i < options.Count(); ++i) {
        text += std::string(options.Options()[i].name) + "=" + options.Options()[i].value + " ";
    }
    // The filter waits for the print-status file the backend writes, which
    // names the loaded media.
    const std::string folder = std::string(std::getenv("QZM480_ROOT")) + qzm::paths::kCacheFolder;
    fs::create_directories(folder);
    WriteFile(folder + "/Print_77.log", "MEDIA_SIZE=200\n");
    const std::string out = raster + ".stream";
    const Output run = Shell(std::string("env -u PPD ") + RASTERTOQZM480 + " 77 u t 1 '" + text +
                           "' " + raster + " > " + out);
    EXPECT_EQ(run.status, 0) << run.text;
    std::ifstream in(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(PrinterApp, PrintsJpegPngAndPwgRasterThroughTheFilterPath) {
    const std::string jpeg = Dir() + "/photo.jpg";
    const std::string png = Dir() + "/photo.png";
    const std::string pwg = Dir() + "/photo.pwg";
    ASSERT_EQ(Shell("convert -size 900x600 gradient:red-blue -quality 90 " + jpeg).status, 0);
    ASSERT_EQ(Shell("convert -size 600x900 gradient:green-yellow " + png).status, 0);
    WritePwgRaster(pwg, 1844, 1240);
    struct Case {
        const char* file;
        const char* format;
    } cases[] = {{"photo.jpg", "image/jpeg"}, {"photo.png", "image/png"},
                 {"photo.pwg", "image/pwg-raster"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const size_t before = JobPackets(*printer_).size();
        const auto start = Clock::now();
        const Output out = Print(Dir() + "/" + c.file, c.format,
                                 std::string("ATTR keyword media ") + kSixByFour);
        const auto took = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%s printed in %.2f s\n", c.format, took);
        ASSERT_NE(out.text.find("job-state (enum) = completed"), std::string::npos) << out.text;
        const auto packets = JobPackets(*printer_);
        ASSERT_EQ(packets.size() - before, 10u);  // set-up, 4 settings, media, 3 planes, start
        EXPECT_EQ(packets.back().command + packets.back().subCommand, "CNTRLSTART");
        EXPECT_TRUE(OnlyWholePackets(*printer_));
        if (std::string(c.format) != "image/pwg-raster") {
            continue;
        }
        // The same raster through the CUPS filter gives the same packets.
        const auto expected = qzm::stream::ParseStream(FilterStream(pwg, kSixByFour));
        ASSERT_FALSE(expected.error.has_value());
        ASSERT_EQ(expected.packets.size(), 10u);
        for (size_t i = 0; i < 10; ++i) {
            const auto& got = packets[before + i];
            EXPECT_EQ(got.command, expected.packets[i].command) << i;
            EXPECT_EQ(got.subCommand, expected.packets[i].subCommand) << i;
            EXPECT_TRUE(got.payload == expected.packets[i].payload) << "payload of packet " << i;
        }
    }
}

// CUPS as a client: a private scheduler makes a driverless queue of the
// application (lpadmin -m everywhere) and lp prints a photo through it.
TEST_F(PrinterApp, CupsPrintsThroughAnEverywhereQueue) {
    qzm::test::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.InstallBackend("ipp", "/usr/lib/cups/backend/ipp"));
    if (!cupsd.Start()) {
        GTEST_SKIP() << cupsd.Error();
    }
    const Output added =
        Shell("lpadmin -p app -E -v " + Uri("ipp/print/qzm") + " -m everywhere");
    ASSERT_EQ(added.status, 0) << added.text << cupsd.ErrorLog();
    const std::string jpeg = Dir() + "/lp.jpg";
    ASSERT_EQ(Shell("convert -size 900x600 gradient:orange-purple " + jpeg).status, 0);
    const size_t before = JobPackets(*printer_).size();
    const Output queued = Shell("lp -d app -o media=" + std::string(kSixByFour) + " " + jpeg);
    ASSERT_EQ(queued.status, 0) << queued.text;
    EXPECT_TRUE(WaitFor(
        [&] {
            const auto packets = JobPackets(*printer_);
            return packets.size() >= before + 10 &&
                   packets.back().command + packets.back().subCommand == "CNTRLSTART";
        },
        std::chrono::seconds(120)))
        << cupsd.ErrorLog();
    EXPECT_TRUE(OnlyWholePackets(*printer_));
}

TEST_F(PrinterApp, TwoPerSheetSizesShareASheetAndVendorValuesReachThePrinter) {
    const std::string pwg = Dir() + "/two.pwg";
    WritePwgRaster(pwg, 1548, 1088);
    const size_t before = JobPackets(*printer_).size();
    std::string twoPages;
    {
        std::ifstream in(pwg, std::ios::binary);
        twoPages.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // A second page: the same header and lines after the first.
    WriteFile(pwg, twoPages + twoPages.substr(4));
    const Output out = Print(pwg, "image/pwg-raster",
                             "ATTR keyword media om_127x89mmx2_131.06x92.12mm\n"
                             "  ATTR keyword overcoat-finish matte\n"
                             "  ATTR integer sharpness 3");
    ASSERT_NE(out.text.find("job-state (enum) = completed"), std::string::npos) << out.text;
    const auto packets = JobPackets(*printer_);
    ASSERT_EQ(packets.size() - before, 10u);  // one sheet of two panels
    std::map<std::string, std::string> payloads;
    for (size_t i = before; i < packets.size(); ++i) {
        payloads[packets[i].command + "/" + packets[i].subCommand] =
            std::string(packets[i].payload.begin(), packets[i].payload.end());
    }
    EXPECT_EQ(payloads["IMAGE/MULTICUT"], "00000022");
    EXPECT_EQ(payloads["CNTRL/OVERCOAT"], "00000001");
}

TEST_F(PrinterApp, BadInputIsRefusedOrAbortedWithNothingHalfSent) {
    const std::string jpeg = Dir() + "/good.jpg";
    ASSERT_EQ(Shell("convert -size 300x200 gradient:red-blue " + jpeg).status, 0);
    const std::string png = Dir() + "/good.png";
    ASSERT_EQ(Shell("convert -size 300x200 gradient:red-blue " + png).status, 0);
    Shell("head -c 600 " + jpeg + " > " + Dir() + "/cut.jpg");
    Shell("head -c 200 " + png + " > " + Dir() + "/cut.png");
    WriteFile(Dir() + "/junk.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(500, 'x'));
    WritePwgRaster(Dir() + "/huge.pwg", 60000, 60000, 4);
    struct Case {
        const char* name;
        const char* file;
        const char* format;
        const char* attributes;
        bool substituted = false;  // printed with the default instead
    } cases[] = {
        {"truncated JPEG", "cut.jpg", "image/jpeg", ""},
        {"truncated PNG", "cut.png", "image/png", ""},
        {"corrupt PNG", "junk.png", "image/png", ""},
        {"absurd page size", "huge.pwg", "image/pwg-raster", ""},
        {"unknown vendor value", "good.jpg", "image/jpeg", "ATTR keyword overcoat-finish shiny"},
        {"unoffered vendor number", "good.jpg", "image/jpeg", "ATTR integer gamma-red 15"},
        {"foreign page size", "good.jpg", "image/jpeg", "ATTR keyword media na_letter_8.5x11in",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = JobPackets(*printer_).size();
        const auto start = Clock::now();
        const Output out = Print(Dir() + "/" + c.file, c.format, c.attributes);
        std::printf("%s: %.1f s\n", c.name,
                    std::chrono::duration<double>(Clock::now() - start).count());
        const bool refused = out.text.find("status-code = client-error") != std::string::npos;
        const bool aborted = out.text.find("job-state (enum) = aborted") != std::string::npos;
        if (c.substituted) {
            EXPECT_NE(out.text.find("successful-ok-ignored-or-substituted-attributes"),
                      std::string::npos)
                << out.text;
        } else {
            EXPECT_TRUE(refused || aborted) << out.text;
            EXPECT_EQ(JobPackets(*printer_).size(), before);
        }
        EXPECT_TRUE(OnlyWholePackets(*printer_));
        ASSERT_TRUE(ServerRunning());
    }
}

TEST_F(PrinterApp, StateReasonsSupplyAndStatusPageFollowThePrinter) {
    struct Case {
        const char* name;
        std::function<void()> change;
        const char* reason;
        const char* level;
    } cases[] = {
        {"ready", [] {}, "printer-state-reasons (keyword) = none", "marker-levels (integer) = 20"},
        {"ribbon low",
         [] {
             auto state = Default();
             state.mediaRemain = "00000080";
             printer_->SetState(state);
         },
         "marker-supply-low", "marker-levels (integer) = 8"},
        {"ribbon ended",
         [] {
             auto state = Default();
             state.status = 1200;
             printer_->SetState(state);
         },
         "marker-supply-empty", "marker-levels (integer) = 0"},
        {"cover open",
         [] {
             auto state = Default();
             state.status = 1000;
             printer_->SetState(state);
         },
         "cover-open", "marker-levels (integer) = 20"},
        {"unplugged", [] { printer_->Remove(); }, "offline", "marker-levels (integer) = -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        printer_->SetState(Default());
        printer_->Plug();
        c.change();
        std::string attributes;
        EXPECT_TRUE(WaitFor(
            [&] {
                attributes = PrinterAttributes();
                return attributes.find(c.reason) != std::string::npos &&
                       attributes.find(c.level) != std::string::npos;
            },
            std::chrono::seconds(20)))
            << attributes;
    }
    // The web pages show the same.
    printer_->SetState(Default());
    printer_->Plug();
    EXPECT_TRUE(WaitFor(
        [] { return PrinterAttributes().find("marker-levels (integer) = 20") != std::string::npos; },
        std::chrono::seconds(20)));
    EXPECT_NE(HttpGet("/qzm/supplies").find("title=\"20%\""), std::string::npos);
    EXPECT_NE(HttpGet("/qzm/").find("Idle"), std::string::npos);
}

TEST_F(PrinterApp, AnUnpluggedPrinterEndsTheJobWithAClearState) {
    const std::string pwg = Dir() + "/late.pwg";
    WritePwgRaster(pwg, 1844, 1240);
    // The printer goes away once the first plane has started.
    printer_->SetFault(qzm::emu::Fault::kRemoveMidTransfer, "STATUS");
    const Output out = Print(pwg, "image/pwg-raster");
    EXPECT_TRUE(out.text.find("job-state (enum) = aborted") != std::string::npos ||
                out.text.find("job-state (enum) = completed") != std::string::npos)
        << out.text;
    EXPECT_TRUE(OnlyWholePackets(*printer_));
    EXPECT_NE(PrinterAttributes().find("offline"), std::string::npos);
    EXPECT_TRUE(ServerRunning());
}

TEST(PrinterAppSettings, MediaAndVendorValuesMapToThePpdChoices) {
    qzm::app::JobOptions vendor;
    vendor.Add("overcoat-finish", "fine-matte");
    vendor.Add("color-matching", "false");
    vendor.Add("saturation", "-30");
    qzm::app::JobOptions options;
    std::string error;
    ASSERT_TRUE(qzm::app::_MakeJobOptions("om_89x127mmx2_92.12x131.06mm", 600, 600,
                                          vendor.Count(), vendor.Options(), &options, &error))
        << error;
    const std::map<std::string, std::string> expected = {
        {"PageSize", "89x127mmx2"}, {"Resolution", "600x600dpi"},
        {"OvpOvercoatFinish", "FineMatte"}, {"OvpICM", "None"}, {"OvpChroma", "-30"},
        {"OvpPrintRetry", "Enable"}, {"OvpBorder", "Disable"}, {"OvpICCProfile", "OV480mac"}};
    for (const auto& [name, value] : expected) {
        const char* got = cupsGetOption(name.c_str(), options.Count(), options.Options());
        EXPECT_STREQ(got, value.c_str()) << name;
    }
    EXPECT_FALSE(qzm::app::_MakeJobOptions(kSixByFour, 600, 300, 0, nullptr, &options, &error));
    EXPECT_NE(error.find("600x300"), std::string::npos);
    // Sizes by dimensions; the roll decides the ready size.
    EXPECT_STREQ(qzm::app::_FindMediaBySize(15613, 10499)->ppdName, "153x102mm");
    EXPECT_EQ(qzm::app::_FindMediaBySize(21590, 27940), nullptr);
    EXPECT_STREQ(qzm::app::_ReadyMediaForRoll("310")->ppdName, "153x102mm");
    EXPECT_STREQ(qzm::app::_ReadyMediaForRoll("210")->ppdName, "127x89mm");
    EXPECT_EQ(qzm::app::_ReadyMediaForRoll("9"), nullptr);
}

}  // namespace
