// The printer application against real clients: a server on a loopback port
// with an emulated printer attached, driven by CUPS's ipptool and lp and
// compared with the CUPS filter's own stream.
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
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "Staging.h"
#include "../Support/Eventually.h"
#include "../Support/PrivateCupsd.h"
#include "../Support/TempRoot.h"
#include "AppDevice.h"
#include "AppMedia.h"
#include "EmulatorSocket.h"
#include "JobSettings.h"
#include "Paths.h"
#include "PrinterLock.h"
#include "StreamParser.h"

namespace fs = std::filesystem;
using qzm::test::RunShell;
using namespace std::chrono_literals;
using qzm::test::Eventually;

namespace {

constexpr char kSixByFour[] = "om_153x102mm_156.13x104.99mm";

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A PWG raster of one 8-bit sRGB 6x4 page of colour ramps; only the first
// rows lines are written when given.
void WritePwgRaster(const std::string& path, unsigned width, unsigned height, unsigned rows = ~0u) {
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

// The print jobs' packets the printer received (status queries left out),
// each as command, sub-command and payload.
std::vector<std::string> JobPackets(const qzm::emu::EmulatedPrinter& printer) {
    std::vector<std::string> packets;
    for (const auto& p : printer.Packets()) {
        if (p.command == "IMAGE" || p.command == "CNTRL") {
            packets.push_back(p.command + "/" + p.subCommand + "/" +
                              std::string(p.payload.begin(), p.payload.end()));
        }
    }
    return packets;
}

// True when every byte sent to the printer belongs to a whole packet.
bool OnlyWholePackets(const qzm::emu::EmulatedPrinter& printer) {
    uint64_t sent = 0, packed = 0;
    for (const auto& transfer : printer.Transfers()) {
        sent += transfer.kind == qzm::emu::Transfer::Kind::kBulkOut ? transfer.transferred : 0;
    }
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
        const fs::path profiles = Dir() + qzm::paths::kProfileFolder;
        fs::create_directories(profiles);
        for (const char* name : {qzm::paths::kProfileM480, qzm::paths::kProfileOV480}) {
            const fs::path file = fs::path(name).filename();
            fs::copy_file(fs::path(QZM480_PROFILE_DIR) / file, profiles / file);
        }
        shared_ = qzm::emu::EmulatedPrinter::Create(Default());
        printer_ = shared_.get();
        emulator_ = new qzm::emu::EmulatorServer(Dir() + "/emu.sock", {shared_});
        ASSERT_TRUE(emulator_->Start());
        // A port the system just gave out, free again.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        port_ = ntohs(address.sin_port);
        const std::string command =
            "QZM480_EMULATOR_SOCKET=" + Dir() + "/emu.sock TMPDIR=" + Dir() +
            " exec " QZM480_PRINTER_APP " server -o server-port=" + std::to_string(port_) +
            " -o state-file=" + Dir() + "/state -o spool-directory=" + Dir() +
            "/spool -o log-file=" + Dir() + "/app.log -o log-level=debug";
        if ((server_ = ::fork()) == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            ::_exit(127);
        }
        int status = -1;
        const auto listed = [&] { return Ipp("", "get-printers.test", &status), status == 0; };
        ASSERT_TRUE(Eventually(listed, 30s, 100ms));
        const std::string added =
            Ipp("ipp/system", PRINTER_APP_TESTS "/create-printer.test", &status);
        ASSERT_EQ(status, 0) << added;
    }

    static void TearDownTestSuite() {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
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
        state.serial = "QZ0001";
        return state;
    }
    static std::string Dir() { return root_->Path(); }
    static std::string Uri(const std::string& path) {
        return "ipp://localhost:" + std::to_string(port_) + "/" + path;
    }
    static bool ServerRunning() { return ::waitpid(server_, nullptr, WNOHANG) == 0; }

    // ipptool with a test file against a path of the server; its output.
    static std::string Ipp(const std::string& path, const std::string& test,
                           int* status = nullptr) {
        std::string out;
        const int exit = RunShell("ipptool -T 30 -tv " + Uri(path) + " " + test, &out);
        if (status != nullptr) {
            *status = exit;
        }
        return out;
    }

    // The start of an ipptool test of an operation, with the attributes that
    // every request has.
    static std::string Request(const std::string& operation) {
        return "{\n  NAME \"" + operation + "\"\n  OPERATION " + operation +
               "\n  GROUP operation-attributes-tag\n  ATTR charset attributes-charset utf-8\n"
               "  ATTR naturalLanguage attributes-natural-language en\n";
    }

    // Prints a file and waits for the job to end; the ipptool output holds
    // the refusal, or the job's final state. When cancelOn is given, the job
    // is cancelled once its message matches it.
    static std::string Print(const std::string& file, const std::string& format,
                             const std::string& jobAttributes = "",
                             const std::string& cancelOn = "") {
        const std::string printer =
            "  ATTR uri printer-uri $uri\n  ATTR name requesting-user-name t\n";
        const std::string job = printer + "  ATTR integer job-id $job-id\n";
        std::string script =
            Request("Print-Job") + printer + "  ATTR mimeMediaType document-format " + format +
            "\n  GROUP job-attributes-tag\n  " + jobAttributes + "\n  FILE " + file + R"(
  STATUS successful-ok
  STATUS successful-ok-ignored-or-substituted-attributes
  EXPECT job-id OF-TYPE integer
}
)";
        if (!cancelOn.empty()) {
            script += Request("Get-Job-Attributes") + job + "  DELAY 0.1\n" +
                      "  EXPECT job-state-message WITH-VALUE \"/" + cancelOn +
                      "/\" REPEAT-NO-MATCH REPEAT-LIMIT 3000\n}\n" + Request("Cancel-Job") + job +
                      "  STATUS successful-ok\n}\n";
        }
        WriteFile(Dir() + "/print.test", script + Request("Get-Job-Attributes") + job + R"(
  ATTR keyword requested-attributes job-state,job-state-reasons,job-state-message
  STATUS successful-ok
  DELAY 0.1
  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 3000
})");
        return Ipp("ipp/print/qzm", Dir() + "/print.test");
    }

    static std::string PrinterAttributes() {
        return Ipp("ipp/print/qzm", "get-printer-attributes.test");
    }

    // How many lines of the server's log hold this text.
    static int Logged(const std::string& text) {
        std::ifstream log(Dir() + "/app.log");
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += line.find(text) != std::string::npos;
        return count;
    }

    static inline qzm::test::TempRoot* root_ = nullptr;
    static inline std::shared_ptr<qzm::emu::EmulatedPrinter> shared_;
    static inline qzm::emu::EmulatedPrinter* printer_ = nullptr;
    static inline qzm::emu::EmulatorServer* emulator_ = nullptr;
    static inline pid_t server_ = -1;
    static inline int port_ = 0;
};

