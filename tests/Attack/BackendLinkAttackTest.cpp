// Links planted in the world-writable cache folder against the backend, which
// CUPS runs as root: the job's print-status file is put in place beside a
// planted link, never written through it, and never removed through a link
// standing in for the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../Support/TempRoot.h"
#include "CacheFolder.h"
#include "Paths.h"
#include "PrintStatusFile.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class BackendLinkAttackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CheckAndMake_CacheFolder();
        fs::create_directories(victimFolder_);
        std::ofstream(victim_) << "precious";
    }

    std::string Cache() const { return root_ / qzm::paths::kCacheFolder; }
    std::string StatusFile() const { return Cache() + "/Print_42.log"; }

    qzm::test::TempRoot root_;
    const std::string victimFolder_ = root_ / "/etc";
    const std::string victim_ = victimFolder_ + "/shadow";
};

TEST_F(BackendLinkAttackTest, PlantedLinksAtThePrintStatusFileAreReplacedNotFollowed) {
    // A symbolic link, then a hard link, planted where the job's file goes.
    for (const bool symbolic : {true, false}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        fs::remove(StatusFile());
        if (symbolic) {
            fs::create_symlink(victim_, StatusFile());
        } else {
            fs::create_hard_link(victim_, StatusFile());
        }
        {
            PrintStatusFile file("42");
            ASSERT_TRUE(file.Write("01200"));
            struct stat info {};
            ASSERT_EQ(::lstat(StatusFile().c_str(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ(info.st_nlink, 1u);
            EXPECT_EQ(ReadText(StatusFile()), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(StatusFile())));
        EXPECT_EQ(ReadText(victim_), "precious");
    }
}

TEST_F(BackendLinkAttackTest, FolderSwappedForALinkDuringTheJobLosesNothing) {
    std::ofstream(victimFolder_ + "/Print_42.log") << "precious";
    PrintStatusFile file("42");
    ASSERT_TRUE(file.Write("01200"));
    // While the job runs, somebody swaps the folder for a link to another.
    fs::remove_all(Cache());
    fs::create_directory_symlink(victimFolder_, Cache());
    file.Remove();
    EXPECT_EQ(ReadText(victimFolder_ + "/Print_42.log"), "precious");

    // The next job writes nothing through the link either.
    PrintStatusFile next("43");
    EXPECT_FALSE(next.Write("01200"));
    EXPECT_FALSE(fs::exists(victimFolder_ + "/Print_43.log"));
}

TEST_F(BackendLinkAttackTest, JobIdsThatAreNotNumbersNameNoFile) {
    for (const char* id : {"../../etc/shadow", "1/2", "", "12345678901", "4 2", "-1"}) {
        PrintStatusFile file(id);
        EXPECT_FALSE(file.Write("01200")) << id;
    }
    EXPECT_EQ(ReadText(victim_), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(Cache()), fs::directory_iterator()), 0);
}

}  // namespace
