// The whole infoqzm480 program on a mocked USB bus, with a private CUPS: a
// printer attached at start gets its queue and its information file, the file
// is refreshed only while the status window asks, and it takes the
// disconnected form when the printer is unplugged; SIGINT ends the program.
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MockUsbBus.h"
#include "PrivateCupsd.h"
#include "TempRoot.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedPrinter;
using qzm::emu::PrinterState;
using qzm::emu::Transfer;

constexpr char kPpdName[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
constexpr char kFolder[] = "/Library/Caches/Orvane/QZ-M480";
constexpr char kQueue[] = "Orvane_Imaging_Inc__M480";
constexpr char kDeviceUri[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%200001";

constexpr char kDisconnected[] =
    "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n"
    "MEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\nMEDIA_REMAIN_HALF=\"\"\n\n#COUNTER_INFORMATION\n"
    "TOTAL_COUNT=\"\"\n\n";

std::string Read(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Waits until the condition holds, at most limit.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Sets an environment variable for as long as it lives.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (hadOld_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_, old_;
    bool hadOld_ = false;
};

// The device URI of a queue of the private scheduler, or "" when none.
std::string QueueDeviceUri(const std::string& name) {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::string uri;
    if (cups_dest_t* dest = cupsGetDest(name.c_str(), nullptr, count, dests)) {
        const char* value = cupsGetOption("device-uri", dest->num_options, dest->options);
        uri = value ? value : "";
    }
    cupsFreeDests(count, dests);
    return uri;
}

size_t BulkTransfers(const EmulatedPrinter& printer) {
    size_t count = 0;
    for (const Transfer& transfer : printer.Transfers()) {
        count += transfer.kind != Transfer::Kind::kControl;
    }
    return count;
}

TEST(DaemonOnMockBus, QueueInformationFileRefreshAndDisconnectedForm) {
    std::string why;
    if (!qzm::test::MockUsbBus::Available(&why))
        GTEST_SKIP() << why;
    qzm::test::TempRoot root;

    // The scheduler runs outside the mocked bus and without sanitizer leak
    // reports; so do the programs the daemon starts.
    qzm::test::PrivateCupsd cupsd;
    {
        ScopedVariable noPreload("LD_PRELOAD", nullptr);
        ASSERT_TRUE(cupsd.AddModel(kPpdName, QZM480_PPD_GZ)) << cupsd.Error();
        if (!cupsd.Start())
            GTEST_SKIP() << "cupsd cannot run here: " << cupsd.Error();
    }
    ScopedVariable noLeakReports("ASAN_OPTIONS", "detect_leaks=0");

    qzm::test::MockUsbBus mock;
    PrinterState state;
    state.vendorId = QZM480_USB_VENDOR_ID;
    state.productId = QZM480_USB_PRODUCT_ID;
    state.serial = "QZ 0001";
    auto printer = EmulatedPrinter::Create(state);
    const std::string path = mock.Plug(printer, /*announce=*/false);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (root / "/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (root / "/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(INFOQZM480), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, INFOQZM480, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    struct Reaper {  // never leaves the daemon running after a failed check
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};

    const std::string folder = root / kFolder;
    const std::string file = folder + "/QZ-M480_QZ%200001.log";
    ASSERT_TRUE(Eventually([&] { return fs::exists(file); }, 20s))
        << "no information file; stderr: " << Read(root / "/stderr");
    const std::string first = Read(file);
    EXPECT_NE(first.find("MODEL=\"QZ-M480\"\n"), std::string::npos) << first;
    EXPECT_NE(first.find("PRINTER_SERIAL_NO=\"QZ%200001\"\n"), std::string::npos) << first;
    EXPECT_NE(first.find("PRINTER_VERSION=\"1.00\"\n"), std::string::npos) << first;
    EXPECT_NE(first.find("MEDIA_REMAIN=\"0123\"\n"), std::string::npos) << first;
    EXPECT_EQ(QueueDeviceUri(kQueue), kDeviceUri) << "the printer's queue was not created";
    const std::vector<Transfer> control = [&] {
        std::vector<Transfer> list;
        for (const Transfer& transfer : printer->Transfers()) {
            if (transfer.kind == Transfer::Kind::kControl)
                list.push_back(transfer);
        }
        return list;
    }();
    ASSERT_FALSE(control.empty()) << "the device ID was never asked for";
    EXPECT_EQ(control[0].length, 256u);

    // Settled and nobody asking: no USB traffic, the file stays as it is.
    state.mediaRemain = "00000077";
    printer->SetState(state);
    std::this_thread::sleep_for(1500ms);
    const size_t idle = BulkTransfers(*printer);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(BulkTransfers(*printer), idle) << "an idle printer was queried";
    EXPECT_EQ(Read(file), first);

    // The status window opens: refreshed every second while "_UTIL" exists;
    // the one-shot request is removed once seen.
    std::ofstream(folder + "/QZ-M480_QZ%200001_UTIL").close();
    std::ofstream(folder + "/QZ-M480_QZ%200001_START_UTIL").close();
    EXPECT_TRUE(Eventually(
        [&] { return Read(file).find("MEDIA_REMAIN=\"0077\"") != std::string::npos; }, 5s))
        << Read(file);
    EXPECT_TRUE(
        Eventually([&] { return !fs::exists(folder + "/QZ-M480_QZ%200001_START_UTIL"); }, 5s));
    state.mediaRemain = "00000076";
    printer->SetState(state);
    EXPECT_TRUE(Eventually(
        [&] { return Read(file).find("MEDIA_REMAIN=\"0076\"") != std::string::npos; }, 5s))
        << "not refreshed while the status window is open";
    EXPECT_TRUE(fs::exists(folder + "/QZ-M480_QZ%200001_UTIL")) << "the daemon removed _UTIL";

    // Unplugged: the disconnected form, byte for byte.
    mock.Unplug(path);
    EXPECT_TRUE(Eventually([&] { return Read(file) == kDisconnected; }, 15s)) << Read(file);

    // Plugged in again later: a new worker writes the file anew.
    mock.Plug(printer);
    EXPECT_TRUE(
        Eventually([&] { return Read(file).find("MODEL=\"QZ-M480\"") != std::string::npos; }, 20s))
        << "a printer plugged in again was not taken up";

    ASSERT_EQ(::kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    reaper.pid = -1;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(root / "/stdout"), "");
    EXPECT_EQ(Read(root / "/stderr"), "");
}

}  // namespace
