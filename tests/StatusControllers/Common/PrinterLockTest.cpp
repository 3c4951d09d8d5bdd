// The per-printer lock against the operating system: another process, a
// holder that ends, the folder's rights, links.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "../../Support/TempRoot.h"
#include "DaemonTestSupport.h"
#include "PrinterLock.h"

namespace fs = std::filesystem;

namespace {

// Runs body in a child process and returns its exit status.
int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PrinterLock, ExcludesAnotherProcessUntilReleasedOrTheHolderEnds) {
    qzm::test::TempRoot root;
    PrinterLock lock("AB%2012");
    ASSERT_EQ(lock.TryLock(), PrinterLock::kLockTaken);
    EXPECT_EQ(lock.TryLock(), PrinterLock::kLockTaken);  // held already
    EXPECT_EQ(InChild([] { return PrinterLock("AB%2012").TryLock(); }), PrinterLock::kLockBusy);
    // Another printer's lock is free.
    EXPECT_EQ(InChild([] { return PrinterLock("OTHER").TryLock(); }), PrinterLock::kLockTaken);
    lock.Unlock();
    // The child takes the lock and ends without unlocking.
    EXPECT_EQ(InChild([] { return (new PrinterLock("AB%2012"))->TryLock(); }),
              PrinterLock::kLockTaken);
    EXPECT_EQ(lock.TryLock(), PrinterLock::kLockTaken);

    const std::string folder = root / kPrinterLockFolder;
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_EQ(qzm::test::ModeOf(folder), 0700u);
    EXPECT_EQ(qzm::test::ModeOf(folder + "/AB%2012.lock"), 0600u);
}

TEST(PrinterLock, RefusesUnsafeSerialsAndFoldersOthersControl) {
    qzm::test::TempRoot root;
    EXPECT_EQ(PrinterLock("../x").TryLock(), PrinterLock::kLockUnavailable);
    EXPECT_EQ(PrinterLock("").TryLock(), PrinterLock::kLockUnavailable);
    EXPECT_FALSE(fs::exists(root / "/run/x.lock"));

    const std::string folder = root / kPrinterLockFolder;
    fs::create_directories(root / "/elsewhere");
    fs::create_directories(root / "/run");
    fs::create_directory_symlink(root / "/elsewhere", folder);
    EXPECT_EQ(PrinterLock("S1").TryLock(), PrinterLock::kLockUnavailable);
    EXPECT_TRUE(fs::is_empty(root / "/elsewhere"));

    // Others may not write in the folder, nor its group unless the folder
    // is shared on purpose (set-group-ID and sticky): then the group reads locks.
    fs::remove(folder);
    fs::create_directory(folder);
    const std::pair<mode_t, mode_t> modes[] = {
        {0777, 0}, {0770, 0}, {02770, 0}, {0701, 0600}, {03770, 0640}};
    for (const auto& [folderMode, lockMode] : modes) {
        ::chmod(folder.c_str(), folderMode);
        fs::remove(folder + "/S1.lock");
        EXPECT_EQ(PrinterLock("S1").TryLock(),
                  lockMode ? PrinterLock::kLockTaken : PrinterLock::kLockUnavailable)
            << std::oct << folderMode;
        EXPECT_EQ(lockMode ? qzm::test::ModeOf(folder + "/S1.lock") : 0, lockMode);
    }
    // A folder another user owns, however closed (only root can give it away).
    ::chmod(folder.c_str(), 0700);
    if (::chown(folder.c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(PrinterLock("S2").TryLock(), PrinterLock::kLockUnavailable);
    }
}

}  // namespace
