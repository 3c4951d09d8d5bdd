// Links planted in the world-writable cache folder, or standing in for it,
// are never followed by the root programs: the daemon's request scan and
// information file, and the uninstall helper.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../Support/TempRoot.h"
#include "../Uninstall/UninstallHelper/HelperTree.h"
#include "AttackSupport.h"
#include "CacheFolder.h"
#include "InfoFile.h"
#include "Paths.h"
#include "ThreadData.h"
#include "UninstallHelper.h"

namespace {

namespace fs = std::filesystem;
namespace paths = qzm::paths;

void Touch(const std::string& path, const std::string& text = "precious") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(LinkAttackTest, CacheFolderReplacedByALinkIsNotScannedOrWritten) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    // Another user's folder holding files named like requests.
    const std::string victim = root / "/home/victim";
    Touch(victim + "/QZ-M480_S1_TC_UTIL");
    Touch(victim + "/QZ-M480_S1_START_UTIL");
    const std::string cache = root / paths::kCacheFolder;
    fs::remove_all(cache);
    fs::create_directory_symlink(victim, cache);

    EXPECT_EQ(pdeFileCheck("S1"), 0);
    WriteFile("S1");
    EXPECT_EQ(qzm::test::Tree(victim),
              (std::set<std::string>{"QZ-M480_S1_TC_UTIL", "QZ-M480_S1_START_UTIL"}));
}

TEST(LinkAttackTest, HelperRemovesLinksAtTheCacheFilesNotTheirTargets) {
    qzm::test::HelperTree tree;
    tree.InstallEverything();
    tree.AddFile("/victim/file.txt");
    tree.AddFile("/victim/dir/keep.txt");
    const std::string cache = paths::kCacheFolder;
    const std::string links[] = {
        cache + "/QZ-M480_S1.log",        cache + "/QZ-M480_S1_UTIL", cache + "/QZ-M480_S1_TC_UTIL",
        cache + "/QZ-M480_S1_START_UTIL", cache + "/Print_12.log",    cache + "/Print_13.log",
    };
    for (size_t i = 0; i < std::size(links); ++i) {
        tree.AddLink(tree / (i % 2 ? "/victim/dir" : "/victim/file.txt"), links[i]);
    }
    std::istringstream request("{\"Uninstall\":\"Uninstall\"}\n");
    std::ostringstream reply;
    EXPECT_EQ(qzm::uninstall::HandleRequest(request, reply, tree.UnloadProgram()), 0);
    EXPECT_EQ(reply.str(), "{\"reply\":true}\n");
    for (const std::string& link : links) {
        EXPECT_FALSE(tree.Has(link)) << link;
    }
    EXPECT_TRUE(tree.Has("/victim/file.txt"));
    EXPECT_TRUE(tree.Has("/victim/dir/keep.txt"));
}

}  // namespace
