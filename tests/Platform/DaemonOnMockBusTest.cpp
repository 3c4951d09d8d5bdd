// The whole infoqzm480 program on a mocked USB bus, with a private CUPS: the
// diagnostic mode lists the printer and writes nothing; the daemon gives a
// printer attached at start its queue and its information file, refreshes the
// file only while the status window asks, writes the disconnected form when
// the printer is unplugged, takes it up again when plugged back in, and ends
// on SIGINT. The printer's serial is one a shell would misread.
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
#include <string>
#include <thread>

#include "../StatusControllers/Common/DaemonTestSupport.h"
#include "Eventually.h"
#include "MockUsbBus.h"
#include "PrivateCupsd.h"
#include "TempRoot.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedPrinter;
using qzm::test::Eventually;
using qzm::test::kDisconnected;
using qzm::test::Read;

// Starts infoqzm480 with its output in files of root, without the sanitizer's
// leak report (the programs it starts are not built with it).
pid_t Spawn(const qzm::test::TempRoot& root, const char* argument) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (root / "/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (root / "/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(INFOQZM480), const_cast<char*>(argument), nullptr};
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, INFOQZM480, &actions, nullptr, argv, environ), 0);
    ::unsetenv("ASAN_OPTIONS");
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(DaemonOnMockBus, DiagnosticModeQueueInformationFileRefreshAndDisconnectedForm) {
    std::string why;
    if (!qzm::test::MockUsbBus::Available(&why))
        GTEST_SKIP() << why;
    qzm::test::TempRoot root;
    // The scheduler runs outside the mocked bus.
    qzm::test::PrivateCupsd cupsd;
    {
        const std::string preload = std::getenv("LD_PRELOAD");
        ::unsetenv("LD_PRELOAD");
        ASSERT_TRUE(cupsd.AddModel("Library/Printers/PPDs/Contents/Resources/QZ-M480.gz",
                                   QZM480_PPD_GZ))
            << cupsd.Error();
        const bool started = cupsd.Start();
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        if (!started)
            GTEST_SKIP() << "cupsd cannot run here: " << cupsd.Error();
    }
    qzm::test::MockUsbBus mock;
    qzm::emu::PrinterState state;
    state.vendorId = QZM480_USB_VENDOR_ID;
    state.productId = QZM480_USB_PRODUCT_ID;
    state.serial = "QZ 01;$(id)";
    auto printer = EmulatedPrinter::Create(state);
    const std::string path = mock.Plug(printer, /*announce=*/false);

    ASSERT_EQ(ExitStatus(Spawn(root, "--once")), 0) << Read(root / "/stderr");
    EXPECT_EQ(Read(root / "/stdout").rfind("Printer 1: serial number \"QZ%2001;$(id)\"", 0), 0u)
        << Read(root / "/stdout");
    EXPECT_FALSE(fs::exists(root / "/Library")) << "the diagnostic mode writes nothing";
    printer->ClearTransfers();

    const pid_t pid = Spawn(root, nullptr);
    struct Reaper {  // never leaves the daemon running after a failed check
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};
    const std::string folder = root / qzm::test::kInfoFolder;
    const std::string file = folder + "/QZ-M480_QZ%2001;$(id).log";
    ASSERT_TRUE(Eventually([&] { return fs::exists(file); })) << Read(root / "/stderr");
    const std::string first = Read(file);
    EXPECT_EQ(first, qzm::test::Info{.serial = "QZ%2001;$(id)"}.Text());
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, "Orvane_Imaging_Inc__M480", nullptr);
    ASSERT_NE(dest, nullptr) << "the printer's queue was not created";
    EXPECT_STREQ(cupsGetOption("device-uri", dest->num_options, dest->options),
                 "ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%2001;$(id)");
    cupsFreeDests(1, dest);
    // Set up and nobody asking: for two of the daemon's cycles, no USB
    // traffic, and the file stays as it is.
    state.mediaRemain = "00000077";
    printer->SetState(state);
    printer->ClearTransfers();
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(printer->Transfers().empty()) << "an idle printer was queried";
    EXPECT_EQ(Read(file), first);

    // The status window opens: refreshed every cycle while "_UTIL" exists;
    // the one-shot request is removed once seen.
    std::ofstream(folder + "/QZ-M480_QZ%2001;$(id)_UTIL").close();
    std::ofstream(folder + "/QZ-M480_QZ%2001;$(id)_START_UTIL").close();
    EXPECT_TRUE(Eventually([&] { return Read(file).find("\"0077\"") != std::string::npos; }));
    EXPECT_TRUE(Eventually([&] { return !fs::exists(folder + "/QZ-M480_QZ%2001;$(id)_START_UTIL"); }));
    state.mediaRemain = "00000076";
    printer->SetState(state);
    EXPECT_TRUE(Eventually([&] { return Read(file).find("\"0076\"") != std::string::npos; }));
    EXPECT_TRUE(fs::exists(folder + "/QZ-M480_QZ%2001;$(id)_UTIL")) << "the daemon removed _UTIL";

    mock.Unplug(path);
    EXPECT_TRUE(Eventually([&] { return Read(file) == kDisconnected; })) << Read(file);
    mock.Plug(printer);
    EXPECT_TRUE(Eventually([&] { return Read(file).find("MODEL=\"QZ-M480\"") != std::string::npos; }))
        << "a printer plugged in again was not taken up";

    ASSERT_EQ(::kill(pid, SIGINT), 0);
    reaper.pid = -1;
    EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_EQ(Read(root / "/stdout"), "");
    EXPECT_EQ(Read(root / "/stderr"), "");
}

}  // namespace