// The filter's packets for a raster file with the options the application
// uses for this media at 300 dpi and the PPD's defaults.
std::vector<std::string> FilterPackets(const std::string& raster, const std::string& media) {
    qzm::app::JobOptions options;
    std::string error, text;
    EXPECT_TRUE(qzm::app::_MakeJobOptions(media.c_str(), 300, 300, 0, nullptr, &options, &error));
    for (int i = 0; i < options.Count(); ++i) {
        text += std::string(options.Options()[i].name) + "=" + options.Options()[i].value + " ";
    }
    // The filter waits for the print-status file the backend writes, which
    // names the loaded media.
    const std::string folder = std::string(std::getenv("QZM480_ROOT")) + qzm::paths::kCacheFolder;
    fs::create_directories(folder);
    WriteFile(folder + "/Print_77.log", "MEDIA_SIZE=200\n");
    std::string run;
    EXPECT_EQ(RunShell(std::string("env -u PPD ") + RASTERTOQZM480 + " 77 u t 1 '" + text + "' " +
                           raster + " > " + raster + ".stream",
                       &run),
              0)
        << run;
    std::vector<std::string> packets;
    for (const auto& p : qzm::stream::ParseFile(raster + ".stream").packets) {
        packets.push_back(p.command + "/" + p.subCommand + "/" +
                          std::string(p.payload.begin(), p.payload.end()));
    }
    return packets;
}

