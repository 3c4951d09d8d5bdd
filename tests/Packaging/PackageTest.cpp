// The Debian package, built once by cpack and unpacked into a scratch root:
// every file with its mode and owner, the PPD and its link, cupstestppd, the
// icon, the dependencies and maintainer scripts; then the packaged uninstall
// helper, run on that root, removes exactly the package.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "../Support/TempRoot.h"
#include "Paths.h"
#include "Staging.h"

namespace fs = std::filesystem;
namespace paths = qzm::paths;
using qzm::test::RunShell;
using qzm::test::ShellQuote;

namespace {

constexpr char kUninstaller[] =
    "/usr/lib/orvane-qzm480/UninstallQZ-M480.app/Contents/MacOS/UninstallQZ-M480";
constexpr char kStatusEntry[] = "/usr/share/applications/com.orvane.StatusQZ-M480.desktop";
constexpr char kUninstallEntry[] = "/usr/share/applications/com.orvane.UninstallQZ-M480.desktop";

constexpr const char* kPrinterAppFiles[] = {
    "/usr/bin/qzm480-printer-app",
    "/usr/lib/systemd/system/qzm480-printer-app.service",
    "/usr/lib/sysusers.d/qzm480-printer-app.conf",
    "/usr/lib/tmpfiles.d/qzm480-printer-app.conf",
    "/usr/lib/udev/rules.d/70-qzm480-printer-app.rules",
};

struct File {
    std::string path;
    mode_t mode;
};

// Every file the package must install, with its mode: one row per file.
std::vector<File> Files() {
    const std::string status = std::string(paths::kStatusUtility) + "/Contents/";
    const std::string window = status + "Resources/StatusInfoQZ-M480.app/Contents/";
    std::vector<File> files = {
        {paths::kFilter, 0755},
        {paths::kDaemon, 0755},
        {paths::kDaemonUnit, 0644},
        {paths::kPpd, 0644},
        {paths::kProfileM480, 0644},
        {paths::kProfileOV480, 0644},
        {paths::kIcon, 0644},
        {paths::kHelper, 0755},
        {paths::kHelperPolicy, 0644},
        {status + "MacOS/StatusUtilityQZ-M480", 0755},
        {status + "MacOS/StatusChooserQZ-M480", 0755},
        {window + "MacOS/StatusInfoQZ-M480", 0755},
        {window + "Resources/StatusInfoQZ-M480.qm", 0644},
        {window + "Resources/PrtStsIdle.png", 0644},
        {kUninstaller, 0755},
        {kStatusEntry, 0644},
        {kUninstallEntry, 0644},
        {"/usr/share/icons/hicolor/256x256/apps/orvane-qzm480.png", 0644},
        {"/usr/share/icons/hicolor/scalable/apps/orvane-qzm480.svg", 0644},
    };
#if QZM480_HAS_BACKEND
    files.push_back({paths::BackendPath(), 0700});
#endif
    files.push_back({kPrinterAppFiles[0], 0755});
    for (const char* path : std::span(kPrinterAppFiles).subspan(1))
        files.push_back({path, 0644});
    return files;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = at; i < at + 4 && i < bytes.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// The package, built with a QZM480_ROOT in the environment that must not
// leak into it, and unpacked: one cpack run serves every test.
class DebPackage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (::access("/usr/bin/dpkg-deb", X_OK) != 0 ||
            ::access("/usr/bin/dpkg-shlibdeps", X_OK) != 0)
            return;
        const std::string dir = ShellQuote(folder_.Path());
        RunShell("cd " + dir + " && env QZM480_ROOT=/must-not-appear " +
                     ShellQuote(QZM480_CPACK_COMMAND) + " -G DEB -B " + dir + " --config " +
                     ShellQuote(std::string(QZM480_BUILD_DIR) + "/CPackConfig.cmake"),
                 &log_);
        for (const auto& entry : fs::directory_iterator(folder_.Path())) {
            if (entry.path().extension() == ".deb")
                deb_ = ShellQuote(entry.path());
        }
        if (!deb_.empty())
            RunShell("dpkg-deb -x " + deb_ + " " + ShellQuote(Root()), &log_);
    }
    void SetUp() override {
        if (::access("/usr/bin/dpkg-deb", X_OK) != 0)
            GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
        ASSERT_FALSE(deb_.empty()) << "cpack made no package:\n" << log_;
    }
    static std::string Root() { return folder_.Path() + "/root"; }
    static std::string At(const std::string& designed) { return Root() + designed; }

