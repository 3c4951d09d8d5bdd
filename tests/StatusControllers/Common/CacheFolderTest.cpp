#include "CacheFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "../../Support/TempRoot.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(CacheFolderTest, CreatesBothFoldersWorldWritable) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane"), 0777u);
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane/QZ-M480"), 0777u);
    EXPECT_EQ(ModeOf(root / "/Library/Caches"), 0755u);
}

TEST(CacheFolderTest, ExistingFoldersAreLeftAlone) {
    qzm::test::TempRoot root;
    fs::create_directories(root / "/Library/Caches/Orvane/QZ-M480");
    ::chmod((root / "/Library/Caches/Orvane").c_str(), 0750);
    ::chmod((root / "/Library/Caches/Orvane/QZ-M480").c_str(), 0700);
    CheckAndMake_CacheFolder();
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane"), 0750u);
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane/QZ-M480"), 0700u);
}

TEST(CacheFolderTest, SubFolderAloneNeedsTheParent) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheSubFolder();
    EXPECT_FALSE(fs::exists(root / "/Library/Caches/Orvane/QZ-M480"));
    fs::create_directories(root / "/Library/Caches/Orvane");
    CheckAndMake_CacheSubFolder();
    EXPECT_EQ(ModeOf(root / "/Library/Caches/Orvane/QZ-M480"), 0777u);
}

TEST(CacheFolderTest, ParentThatCannotBeMadeStopsEarly) {
    qzm::test::TempRoot root;
    // A file where a folder should be: nothing below it can be created.
    fs::create_directories(root / "/Library");
    { FILE* f = std::fopen((root / "/Library/Caches").c_str(), "w"); std::fclose(f); }
    CheckAndMake_CacheFolder();
    EXPECT_FALSE(fs::is_directory(root / "/Library/Caches/Orvane"));
}

}  // namespace
