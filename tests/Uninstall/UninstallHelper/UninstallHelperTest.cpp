// The uninstall helper on a staged tree: its request and reply, what the
// removal takes and leaves, its order when a step fails, and links planted
// at or above the designed paths (it runs as root).
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include <sstream>

#include "HelperTree.h"

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;
namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

// Nothing the unload program prints can be taken for the reply.
const Paths kOneUnload = {
    "disable --now com.orvane.infoqzm480.service /dev/null /dev/null /dev/null"};

// Any non-blank line is a request; without one nothing is removed.
TEST(UninstallHelperTest, AnyNonBlankLineIsARequest) {
    const std::pair<const char*, bool> cases[] = {
        {"{\"Uninstall\":\"Uninstall\"}\n", true}, {"{}\n{}\n", true}, {"please", true},
        {"\n \t\r\v\f\n{\"Uninstall\":1}\n", true}, {"", false}, {"\n  \n\r\v\f\n", false}};
    for (const auto& [input, request] : cases) {
        HelperTree tree;
        tree.InstallEverything();
        std::istringstream in(input);
        std::ostringstream out;
        EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram()), request ? 0 : 1);
        EXPECT_EQ(out.str(), request ? "{\"reply\":true}\n" : "") << input;
        EXPECT_EQ(tree.Has(paths::kFilter), !request) << input;
        EXPECT_EQ(tree.UnloadCalls().size(), request ? 1u : 0u) << input;
    }
}

TEST(UninstallHelperTest, RemovesThePackageFoldersOnlyWhenEmpty) {
    HelperTree tree;
    // Nothing installed: still unloads, makes nothing, succeeds.
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_EQ(tree.UnloadCalls(), kOneUnload);
    EXPECT_FALSE(tree.Has("/Library"));
    // A file where a folder of the package belongs: nothing lies below it.
    tree.AddFile(paths::kOrvaneFolder);
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    fs::remove(tree / paths::kOrvaneFolder);

    tree.InstallEverything();
    const Paths others = {"/usr/share/cups/model/other.ppd",
                          "/Library/Caches/Orvane/QZ-M200/QZ-M200_1.log",
                          "/Library/Printers/Orvane/Icons/.hidden"};
    for (const std::string& other : others)
        tree.AddFile(other);
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_EQ(tree.UnloadCalls().size(), 3u);
    Paths gone = qzm::test::InstalledFiles();
    gone.insert(gone.end(), {paths::kPpdModelLink, paths::kStatusUtility, paths::kFiltersFolder,
                             paths::kStatusControllersFolder, paths::kUtilitiesFolder});
    for (const std::string& path : gone)
        EXPECT_FALSE(tree.Has(path)) << path;
    // Other products' files keep their folders; the system's folders stay.
    Paths kept = {paths::ServerBin() + "/backend", paths::kProfileFolder, paths::kCacheParent,
                  paths::kIconsFolder, "/Library/Printers/PPDs/Contents/Resources"};
    kept.insert(kept.end(), others.begin(), others.end());
    for (const std::string& path : kept)
        EXPECT_TRUE(tree.Has(path)) << path;

    fs::remove(tree / "/Library/Printers/Orvane/Icons/.hidden");
    fs::remove_all(tree / "/Library/Caches/Orvane/QZ-M200");
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_FALSE(tree.Has(paths::kOrvaneFolder));
    EXPECT_FALSE(tree.Has(paths::kCacheParent));
    EXPECT_TRUE(tree.Has("/Library/Printers"));
    EXPECT_TRUE(tree.Has("/Library/Caches"));
    // Without the root folder itself there is nothing to remove either.
    for (const char* root : {"/nowhere", "/rec/unload.txt"}) {
        ::setenv("QZM480_ROOT", (tree / root).c_str(), 1);
        EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram())) << root;
    }
}

