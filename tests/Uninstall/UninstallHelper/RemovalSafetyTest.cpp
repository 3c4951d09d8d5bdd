// Links planted at or inside designed paths never lead the removal out of
// them: the helper runs as root.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include "HelperTree.h"

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;

// A folder outside the package standing in for the rest of the system.
class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_.InstallEverything();
        tree_.AddFile("/victim/dir/keep.txt");
        tree_.AddFile("/victim/file.txt");
        victimDir_ = tree_ / "/victim/dir";
        victimFile_ = tree_ / "/victim/file.txt";
    }
    void ExpectVictimIntact() {
        EXPECT_TRUE(tree_.Has("/victim/dir/keep.txt"));
        EXPECT_TRUE(tree_.Has("/victim/file.txt"));
    }
    void Replace(const std::string& designed, const std::string& target) {
        qzm::test::fs::remove_all(tree_ / designed);
        tree_.AddLink(target, designed);
    }

    HelperTree tree_;
    std::string victimDir_;
    std::string victimFile_;
};

TEST_F(LinkTest, LinksAtDesignedPathsAreRemovedAsLinks) {
    Replace(paths::BackendPath(), victimFile_);
    Replace(paths::kProfileM480, victimFile_);
    Replace(paths::kStatusUtility, victimDir_);
    Replace(paths::kCacheFolder, victimDir_);
    Replace(paths::kCacheStrayFile, victimDir_);
    Replace(paths::kHelper, victimFile_);

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));

    EXPECT_FALSE(tree_.Has(paths::BackendPath()));
    EXPECT_FALSE(tree_.Has(paths::kProfileM480));
    EXPECT_FALSE(tree_.Has(paths::kStatusUtility));
    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
    EXPECT_FALSE(tree_.Has(paths::kCacheStrayFile));
    EXPECT_FALSE(tree_.Has(paths::kHelper));
    ExpectVictimIntact();
}

TEST_F(LinkTest, LinksInsideRemovedFoldersAreRemovedAsLinks) {
    tree_.AddLink(victimDir_, std::string(paths::kCacheFolder) + "/QZ-M480_X_UTIL");
    tree_.AddLink(victimFile_, std::string(paths::kCacheFolder) + "/deep/er/file.log");
    tree_.AddLink(victimDir_, std::string(paths::kStatusUtility) + "/Contents/Linked");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));

    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
    EXPECT_FALSE(tree_.Has(paths::kStatusUtility));
    ExpectVictimIntact();
}

TEST_F(LinkTest, LinkAboveADesignedPathFailsWithoutReachingThrough) {
    // The victim looks like the package's folder; nothing in it may go.
    tree_.AddFile("/victim/Orvane/Filters/rastertoqzm480");
    qzm::test::fs::remove_all(tree_ / paths::kOrvaneFolder);
    tree_.AddLink(tree_ / "/victim/Orvane", paths::kOrvaneFolder);

    EXPECT_FALSE(qzm::uninstall::PerformRemoval(tree_.UnloadProgram()));

    EXPECT_TRUE(tree_.Has("/victim/Orvane/Filters/rastertoqzm480"));
    EXPECT_TRUE(tree_.Has(paths::kOrvaneFolder));
    ExpectVictimIntact();
}

}  // namespace
