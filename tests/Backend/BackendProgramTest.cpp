// The backend program as CUPS runs it: its own process, the printer an
// emulated one served on a Unix socket by this test.
#include <gtest/gtest.h>

#include <cups/backend.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../Support/TempRoot.h"
#include "BackendTestSupport.h"
#include "EmulatorSocket.h"

namespace fs = std::filesystem;
using qzm::test::Read;
using qzm::test::WaitFor;

namespace {

// Runs the backend with the arguments, a pipe on its standard input and its
// outputs in files of root; returns the pipe's writing end.
int Spawn(const qzm::test::TempRoot& root, std::vector<std::string> arguments, pid_t* pid) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::vector<std::string> env = {"QZM480_ROOT=" + root.Path(),
                                    "QZM480_EMULATOR_SOCKET=" + root.Path() + "/emu.sock",
                                    "DEVICE_URI=ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%2077"};
    arguments.insert(arguments.begin(), QZM480_TEST_BACKEND);
    std::vector<char*> argv, envp;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, 1, (root / "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (root / "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(posix_spawn(pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    return fds[1];
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BackendProgramTest, DiscoveryThenAJobEndedBySigterm) {
    qzm::test::TempRoot root;
    qzm::emu::PrinterState state;
    state.serial = "QZ 77";
    auto printer = qzm::emu::EmulatedPrinter::Create(state);
    qzm::emu::EmulatorServer server(root.Path() + "/emu.sock", {printer});
    ASSERT_TRUE(server.Start());

    pid_t pid = -1;
    ::close(Spawn(root, {}, &pid));
    EXPECT_EQ(Wait(pid), CUPS_BACKEND_OK);
    EXPECT_EQ(Read(root / "/out"),
              "direct ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%2077 \"Orvane QZ-M480\" "
              "\"Orvane QZ-M480 USB QZ%2077\" \"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;\" \"\"\n");
    EXPECT_EQ(Read(root / "/err"), "");

    // A sheet arrives whole; SIGTERM while the job waits for more ends it at
    // once, with its file removed and the printer given back.
    const int input = Spawn(root, {"7", "user", "title", "1", ""}, &pid);
    const std::string file = root / (qzm::test::kInfoFolder + "/Print_7.log");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(file); }));
    const auto sheet = qzm::test::Sheet(100000, 5);
    ASSERT_EQ(::write(input, sheet.data(), sheet.size()), static_cast<ssize_t>(sheet.size()));
    ASSERT_TRUE(WaitFor([&] { return qzm::test::ReceivedJobBytes(*printer).size() >= sheet.size(); }));
    EXPECT_TRUE(qzm::test::SameBytes(qzm::test::ReceivedJobBytes(*printer), sheet));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), CUPS_BACKEND_OK);
    ::close(input);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(printer->InterfaceOpen());
    EXPECT_EQ(Read(root / "/out"), "");
    EXPECT_TRUE(qzm::test::OnlyStatusLines(Read(root / "/err")));
    server.Stop();
}

}  // namespace
