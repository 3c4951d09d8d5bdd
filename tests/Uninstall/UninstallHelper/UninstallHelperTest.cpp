// The uninstall helper on a staged tree: its request and reply, what the
// removal takes and leaves, its order when a step fails, and links planted
// at or above the designed paths (it runs as root).
#include "UninstallHelper.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "../../Support/TempRoot.h"
#include "Paths.h"
#include "SafeRemove.h"

namespace {

namespace paths = qzm::paths;
namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

// Every file the package installs, as designed paths.
Paths InstalledFiles() {
    const std::string app = paths::kStatusUtility;
    return {paths::BackendPath(),
            paths::kProfileM480,
            paths::kProfileOV480,
            paths::kPpd,
            paths::kFilter,
            paths::kIcon,
            app + "/Contents/MacOS/StatusUtilityQZ-M480",
            app + "/Contents/Resources/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480",
            std::string(paths::kCacheFolder) + "/QZ-M480_SN%201.log",
            paths::kDaemon,
            paths::kDaemonUnit,
            paths::kHelperPolicy,
            paths::kHelper,
            paths::kCacheStrayFile};
}

// A temporary root populated like an installed package, with a stand-in for
// the unload program that records its arguments and where its standard
// streams lead, one line per call.
class HelperTree {
  public:
    HelperTree() {
        ::chmod(root_.Path().c_str(), 0755);  // readable by others, as system folders are
        AddFile("/rec/unload.txt", "");
        ::chmod((root_ / "/rec/unload.txt").c_str(), 0666);
        AddFile("/rec/unload.sh",
                "#!/bin/sh\nfd() { readlink /proc/$$/fd/$1; }\necho \"$*\" "
                "$(fd 0) $(fd 1) $(fd 2) >> '" +
                    root_ / "/rec/unload.txt" + "'\n");
        ::chmod(UnloadProgram(), 0755);
    }
    std::string operator/(const std::string& designed) const { return root_ / designed; }
    const std::string& Path() const { return root_.Path(); }
    const char* UnloadProgram() const { return unload_.c_str(); }
    void AddFile(const std::string& designed, const std::string& text = "x") {
        fs::create_directories(fs::path(*this / designed).parent_path());
        std::ofstream(*this / designed) << text;
    }
    void AddLink(const std::string& target, const std::string& designed) {
        fs::remove_all(*this / designed);
        fs::create_directories(fs::path(*this / designed).parent_path());
        fs::create_symlink(target, *this / designed);
    }
    // Every file, and the PPD's link in CUPS's model folder.
    void InstallEverything() {
        for (const std::string& file : InstalledFiles())
            AddFile(file);
        AddLink(paths::kPpd, paths::kPpdModelLink);
    }
    // True when anything, a dangling link too, stands at the designed path.
    bool Has(const std::string& designed) const {
        struct stat st {};
        return ::lstat((*this / designed).c_str(), &st) == 0;
    }
    Paths UnloadCalls() const {
        std::ifstream in(root_ / "/rec/unload.txt");
        Paths lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

  private:
    qzm::test::TempRoot root_;
    const std::string unload_ = root_ / "/rec/unload.sh";
};

// Nothing the unload program prints can be taken for the reply.
const Paths kOneUnload = {
    "disable --now com.orvane.infoqzm480.service /dev/null /dev/null /dev/null"};

// Any non-blank line is a request; without one nothing is removed.
TEST(UninstallHelperTest, AnyNonBlankLineIsARequest) {
    const std::pair<const char*, bool> cases[] = {
        {"{\"Uninstall\":\"Uninstall\"}\n", true},  {"{}\n{}\n", true}, {"please", true},
        {"\n \t\r\v\f\n{\"Uninstall\":1}\n", true}, {"", false},        {"\n  \n\r\v\f\n", false}};
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
    // Every folder opened on the way is closed again.
    const auto openFds = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto fds = openFds();
    EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram()));
    EXPECT_EQ(openFds(), fds);
    EXPECT_EQ(tree.UnloadCalls().size(), 3u);
    Paths gone = InstalledFiles();
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
    for (const char* path : {paths::kOrvaneFolder, paths::kCacheParent})
        EXPECT_FALSE(tree.Has(path)) << path;
    EXPECT_TRUE(tree.Has("/Library/Printers") && tree.Has("/Library/Caches"));
    // Without the root folder itself there is nothing to remove either.
    for (const char* root : {"/nowhere", "/rec/unload.txt"}) {
        ::setenv("QZM480_ROOT", (tree / root).c_str(), 1);
        EXPECT_TRUE(qzm::uninstall::PerformRemoval(tree.UnloadProgram())) << root;
    }
}

