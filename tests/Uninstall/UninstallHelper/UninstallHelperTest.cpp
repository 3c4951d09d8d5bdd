// The removal's order and rules on a populated temporary root.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include "HelperTree.h"

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;

const std::string kUnloadCall = "disable --now com.orvane.infoqzm480.service";

// Every folder the removal may take away, and its parents that must stay.
const char* const kOurFolders[] = {
    paths::kCacheParent,     paths::kFiltersFolder,           paths::kIconsFolder,
    paths::kUtilitiesFolder, paths::kStatusControllersFolder, paths::kOrvaneFolder,
};

TEST(UninstallHelperTest, NothingInstalledStillUnloadsAndReportsSuccess) {
    HelperTree tree;
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_EQ(tree.UnloadCalls(), std::vector<std::string>{kUnloadCall});
    EXPECT_FALSE(tree.Has("/Library"));
    EXPECT_FALSE(tree.Has("/usr"));
    EXPECT_FALSE(tree.Has("/etc"));
}

TEST(UninstallHelperTest, EverythingInstalledIsRemoved) {
    HelperTree tree;
    tree.InstallEverything();
    // Folders of the system that hold our files stay.
    tree.AddFile("/usr/share/cups/model/other.ppd");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));

    for (const std::string& file : qzm::test::InstalledFiles())
        EXPECT_FALSE(tree.Has(file)) << file;
    EXPECT_FALSE(tree.Has(paths::kPpdModelLink));
    EXPECT_FALSE(tree.Has(paths::kStatusUtility));
    EXPECT_FALSE(tree.Has(paths::kCacheFolder));
    for (const char* folder : kOurFolders)
        EXPECT_FALSE(tree.Has(folder)) << folder;
    EXPECT_TRUE(tree.Has(paths::ServerBin() + "/backend"));
    EXPECT_TRUE(tree.Has("/Library/ColorSync/Profiles"));
    EXPECT_TRUE(tree.Has("/Library/Printers/PPDs/Contents/Resources"));
    EXPECT_TRUE(tree.Has("/Library/Caches"));
    EXPECT_TRUE(tree.Has("/usr/share/cups/model/other.ppd"));
    EXPECT_TRUE(tree.Has("/etc/systemd/system"));
    EXPECT_EQ(tree.UnloadCalls(), std::vector<std::string>{kUnloadCall});
}

TEST(UninstallHelperTest, ForeignFilesKeepTheirFolders) {
    HelperTree tree;
    tree.InstallEverything();
    tree.AddFile("/Library/Caches/Orvane/QZ-M200/QZ-M200_1.log");
    tree.AddFile("/Library/Printers/Orvane/Filters/rastertoqzm200");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));

    // The stray file goes, the other product's cache and filter stay.
    EXPECT_FALSE(tree.Has(paths::kCacheStrayFile));
    EXPECT_FALSE(tree.Has(paths::kCacheFolder));
    EXPECT_TRUE(tree.Has("/Library/Caches/Orvane/QZ-M200/QZ-M200_1.log"));
    EXPECT_TRUE(tree.Has("/Library/Printers/Orvane/Filters/rastertoqzm200"));
    EXPECT_FALSE(tree.Has(paths::kFilter));
    // The empty siblings go; their parent still holds the kept folder.
    EXPECT_FALSE(tree.Has(paths::kIconsFolder));
    EXPECT_FALSE(tree.Has(paths::kUtilitiesFolder));
    EXPECT_FALSE(tree.Has(paths::kStatusControllersFolder));
    EXPECT_TRUE(tree.Has(paths::kOrvaneFolder));
}