    static inline qzm::test::TempRoot folder_;  // its QZM480_ROOT must not leak into the package
    static inline std::string deb_, log_;
};

TEST_F(DebPackage, EveryFileHasItsModeAndOwnerAndNothingIsWritableByOthers) {
    for (const File& file : Files()) {
        struct stat info {};
        ASSERT_EQ(::lstat(At(file.path).c_str(), &info), 0) << file.path << " missing";
        EXPECT_TRUE(S_ISREG(info.st_mode)) << file.path;
        EXPECT_EQ(info.st_mode & 07777, file.mode) << file.path;
    }
    // CUPS refuses a filter or PPD below a folder that others may write to.
    for (const auto& [path, mode] : qzm::test::ListTree(Root())) {
        EXPECT_FALSE(path.starts_with("/usr/local") || path.starts_with("/must-not-appear"))
            << path;
        if (!S_ISLNK(mode)) {
            EXPECT_EQ(mode & (S_ISDIR(mode) ? 07777 : 022), S_ISDIR(mode) ? 0755u : 0u) << path;
        }
    }
    std::string listing;
    ASSERT_EQ(RunShell("dpkg-deb -c " + deb_, &listing), 0) << listing;
    std::istringstream lines(listing);
    for (std::string line, mode, owner; lines >> mode >> owner && std::getline(lines, line);)
        EXPECT_EQ(owner, "root/root") << line;
}

TEST_F(DebPackage, PpdIsTheBuiltOneLinkedIntoCupsModelFolderAndPassesCupstestppd) {
    EXPECT_EQ(ReadFile(At(paths::kPpd)).substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(ReadFile(At(paths::kPpd)), ReadFile(QZM480_PPD_GZ_FILE));
    // Relative, so it resolves to the PPD inside any root as on the system.
    const fs::path link = At(paths::kPpdModelLink);
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::read_symlink(link).is_relative());
    EXPECT_EQ(fs::canonical(link), fs::canonical(At(paths::kPpd)));
    std::string output;  // through the link: the very PPD, as CUPS reads it
    EXPECT_EQ(RunShell("cupstestppd -R " + ShellQuote(Root()) + " " + ShellQuote(link), &output), 0)
        << output;
}

// The icon is an ICNS file: "icns", the file length, then elements that each
// carry a PNG picture, among them the 256 and 512 pixel ones.
TEST_F(DebPackage, IconIsAnIcnsFileOfPngPictures) {
    const std::string icns = ReadFile(At(paths::kIcon));
    EXPECT_EQ(icns.substr(0, 4), "icns");
    EXPECT_EQ(BigEndian32(icns, 4), icns.size());
    std::set<std::string> types;
    for (size_t at = 8, length; at < icns.size(); at += length) {
        length = BigEndian32(icns, at + 4);
        ASSERT_TRUE(length >= 16 && at + length <= icns.size()) << at;
        types.insert(icns.substr(at, 4));
        EXPECT_EQ(icns.substr(at + 8, 8), "\x89PNG\r\n\x1a\n");
    }
    EXPECT_TRUE(types.count("ic08") && types.count("ic09") && types.count("icp4"));
}