// CUPS as a client: a private scheduler makes a driverless queue of the
// application (lpadmin -m everywhere) and lp prints a photo through it.
TEST_F(PrinterApp, CupsPrintsThroughAnEverywhereQueue) {
    qzm::test::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.InstallBackend("ipp", "/usr/lib/cups/backend/ipp"));
    if (!cupsd.Start()) {
        GTEST_SKIP() << cupsd.Error();
    }
    const std::string jpeg = Dir() + "/lp.jpg";
    const size_t before = JobPackets(*printer_).size();
    std::string out;
    ASSERT_EQ(RunShell("lpadmin -p app -E -v " + Uri("ipp/print/qzm") +
                           " -m everywhere && convert "
                           "-size 900x600 gradient:orange-purple " +
                           jpeg + " && lp -d app -o media=" + kSixByFour + " " + jpeg,
                       &out),
              0)
        << out << cupsd.ErrorLog();
    EXPECT_TRUE(Eventually(
        [&] {
            const auto packets = JobPackets(*printer_);
            return packets.size() >= before + 10 && packets.back() == "CNTRL/START/";
        },
        120s, 100ms))
        << cupsd.ErrorLog();
    EXPECT_TRUE(OnlyWholePackets(*printer_));
}

// The printer's status as the printer's state reasons, exactly, its ribbon
// as a supply level, and its roll as the ready media.
TEST_F(PrinterApp, StateReasonsSupplyAndStatusPageFollowThePrinter) {
    const struct {
        int status;
        const char *remain, *reasons, *level, *roll = "01200", *ready = "";
    } cases[] = {
        {0, "00000085", "marker-supply-low", "10"},  // low from 1 % up to 10 %
        {0, "00000054", "marker-supply-low", "1"},
        {1200, "00000123", "marker-supply-empty", "0"},
        {1000, "00000123", "cover-open", "20"},
        {-1, "00000123", "offline", "-1"},  // unplugged
        {0, "00000123", "none", "20", "01210", "media-ready (keyword) = om_127x89mm_"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reasons);
        auto state = Default();
        state.status = std::max(c.status, 0);
        state.mediaRemain = c.remain;
        state.mediaSize = c.roll;
        printer_->SetState(state);
        c.status < 0 ? printer_->Remove() : printer_->Plug();
        const std::string expected[] = {
            std::string("printer-state-reasons (keyword) = ") + c.reasons + "\n",
            std::string("marker-levels (integer) = ") + c.level + "\n", c.ready};
        std::string attributes;
        EXPECT_TRUE(Eventually(
            [&] {
                attributes = PrinterAttributes();
                return std::all_of(std::begin(expected), std::end(expected), [&](auto& text) {
                    return attributes.find(text) != std::string::npos;
                });
            },
            20s, 100ms))
            << attributes;
    }
    // The web pages show the same.
    const auto page = [](const char* path) {
        std::string text;
        RunShell("curl -s http://localhost:" + std::to_string(port_) + path, &text);
        return text;
    };
    EXPECT_NE(page("/qzm/supplies").find("title=\"20%\""), std::string::npos);
    EXPECT_NE(page("/qzm/").find("Idle"), std::string::npos);

    // A printer in use by another program is not taken for a missing one:
    // once a look at it has found it busy, its state is still as it was.
    const int looked = Logged("in use by another program");
    auto busy = Default();
    busy.interfaceOpenFails = true;
    printer_->SetState(busy);
    EXPECT_TRUE(Eventually(
        [&] { return PrinterAttributes(), Logged("in use by another program") > looked; }, 20s,
        100ms));
    EXPECT_NE(PrinterAttributes().find("printer-state-reasons (keyword) = none\n"),
              std::string::npos);
}

