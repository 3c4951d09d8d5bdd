// The infoqzm480 program itself: SIGINT, silence, and the diagnostic mode.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../../Support/TempRoot.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Starts the daemon with its output in files of root; its process id.
pid_t StartDaemon(const qzm::test::TempRoot& root, const char* argument = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (root / "/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (root / "/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(INFOQZM480), const_cast<char*>(argument), nullptr};
    pid_t pid = -1;
    const int started = posix_spawn(&pid, INFOQZM480, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

std::string Read(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(DaemonProgram, SigintEndsItAtOnceWithStatusZero) {
    qzm::test::TempRoot root;
    const pid_t pid = StartDaemon(root);
    ASSERT_GT(pid, 0);

    // The handler is in place before the cache folder is made. The folder
    // is made first and given its mode right after, so wait for both.
    const std::string folder = root / "/Library/Caches/Orvane/QZ-M480";
    std::error_code error;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fs::status(folder, error).permissions() != fs::perms::all) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            GTEST_SKIP() << "infoqzm480 ended by itself (status " << WEXITSTATUS(status)
                         << "): USB cannot be watched here";
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "infoqzm480 did not make its cache folder, open to everybody";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ASSERT_EQ(::kill(pid, SIGINT), 0);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(root / "/stdout"), "");
    EXPECT_EQ(Read(root / "/stderr"), "");
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST(DaemonProgram, OnceListsTheAttachedPrintersAndEnds) {
    qzm::test::TempRoot root;
    const pid_t pid = StartDaemon(root, "--once");
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) != 0) {
        GTEST_SKIP() << "USB cannot be watched here: " << Read(root / "/stdout");
    }
    const std::string out = Read(root / "/stdout");
    EXPECT_TRUE(out == "No QZ-M480 printer is attached.\n" || out.rfind("Printer 1: ", 0) == 0)
        << out;
    EXPECT_EQ(Read(root / "/stderr"), "");
    EXPECT_FALSE(fs::exists(root / "/Library")) << "the diagnostic mode writes nothing";
}

}  // namespace