TEST_F(DebPackage, ControlDependenciesAndMaintainerScripts) {
    std::string package, depends, output;
    RunShell("dpkg-deb -f " + deb_ + " Package", &package);
    EXPECT_EQ(package, "orvane-qzm480\n");
    // apt must pull in every run-time dependency on a fresh machine.
    RunShell("dpkg-deb -f " + deb_ + " Depends", &depends);
    for (const char* dependency :
         {"libc6", "libstdc++6", "libcups2", "libqt6core6", "libqt6widgets6", "liblcms2-2",
          "libusb-1.0-0", "cups (>= 2.4)", "cups-client", "pkexec", "qt6-qpa-plugins"}) {
        EXPECT_NE(depends.find(dependency), std::string::npos) << dependency << ": " << depends;
    }
    const std::string control = folder_.Path() + "/control";
    ASSERT_EQ(RunShell("dpkg-deb -e " + deb_ + " " + ShellQuote(control), &output), 0) << output;
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        const std::string path = control + "/" + script;
        EXPECT_EQ(::access(path.c_str(), X_OK), 0) << script;
        EXPECT_EQ(RunShell("sh -n " + ShellQuote(path), &output), 0) << script << ": " << output;
    }
}

// With the cache folder as the programs leave it and another printer's
// profile, the packaged helper (QZM480_ROOT on the root, a recording
// systemctl first on its PATH) leaves the folders shared with the system or
// other products, the other profile, and what it does not know about
// (uninstaller, menu entries, theme icons, the Printer Application and its
// unit, which dpkg removes with the package; the entries hide without their
// programs).
TEST_F(DebPackage, HelperRemovesExactlyThePackage) {
    const std::string root = folder_.Path() + "/removed";
    ASSERT_EQ(RunShell("cp -a " + ShellQuote(Root()) + " " + ShellQuote(root)), 0);
    fs::create_directories(root + paths::kCacheFolder);
    std::ofstream(root + paths::kCacheFolder + "/QZ-M480_A1%20B2.log") << "x";
    std::ofstream(root + paths::kCacheStrayFile) << "x";
    std::ofstream(root + paths::kProfileFolder + "other-printer.icc") << "x";
    const std::string tools = folder_.Path() + "/tools";
    fs::create_directories(tools);
    std::ofstream(tools + "/systemctl") << "#!/bin/sh\necho \"$@\" >> \"$0.args\"\n";
    fs::permissions(tools + "/systemctl", fs::perms::owner_all);

    std::string output;
    EXPECT_EQ(RunShell("echo '{\"Uninstall\":\"Uninstall\"}' | env QZM480_ROOT=" +
                           ShellQuote(root) + " PATH=" + ShellQuote(tools) + ":\"$PATH\" " +
                           ShellQuote(root + paths::kHelper),
                       &output),
              0);
    EXPECT_EQ(output, "{\"reply\":true}\n");
    EXPECT_EQ(ReadFile(tools + "/systemctl.args"), "disable --now com.orvane.infoqzm480.service\n");

    std::set<std::string> expected;
    auto keep = [&](fs::path path) {
        for (; path != "/"; path = path.parent_path())
            expected.insert(path.string());
    };
    for (const char* path : {kUninstaller, kStatusEntry, kUninstallEntry,
                             "/Library/ColorSync/Profiles/other-printer.icc", "/etc/systemd/system",
                             "/Library/Caches", "/Library/Printers/PPDs/Contents/Resources",
                             "/Library/PrivilegedHelperTools", "/usr/share/polkit-1/actions",
                             "/usr/share/cups/model/Library/Printers/PPDs/Contents/Resources"})
        keep(path);
    for (const char* size : {"32x32", "64x64", "128x128", "256x256"})
        keep(std::string("/usr/share/icons/hicolor/") + size + "/apps/orvane-qzm480.png");
    keep("/usr/share/icons/hicolor/scalable/apps/orvane-qzm480.svg");
    for (const char* path : kPrinterAppFiles)
        keep(path);
#if QZM480_HAS_BACKEND
    keep(fs::path(paths::BackendPath()).parent_path());
#endif
    std::set<std::string> remaining;
    for (const auto& entry : qzm::test::ListTree(root))
        remaining.insert(entry.first);
    EXPECT_EQ(remaining, expected);
}

}  // namespace