// Documents printed with ipptool, one job each to its end: JPEG, PNG and PWG
// raster print through the filter's path (a raster gives the CUPS filter's
// own packets), two pages of a two-per-sheet size share a sheet with the
// vendor values sent, bad input is refused or aborted with nothing half
// sent, a job waiting for the printer's cover to close can be cancelled, and
// a printer unplugged in the middle ends the job and shows offline.
TEST_F(PrinterApp, DocumentsPrintOrAreRefusedWithNothingHalfSent) {
    ASSERT_EQ(RunShell("cd " + Dir() +
                       " && convert -size 900x600 gradient:red-blue -quality 90 photo.jpg && "
                       "convert -size 600x900 gradient:green-yellow photo.png && "
                       "head -c 600 photo.jpg > cut.jpg && head -c 200 photo.png > cut.png"),
              0);
    WriteFile(Dir() + "/junk.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(500, 'x'));
    WritePwgRaster(Dir() + "/photo.pwg", 1844, 1240);
    WritePwgRaster(Dir() + "/huge.pwg", 60000, 60000, 4);  // an absurd page size
    WritePwgRaster(Dir() + "/two.pwg", 1548, 1088);
    // A second page: the same header and lines after the first.
    std::ifstream in(Dir() + "/two.pwg", std::ios::binary);
    const std::string page{std::istreambuf_iterator<char>(in), {}};
    WriteFile(Dir() + "/two.pwg", page + page.substr(4));

    enum Outcome { kPrinted, kRefused, kSubstituted, kCancelled, kUnplugged };
    const std::string sixByFour = std::string("ATTR keyword media ") + kSixByFour;
    const struct {
        const char *file, *format;
        std::string attributes;
        Outcome outcome;
        const char* output = "";                // in ipptool's output
        std::vector<std::string> packets = {};  // among those sent
    } cases[] = {
        {"photo.jpg", "image/jpeg", sixByFour, kPrinted},
        {"photo.png", "image/png", sixByFour, kPrinted},
        {"photo.pwg", "image/pwg-raster", sixByFour, kPrinted},
        {"two.pwg",
         "image/pwg-raster",
         "ATTR keyword media om_127x89mmx2_131.06x92.12mm\n"
         "  ATTR keyword overcoat-finish matte\n  ATTR integer sharpness 3",
         kPrinted,
         "",
         {"IMAGE/MULTICUT/00000022", "CNTRL/OVERCOAT/00000001"}},
        {"cut.jpg", "image/jpeg", "", kRefused},
        {"cut.png", "image/png", "", kRefused},
        {"junk.png", "image/png", "", kRefused},
        {"huge.pwg", "image/pwg-raster", "", kRefused, "60000 x 60000 pixels"},
        {"photo.jpg", "image/jpeg", "ATTR keyword overcoat-finish shiny", kRefused},
        {"photo.jpg", "image/jpeg", "ATTR integer gamma-red 15", kRefused},  // not offered
        {"photo.jpg", "image/jpeg", "ATTR keyword media na_letter_8.5x11in", kSubstituted},
        {"photo.jpg", "image/jpeg", sixByFour, kCancelled, "job-state (enum) = canceled"},
        {"photo.pwg", "image/pwg-raster", "", kUnplugged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.attributes);
        if (c.outcome == kUnplugged) {  // gone once the first plane has started
            printer_->SetFault(qzm::emu::Fault::kRemoveMidTransfer, "STATUS");
        }
        auto state = Default();
        state.status = c.outcome == kCancelled ? 1000 : 0;  // the cover open
        printer_->SetState(state);
        const size_t before = JobPackets(*printer_).size();
        const std::string out = Print(Dir() + "/" + c.file, c.format, c.attributes,
                                      c.outcome == kCancelled ? "cover is open" : "");
        const auto all = JobPackets(*printer_);
        const std::vector<std::string> sent(all.begin() + before, all.end());
        const bool aborted = out.find("job-state (enum) = aborted") != std::string::npos;
        const bool completed = out.find("job-state (enum) = completed") != std::string::npos;
        if (c.outcome == kPrinted) {
            ASSERT_TRUE(completed) << out;
            // Set-up, 4 settings, media, 3 planes, start.
            ASSERT_EQ(sent.size(), 10u);
            EXPECT_EQ(sent.back(), "CNTRL/START/");
        } else if (c.outcome == kRefused) {
            EXPECT_TRUE(out.find("status-code = client-error") != std::string::npos || aborted)
                << out;
            EXPECT_TRUE(sent.empty());
        } else if (c.outcome == kCancelled) {
            EXPECT_TRUE(sent.empty());
        } else if (c.outcome == kSubstituted) {
            EXPECT_NE(out.find("successful-ok-ignored-or-substituted-attributes"),
                      std::string::npos)
                << out;
        } else {
            EXPECT_TRUE(aborted || completed) << out;
            EXPECT_NE(PrinterAttributes().find("offline"), std::string::npos);
        }
        EXPECT_NE(out.find(c.output), std::string::npos) << out;
        for (const auto& packet : c.packets) {
            EXPECT_NE(std::find(sent.begin(), sent.end(), packet), sent.end()) << packet;
        }
        if (c.outcome == kPrinted && c.file == std::string("photo.pwg")) {
            EXPECT_TRUE(sent == FilterPackets(Dir() + "/photo.pwg", kSixByFour));
        }
        EXPECT_TRUE(OnlyWholePackets(*printer_));
        ASSERT_TRUE(ServerRunning());
    }
}

// A job waits while another program holds the printer's lock, and prints
// once the lock is given back.
TEST_F(PrinterApp, JobWaitsForThePrinterLock) {
    WritePwgRaster(Dir() + "/lock.pwg", 600, 400);
    auto lock = std::make_unique<PrinterLock>("QZ0001");
    ASSERT_EQ(lock->TryLock(), PrinterLock::kLockTaken);
    const int refused = Logged("in use by another program");
    auto printing = std::async(std::launch::async, [] {
        return Print(Dir() + "/lock.pwg", "image/pwg-raster",
                     std::string("ATTR keyword media ") + kSixByFour);
    });
    EXPECT_TRUE(
        Eventually([&] { return Logged("in use by another program") > refused; }, 20s, 100ms));
    lock.reset();
    const std::string out = printing.get();
    EXPECT_NE(out.find("job-state (enum) = completed"), std::string::npos) << out;
}

// A device URI names its printer by a serial that can name a lock file.
TEST(PrinterAppDevice, UriSerialsNameALockFile) {
    std::string serial;
    for (const char* bad : {"", "../x"}) {
        EXPECT_FALSE(qzm::app::_SerialFromAppDeviceUri(qzm::app::_AppDeviceUri(bad), &serial));
    }
}

TEST(PrinterAppSettings, MediaAndVendorValuesMapToThePpdChoices) {
    qzm::app::JobOptions vendor, options;
    vendor.Add("overcoat-finish", "fine-matte");
    vendor.Add("color-matching", "false");
    vendor.Add("saturation", "-30");
    std::string error;
    ASSERT_TRUE(qzm::app::_MakeJobOptions("om_89x127mmx2_92.12x131.06mm", 600, 600, vendor.Count(),
                                          vendor.Options(), &options, &error))
        << error;
    const std::map<std::string, std::string> expected = {{"PageSize", "89x127mmx2"},
                                                         {"Resolution", "600x600dpi"},
                                                         {"OvpOvercoatFinish", "FineMatte"},
                                                         {"OvpICM", "None"},
                                                         {"OvpChroma", "-30"},
                                                         {"OvpPrintRetry", "Enable"},
                                                         {"OvpBorder", "Disable"},
                                                         {"OvpICCProfile", "OV480mac"}};
    for (const auto& [name, value] : expected) {
        EXPECT_STREQ(cupsGetOption(name.c_str(), options.Count(), options.Options()), value.c_str())
            << name;
    }
    EXPECT_FALSE(qzm::app::_MakeJobOptions(kSixByFour, 600, 300, 0, nullptr, &options, &error));
    EXPECT_NE(error.find("600x300"), std::string::npos);
    // 300 x 600 dpi is offered; sharpness goes up to 8.
    qzm::app::JobOptions sharp;
    sharp.Add("sharpness", "9");
    EXPECT_FALSE(qzm::app::_MakeJobOptions(kSixByFour, 300, 600, sharp.Count(), sharp.Options(),
                                           &options, &error));
    EXPECT_NE(error.find("sharpness"), std::string::npos);
    // Boolean settings are offered as such, with their defaults.
    ipp_t* offered = ippNew();
    qzm::app::_AddVendorAttributes(offered);
    const auto boolean = [&](const char* name) {
        return ippGetBoolean(ippFindAttribute(offered, name, IPP_TAG_BOOLEAN), 0);
    };
    EXPECT_TRUE(boolean("print-retry-default") && boolean("white-border-supported"));
    EXPECT_FALSE(boolean("white-border-default"));
    ippDelete(offered);
    // Sizes by dimensions; the roll decides the ready size.
    EXPECT_STREQ(qzm::app::_FindMediaBySize(15613, 10499)->ppdName, "153x102mm");
    EXPECT_EQ(qzm::app::_FindMediaBySize(21590, 27940), nullptr);
    EXPECT_STREQ(qzm::app::_ReadyMediaForRoll("310")->ppdName, "153x102mm");
    EXPECT_STREQ(qzm::app::_ReadyMediaForRoll("210")->ppdName, "127x89mm");
    EXPECT_EQ(qzm::app::_ReadyMediaForRoll("9"), nullptr);
}

}  // namespace