// A folder outside the package stands in for the rest of the system: it
// stays whole whatever links point at it. Links at and inside designed
// paths are removed as links; a link above a designed path fails the
// removal without reaching through.
TEST(UninstallHelperTest, LinksAreRemovedAsLinksAndNeverFollowed) {
    const std::string cache = paths::kCacheFolder;
    const std::vector<std::pair<std::string, const char*>> links = {
        {paths::BackendPath(), "/victim/file.txt"},
        {paths::kProfileM480, "/victim/file.txt"},
        {paths::kStatusUtility, "/victim/dir"},
        {paths::kCacheStrayFile, "/victim/dir"},
        {paths::kHelper, "/victim/file.txt"},
        {cache + "/QZ-M480_X_UTIL", "/victim/dir"},
        {cache + "/deep/er/file.log", "/victim/file.txt"}};
    for (const bool above : {false, true}) {
        HelperTree tree;
        tree.InstallEverything();
        tree.AddFile("/victim/dir/keep.txt");
        tree.AddFile("/victim/file.txt");
        if (!above) {
            for (const auto& [designed, target] : links)
                tree.AddLink(tree / target, designed);
        } else {
            // The target looks like the package's folder; nothing in it may go.
            tree.AddFile("/victim/Orvane/Filters/rastertoqzm480");
            tree.AddLink(tree / "/victim/Orvane", paths::kOrvaneFolder);
        }
        std::istringstream in("{\"Uninstall\":\"Uninstall\"}\n");
        std::ostringstream out;
        EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram()), 0);
        EXPECT_EQ(out.str(), above ? "{\"reply\":false}\n" : "{\"reply\":true}\n");
        for (const auto& link : links)
            EXPECT_FALSE(!above && tree.Has(link.first)) << link.first;
        EXPECT_EQ(tree.Has(paths::kCacheFolder), above);
        // A designed path that climbs back up is refused as well.
        EXPECT_FALSE(qzm::uninstall::RemoveItem("/victim/../victim/file.txt"));
        for (const char* kept : {"/victim/dir/keep.txt", "/victim/file.txt"})
            EXPECT_TRUE(tree.Has(kept)) << above;
        if (above) {
            EXPECT_TRUE(tree.Has("/victim/Orvane/Filters/rastertoqzm480") &&
                        tree.Has(paths::kOrvaneFolder));
        }
    }
}

// Runs `fn` in a child process once `enter` has set the child up. Returns
// its result, or nothing when `enter` failed.
std::optional<bool> RunInChild(const std::function<bool()>& enter,
                               const std::function<bool()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(!enter() ? 3 : fn() ? 0 : 1);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

// A file system mounted at a designed folder is not entered: what it holds
// stays, and the removal fails before the services list.
TEST(UninstallHelperTest, MountsAreNotEntered) {
    HelperTree tree;
    tree.InstallEverything();
    const std::string mount = tree / paths::kCacheFolder, kept = mount + "/kept";
    const auto mounted = [&] {  // in a private mount namespace, gone with the child
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("qzm", mount.c_str(), "tmpfs", 0, nullptr) == 0 &&
               !!(std::ofstream(kept) << "x");
    };
    const char* unload = tree.UnloadProgram();
    const auto reply = RunInChild(
        mounted, [&] { return !qzm::uninstall::PerformRemoval(unload) && fs::exists(kept); });
    if (!reply)
        GTEST_SKIP() << "cannot mount a file system here";
    EXPECT_TRUE(*reply);
    EXPECT_TRUE(tree.Has(paths::kCacheFolder) && tree.Has(paths::kDaemon));
}

// One designed path that user nobody cannot remove, in a tree where any
// other removal shows: the steps before it are done, the unload always runs,
// and the steps of a failed list after it are not. The path is locked as a
// root's folder holding a file, or by the root's folder it stands in, with
// the mode given.
struct LockCase {
    const char* name;
    const char* locked;
    bool byParent;
    mode_t mode;
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
            GetParam().mode);

    const char* unload = tree.UnloadProgram();
    const auto nobody = [] {
        return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
    };
    const auto reply =
        RunInChild(nobody, [unload] { return qzm::uninstall::PerformRemoval(unload); });
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
                 0755,
                 {paths::BackendPath(), paths::kProfileOV480},
                 {paths::kPpd, paths::kPpdModelLink, paths::kFilter, paths::kIcon,
                  paths::kStatusUtility, paths::kCacheFolder, paths::kDaemon, paths::kDaemonUnit,
                  paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile}},
        // A folder emptied but not removed fails the package list.
        LockCase{"Package",
                 paths::kStatusUtility,
                 true,
                 0755,
                 {paths::kProfileOV480, paths::kFilter, paths::kIcon,
                  std::string(paths::kStatusUtility) + "/Contents"},
                 {paths::kStatusUtility, paths::kCacheFolder, paths::kDaemon, paths::kHelper}},
        // The services list stops; the stray file and empty folders stay.
        LockCase{"Services",
                 paths::kDaemonUnit,
                 true,
                 0755,
                 {paths::kCacheFolder, paths::kDaemon},
                 {paths::kDaemonUnit, paths::kHelperPolicy, paths::kHelper, paths::kCacheStrayFile,
                  paths::kIconsFolder}},
        // A folder that cannot be opened, or looked into, fails as well.
        LockCase{"Unreadable", paths::kProfileM480, false, 0700, {}, {paths::kPpd}},
        LockCase{"Unsearchable", paths::kHelperPolicy, true, 0744, {}, {paths::kHelper}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
