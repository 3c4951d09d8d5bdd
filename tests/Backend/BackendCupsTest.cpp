// The backend as CUPS runs it: a private scheduler starts the test build of
// the program as root, with its environment from the configuration, for a
// raw queue whose device URI names the emulated printer.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "../Support/PrivateCupsd.h"
#include "../Support/TempRoot.h"
#include "BackendTestSupport.h"
#include "EmulatorSocket.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char kQueue[] = "Orvane_Imaging_Inc__M480";

int RunProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The state of the queue's only job once it has ended, or 0 after the limit.
ipp_jstate_t WaitForJobEnd(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ALL);
        const ipp_jstate_t state = count > 0 ? jobs[0].state : IPP_JSTATE_PENDING;
        cupsFreeJobs(count, jobs);
        if (state >= IPP_JSTATE_STOPPED) {
            return state;
        }
        std::this_thread::sleep_for(50ms);
    }
    return static_cast<ipp_jstate_t>(0);
}

TEST(BackendThroughCups, ARawJobReachesThePrinterOncePerCopy) {
    qzm::test::TempRoot root;
    auto printer = qzm::emu::EmulatedPrinter::Create();  // serial QZ0001
    const std::string socket = root.Path() + "/emu.sock";
    qzm::emu::EmulatorServer server(socket, {printer});
    ASSERT_TRUE(server.Start());

    qzm::test::PrivateCupsd cupsd;
    cupsd.SetEnv("QZM480_ROOT", root.Path());
    cupsd.SetEnv("QZM480_EMULATOR_SOCKET", socket);
    cupsd.SetLogLevel("debug");
    ASSERT_TRUE(cupsd.InstallBackend("ovbackend", QZM480_TEST_BACKEND));
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    }
    ASSERT_TRUE(cupsd.AddQueue(kQueue, "ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ0001"));

    const std::string file = root.Path() + "/job.bin";
    const auto sheet = qzm::test::Sheet(5000, 3);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(sheet.data()),
               static_cast<std::streamsize>(sheet.size()));
    ASSERT_EQ(RunProgram({"/usr/bin/lp", "-d", kQueue, "-o", "raw", "-n", "2", file}), 0);
    EXPECT_EQ(WaitForJobEnd(30s), IPP_JSTATE_COMPLETED) << cupsd.ErrorLog();

    auto twice = sheet;
    twice.insert(twice.end(), sheet.begin(), sheet.end());
    EXPECT_TRUE(qzm::test::SameBytes(qzm::test::ReceivedJobBytes(*printer), twice));
    // Run as root, the backend could take the printer lock.
    EXPECT_TRUE(fs::exists(root.Path() + "/run/qzm480/QZ0001.lock"));
    // The print-status file is gone with the job.
    EXPECT_FALSE(fs::exists(root.Path() + "/Library/Caches/Orvane/QZ-M480/Print_1.log"));
    // CUPS took the status lines: 400 and 123 prints less 50 each.
    const std::string log = cupsd.ErrorLog();
    EXPECT_NE(log.find("[Job 1] ATTR: marker-colors=none marker-names=Media "
                       "marker-types=ink-ribbon marker-levels=20"),
              std::string::npos)
        << log;
}

}  // namespace