TEST(UninstallHelperTest, EmptyOrvaneFolderGoesAfterItsFourSubfolders) {
    HelperTree tree;
    tree.AddFolder(paths::kFiltersFolder);
    tree.AddFolder(paths::kIconsFolder);
    tree.AddFolder(paths::kStatusControllersFolder);
    tree.AddFolder(paths::kUtilitiesFolder);
    // A hidden file counts as contents.
    tree.AddFile("/Library/Caches/Orvane/.hidden");

    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));

    EXPECT_FALSE(tree.Has(paths::kOrvaneFolder));
    EXPECT_TRUE(tree.Has("/Library/Printers"));
    EXPECT_TRUE(tree.Has("/Library/Caches/Orvane/.hidden"));
}

// Roots a tree that user nobody can change everywhere except where a test
// locks it, so that a removal that was attempted shows in the tree.
class UnprivilegedRemovalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run the removal as user nobody";
        tree_.InstallEverything();
        for (const auto& entry : qzm::test::fs::recursive_directory_iterator(tree_.Path())) {
            if (entry.is_directory(ec_) && !entry.is_symlink(ec_)) {
                ::chmod(entry.path().c_str(), 0777);
            }
        }
    }
    // The item at the designed path becomes a root-owned folder with a file
    // in it that nobody cannot remove.
    void Lock(const std::string& designed) {
        qzm::test::fs::remove_all(tree_ / designed);
        tree_.AddFile(designed + "/locked");
        ::chmod((tree_ / designed).c_str(), 0755);
    }
    std::optional<bool> Run() {
        const char* unload = tree_.UnloadProgram();
        return qzm::test::RunAsNobody([unload] { return qzm::uninstall::PerformRemoval(unload); });
    }
    void ExpectPresent(std::initializer_list<const char*> designed) {
        for (const char* path : designed)
            EXPECT_TRUE(tree_.Has(path)) << path;
    }

    HelperTree tree_;
    std::error_code ec_;
};

TEST_F(UnprivilegedRemovalTest, ProfileFailureStopsPackageAndServicesButNotUnload) {
    Lock(paths::kProfileM480);
    std::optional<bool> reply = Run();
    ASSERT_TRUE(reply.has_value()) << "could not run as user nobody";
    EXPECT_FALSE(*reply);

    EXPECT_FALSE(tree_.Has(paths::BackendPath()));
    EXPECT_FALSE(tree_.Has(paths::kProfileOV480)) << "the second profile must still be tried";
    ExpectPresent({paths::kProfileM480, paths::kPpd, paths::kPpdModelLink, paths::kFilter,
                   paths::kIcon, paths::kStatusUtility, paths::kCacheFolder});
    EXPECT_EQ(tree_.UnloadCalls(), std::vector<std::string>{kUnloadCall});
    ExpectPresent({paths::kDaemon, paths::kDaemonUnit, paths::kHelperPolicy, paths::kHelper,
                   paths::kCacheStrayFile});
}

TEST_F(UnprivilegedRemovalTest, PackageFailureStopsTheRestOfTheList) {
    Lock(paths::kFilter);
    std::optional<bool> reply = Run();
    ASSERT_TRUE(reply.has_value()) << "could not run as user nobody";
    EXPECT_FALSE(*reply);

    EXPECT_FALSE(tree_.Has(paths::kPpd));
    EXPECT_FALSE(tree_.Has(paths::kPpdModelLink));
    ExpectPresent({paths::kFilter, paths::kIcon, paths::kStatusUtility, paths::kCacheFolder,
                   paths::kDaemon, paths::kHelper, paths::kCacheStrayFile});
    EXPECT_EQ(tree_.UnloadCalls(), std::vector<std::string>{kUnloadCall});
}

TEST_F(UnprivilegedRemovalTest, ServicesFailureSkipsTheCleanUp) {
    Lock(paths::kDaemonUnit);
    std::optional<bool> reply = Run();
    ASSERT_TRUE(reply.has_value()) << "could not run as user nobody";
    EXPECT_FALSE(*reply);

    EXPECT_FALSE(tree_.Has(paths::kCacheFolder));
    EXPECT_FALSE(tree_.Has(paths::kDaemon));
    ExpectPresent({paths::kDaemonUnit, paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile,
                   paths::kIconsFolder});
}

}  // namespace
