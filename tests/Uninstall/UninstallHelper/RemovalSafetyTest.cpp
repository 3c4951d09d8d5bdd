// Links planted at or inside designed paths never lead the removal out of
// them: the helper runs as root.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include "HelperTree.h"

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;

// A folder outside the package stands in for the rest of the system.
class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_.InstallEverything();
        tree_.AddFile("/victim/dir/keep.txt");
        tree_.AddFile("/victim/file.txt");
    }
    void TearDown() override {
        EXPECT_TRUE(tree_.Has("/victim/dir/keep.txt"));
        EXPECT_TRUE(tree_.Has("/victim/file.txt"));
    }
    HelperTree tree_;
    const std::string dir_ = tree_ / "/victim/dir";
    const std::string file_ = tree_ / "/victim/file.txt";
};

TEST_F(LinkTest, LinksAtAndInsideDesignedPathsAreRemovedAsLinks) {
    const std::vector<std::pair<std::string, std::string>> links = {
        {paths::BackendPath(), file_},
        {paths::kProfileM480, file_},
        {paths::kStatusUtility, dir_},
        {paths::kCacheStrayFile, dir_},
        {paths::kHelper, file_},
        {std::string(paths::kCacheFolder) + "/QZ-M480_X_UTIL", dir_},
        {std::string(paths::kCacheFolder) + "/deep/er/file.log", file_},
    };
    for (const auto& [designed, target] : links)
        tree_.AddLink(target, designed);

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));
    for (const auto& link : links)
        EXPECT_FALSE(tree_.Has(link.first)) << link.first;
    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
}

TEST_F(LinkTest, CacheFolderReplacedByALinkIsRemovedAsALink) {
    tree_.AddLink(dir_, paths::kCacheFolder);
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));
    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
}

TEST_F(LinkTest, LinkAboveADesignedPathFailsWithoutReachingThrough) {
    // The target looks like the package's folder; nothing in it may go.
    tree_.AddFile("/victim/Orvane/Filters/rastertoqzm480");
    tree_.AddLink(tree_ / "/victim/Orvane", paths::kOrvaneFolder);

    EXPECT_FALSE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));
    EXPECT_TRUE(tree_.Has("/victim/Orvane/Filters/rastertoqzm480"));
    EXPECT_TRUE(tree_.Has(paths::kOrvaneFolder));
}

}  // namespace