// A folder outside the package stands in for the rest of the system: it
// must stay whole whatever links point at it.
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
    const std::string cache = paths::kCacheFolder;
    const std::vector<std::pair<std::string, std::string>> links = {
        {paths::BackendPath(), file_},
        {paths::kProfileM480, file_},
        {paths::kStatusUtility, dir_},
        {paths::kCacheStrayFile, dir_},
        {paths::kHelper, file_},
        {cache + "/QZ-M480_X_UTIL", dir_},
        {cache + "/deep/er/file.log", file_}};
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
    std::istringstream in("{\"Uninstall\":\"Uninstall\"}\n");
    std::ostringstream out;
    EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree_.UnloadProgram()), 0);
    EXPECT_EQ(out.str(), "{\"reply\":false}\n");
    EXPECT_TRUE(tree_.Has("/victim/Orvane/Filters/rastertoqzm480"));
    EXPECT_TRUE(tree_.Has(paths::kOrvaneFolder));
}

// One designed path that user nobody cannot remove, in a tree where any
// other removal shows: the steps before it are done, the unload always runs,
// and the steps of a failed list after it are not. The path is locked as a
// root's folder holding a file, or by the root's folder it stands in.
struct LockCase {
    const char* name;
    const char* locked;
    bool byParent;
    Paths gone;
    Paths kept;
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class UnprivilegedRemovalTest : public ::testing::TestWithParam<LockCase> {};

TEST_P(UnprivilegedRemovalTest, FailureStopsItsListButNotTheUnload) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the removal as user nobody";
    HelperTree tree;
    tree.InstallEverything();
    for (const auto& entry : fs::recursive_directory_iterator(tree.Path())) {
        if (entry.is_directory() && !entry.is_symlink())
            ::chmod(entry.path().c_str(), 0777);
    }
    const std::string locked = tree / GetParam().locked;
    if (!GetParam().byParent) {
        fs::remove_all(locked);
        tree.AddFile(GetParam().locked + std::string("/locked"));
    }
    ::chmod((GetParam().byParent ? fs::path(locked).parent_path() : fs::path(locked)).c_str(),
            0755);

    const char* unload = tree.UnloadProgram();
    const auto reply =
        qzm::test::RunAsNobody([unload] { return qzm::uninstall::PerformRemoval(unload); });
    ASSERT_TRUE(reply.has_value()) << "could not run as user nobody";
    EXPECT_FALSE(*reply);
    EXPECT_EQ(tree.UnloadCalls(), kOneUnload);
    for (const std::string& path : GetParam().gone)
        EXPECT_FALSE(tree.Has(path)) << path;
    for (const std::string& path : GetParam().kept)
        EXPECT_TRUE(tree.Has(path)) << path;
}

INSTANTIATE_TEST_SUITE_P(
    Locks, UnprivilegedRemovalTest,
    ::testing::Values(
        // Both profiles are tried; the package and services lists are not.
        LockCase{"Profile",
                 paths::kProfileM480,
                 false,
                 {paths::BackendPath(), paths::kProfileOV480},
                 {paths::kPpd, paths::kPpdModelLink, paths::kFilter, paths::kIcon,
                  paths::kStatusUtility, paths::kCacheFolder, paths::kDaemon, paths::kDaemonUnit,
                  paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile}},
        // A folder emptied but not removed fails the package list.
        LockCase{"Package",
                 paths::kStatusUtility,
                 true,
                 {paths::kProfileOV480, paths::kFilter, paths::kIcon,
                  std::string(paths::kStatusUtility) + "/Contents"},
                 {paths::kStatusUtility, paths::kCacheFolder, paths::kDaemon, paths::kHelper}},
        // The services list stops; the stray file and empty folders stay.
        LockCase{"Services",
                 paths::kDaemonUnit,
                 true,
                 {paths::kCacheFolder, paths::kDaemon},
                 {paths::kDaemonUnit, paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile,
                  paths::kIconsFolder}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
