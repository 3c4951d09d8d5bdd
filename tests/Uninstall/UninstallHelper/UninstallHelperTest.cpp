// The removal's order and rules on a populated temporary root.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include "HelperTree.h"

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;
namespace fs = qzm::test::fs;

const std::vector<std::string> kOneUnload = {"disable --now com.orvane.infoqzm480.service"};

TEST(UninstallHelperTest, NothingInstalledStillUnloadsAndReportsSuccess) {
    HelperTree tree;
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_EQ(tree.UnloadCalls(), kOneUnload);
    EXPECT_FALSE(tree.Has("/Library"));
}

TEST(UninstallHelperTest, EverythingInstalledIsRemoved) {
    HelperTree tree;
    tree.InstallEverything();
    tree.AddFile("/usr/share/cups/model/other.ppd");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));

    for (const std::string& file : qzm::test::InstalledFiles())
        EXPECT_FALSE(tree.Has(file)) << file;
    for (const char* gone :
         {paths::kPpdModelLink, paths::kStatusUtility, paths::kCacheParent, paths::kOrvaneFolder}) {
        EXPECT_FALSE(tree.Has(gone)) << gone;
    }
    // The system's folders that held our files stay.
    for (std::string kept : {paths::ServerBin() + "/backend", std::string(paths::kProfileFolder),
                             std::string("/Library/Printers/PPDs/Contents/Resources"),
                             std::string("/usr/share/cups/model/other.ppd")}) {
        EXPECT_TRUE(tree.Has(kept)) << kept;
    }
    EXPECT_EQ(tree.UnloadCalls(), kOneUnload);
}

TEST(UninstallHelperTest, FoldersGoOnlyWhenEmptyInnermostFirst) {
    HelperTree tree;
    tree.InstallEverything();
    tree.AddFile("/Library/Caches/Orvane/QZ-M200/QZ-M200_1.log");
    tree.AddFile("/Library/Printers/Orvane/Icons/.hidden");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));

    // Another product's cache keeps the cache folder; the stray file goes.
    EXPECT_FALSE(tree.Has(paths::kCacheStrayFile));
    EXPECT_TRUE(tree.Has("/Library/Caches/Orvane/QZ-M200/QZ-M200_1.log"));
    // A hidden file keeps its folder, and so the Orvane folder.
    EXPECT_FALSE(tree.Has(paths::kFiltersFolder));
    EXPECT_TRUE(tree.Has("/Library/Printers/Orvane/Icons/.hidden"));

    fs::remove(tree / "/Library/Printers/Orvane/Icons/.hidden");
    tree.AddFile(paths::kFilter);
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_FALSE(tree.Has(paths::kOrvaneFolder));
    EXPECT_TRUE(tree.Has("/Library/Printers"));
}

// A tree that user nobody may change everywhere except where a test locks
// it, so that any removal the helper attempted shows in the tree.
class UnprivilegedRemovalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run the removal as user nobody";
        tree_.InstallEverything();
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(tree_.Path())) {
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                ::chmod(entry.path().c_str(), 0777);
        }
    }
    // Makes the designed path a root-owned folder holding a file nobody cannot remove.
    void Lock(const std::string& designed) {
        fs::remove_all(tree_ / designed);
        tree_.AddFile(designed + "/locked");
        ::chmod((tree_ / designed).c_str(), 0755);
    }
    bool Run() {
        const char* unload = tree_.UnloadProgram();
        auto reply =
            qzm::test::RunAsNobody([unload] { return qzm::uninstall::PerformRemoval(unload); });
        EXPECT_TRUE(reply.has_value()) << "could not run as user nobody";
        return reply.value_or(true);
    }
    void ExpectPresent(std::initializer_list<const char*> designed) {
        for (const char* path : designed)
            EXPECT_TRUE(tree_.Has(path)) << path;
    }

    HelperTree tree_;
};

TEST_F(UnprivilegedRemovalTest, ProfileFailureStopsPackageAndServicesButNotUnload) {
    Lock(paths::kProfileM480);
    EXPECT_FALSE(Run());

    EXPECT_FALSE(tree_.Has(paths::BackendPath()));
    EXPECT_FALSE(tree_.Has(paths::kProfileOV480)) << "the second profile must still be tried";
    ExpectPresent({paths::kPpd, paths::kPpdModelLink, paths::kFilter, paths::kIcon,
                   paths::kStatusUtility, paths::kCacheFolder});
    EXPECT_EQ(tree_.UnloadCalls(), kOneUnload);
    ExpectPresent({paths::kDaemon, paths::kDaemonUnit, paths::kHelperPolicy, paths::kHelper,
                   paths::kCacheStrayFile});
}

TEST_F(UnprivilegedRemovalTest, ServicesFailureStopsTheListAndSkipsTheCleanUp) {
    Lock(paths::kDaemonUnit);
    EXPECT_FALSE(Run());

    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
    EXPECT_FALSE(tree_.Has(paths::kDaemon));
    // Left: the rest of the list, the stray file and the emptied folders.
    ExpectPresent(
        {paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile, paths::kIconsFolder});
}

}  // namespace
