// The backend program as CUPS runs it: its own process, the printer an
// emulated one served on a Unix socket by this test.
#include <gtest/gtest.h>

#include <cups/backend.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../Support/ByteCompare.h"
#include "../Support/TempRoot.h"
#include "BackendTestSupport.h"
#include "EmulatorSocket.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qzm::emu::EmulatedPrinter;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the backend program with a pipe on its standard input and its
// two outputs in files.
class BackendProcess {
  public:
    BackendProcess(const std::string& folder, std::vector<std::string> arguments,
                   const std::vector<std::string>& environment)
        : out_(folder + "/stdout"), err_(folder + "/stderr") {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        std::vector<std::string> env = environment;
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        arguments.insert(arguments.begin(), QZM480_TEST_BACKEND);
        std::vector<char*> argv;
        for (auto& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        input_ = fds[1];
    }
    ~BackendProcess() {
        CloseInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    void Write(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(input_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseInput() {
        if (input_ >= 0) {
            ::close(input_);
            input_ = -1;
        }
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    // The exit status, or -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() const { return ReadText(out_); }
    std::string Err() const { return ReadText(err_); }

  private:
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
    int input_ = -1;
};

class BackendProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qzm::emu::PrinterState state;
        state.serial = "QZ 77";
        printer_ = EmulatedPrinter::Create(state);
        server_ = std::make_unique<qzm::emu::EmulatorServer>(root_.Path() + "/emu.sock",
                                                             std::vector{printer_});
        ASSERT_TRUE(server_->Start());
        environment_ = {"QZM480_ROOT=" + root_.Path(),
                        "QZM480_EMULATOR_SOCKET=" + root_.Path() + "/emu.sock",
                        "DEVICE_URI=ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%2077"};
    }
    void TearDown() override { server_->Stop(); }

    std::string StatusFile() const { return root_ / (qzm::test::kCacheFolder + "/Print_7.log"); }

    qzm::test::TempRoot root_;
    std::shared_ptr<EmulatedPrinter> printer_;
    std::unique_ptr<qzm::emu::EmulatorServer> server_;
    std::vector<std::string> environment_;
};

bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST_F(BackendProgramTest, DiscoveryListsThePrinter) {
    BackendProcess backend(root_.Path(), {}, environment_);
    EXPECT_EQ(backend.Wait(), CUPS_BACKEND_OK);
    EXPECT_EQ(backend.Out(),
              "direct ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ%2077 \"Orvane QZ-M480\" "
              "\"Orvane QZ-M480 USB QZ%2077\" \"MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;\" \"\"\n");
    EXPECT_EQ(backend.Err(), "");
}

TEST_F(BackendProgramTest, AJobArrivesWholeAndLeavesNoFileBehind) {
    BackendProcess backend(root_.Path(), {"7", "user", "title", "1", ""}, environment_);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(StatusFile()); }));
    const auto sheet = qzm::test::Sheet(100000, 5);
    backend.Write(sheet);
    backend.CloseInput();
    EXPECT_EQ(backend.Wait(), CUPS_BACKEND_OK);
    EXPECT_TRUE(qzm::test::SameBytes(qzm::test::ReceivedJobBytes(*printer_), sheet));
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_EQ(backend.Out(), "");
    std::istringstream lines(backend.Err());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.rfind("STATE: ", 0) == 0 || line.rfind("INFO: ", 0) == 0 ||
                    line.rfind("ATTR: ", 0) == 0)
            << line;
    }
}

TEST_F(BackendProgramTest, SigtermEndsTheJobAtOnceAndCleansUp) {
    BackendProcess backend(root_.Path(), {"7", "user", "title", "1", ""}, environment_);
    backend.Write(qzm::test::Sheet(100, 5));
    ASSERT_TRUE(WaitFor([&] { return printer_->Sheets().size() == 1; }));
    ASSERT_TRUE(fs::exists(StatusFile()));
    const auto start = std::chrono::steady_clock::now();
    backend.Signal(SIGTERM);
    EXPECT_EQ(backend.Wait(), CUPS_BACKEND_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_FALSE(printer_->InterfaceOpen());
}

}  // namespace
