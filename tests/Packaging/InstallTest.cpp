// Installation into a staging root: every designed path with its mode, the
// PPD's link in CUPS's model folder, cupstestppd on the installed PPD and
// filter, the icon file, and the uninstall helper removing exactly what was
// installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "Paths.h"
#include "Staging.h"

namespace fs = std::filesystem;
using qzm::test::ListTree;
using qzm::test::ScratchFolder;
using qzm::test::ShellQuote;

namespace {

constexpr char kStatusBundle[] = "/Library/Printers/Orvane/Utilities/StatusUtilityQZ-M480.app";
constexpr char kWindowBundle[] =
    "/Library/Printers/Orvane/Utilities/StatusUtilityQZ-M480.app/Contents/Resources/"
    "StatusInfoQZ-M480.app";
constexpr char kUninstaller[] =
    "/usr/lib/orvane-qzm480/UninstallQZ-M480.app/Contents/MacOS/UninstallQZ-M480";

std::vector<char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One staged installation through DESTDIR, shared by the tests that only read it.
class InstalledTree : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        stage_ = new ScratchFolder();
        std::string output;
        const int status =
            qzm::test::InstallBuild("DESTDIR=" + ShellQuote(stage_->Path()), &output);
        ASSERT_EQ(status, 0) << output;
    }
    static void TearDownTestSuite() {
        delete stage_;
        stage_ = nullptr;
    }
    static std::string At(const std::string& designed) { return stage_->Path() + designed; }

    static ScratchFolder* stage_;
};

ScratchFolder* InstalledTree::stage_ = nullptr;

struct Expected {
    std::string designed;
    mode_t mode;  // permission bits of a regular file
};

std::vector<Expected> DesignedFiles() {
    std::vector<Expected> files = {
        {qzm::paths::kFilter, 0755},
        {qzm::paths::kDaemon, 0755},
        {qzm::paths::kDaemonUnit, 0644},
        {qzm::paths::kPpd, 0644},
        {qzm::paths::kProfileM480, 0644},
        {qzm::paths::kProfileOV480, 0644},
        {qzm::paths::kIcon, 0644},
        {qzm::paths::kHelper, 0755},
        {qzm::paths::kHelperPolicy, 0644},
        {std::string(kStatusBundle) + "/Contents/MacOS/StatusUtilityQZ-M480", 0755},
        {std::string(kStatusBundle) + "/Contents/MacOS/StatusChooserQZ-M480", 0755},
        {std::string(kWindowBundle) + "/Contents/MacOS/StatusInfoQZ-M480", 0755},
        {std::string(kWindowBundle) + "/Contents/Resources/StatusInfoQZ-M480.qm", 0644},
        {std::string(kWindowBundle) + "/Contents/Resources/PrtStsIdle.png", 0644},
        {kUninstaller, 0755},
        {"/usr/share/applications/com.orvane.StatusQZ-M480.desktop", 0644},
        {"/usr/share/applications/com.orvane.UninstallQZ-M480.desktop", 0644},
        {"/usr/share/icons/hicolor/256x256/apps/orvane-qzm480.png", 0644},
        {"/usr/share/icons/hicolor/scalable/apps/orvane-qzm480.svg", 0644},
    };
#if QZM480_HAS_BACKEND
    files.push_back({qzm::paths::BackendPath(), 0700});
#endif
    return files;
}

TEST_F(InstalledTree, EveryDesignedFileHasItsModeAndEveryFolderIsClosedToOthers) {
    for (const auto& file : DesignedFiles()) {
        struct stat info {};
        ASSERT_EQ(::lstat(At(file.designed).c_str(), &info), 0) << file.designed << " missing";
        EXPECT_TRUE(S_ISREG(info.st_mode)) << file.designed;
        EXPECT_EQ(info.st_mode & 07777, file.mode) << file.designed;
        EXPECT_EQ(info.st_uid, ::getuid()) << file.designed;
    }
    // CUPS refuses a filter or PPD below a folder that others may write to.
    for (const auto& [path, mode] : ListTree(stage_->Path())) {
        if (S_ISDIR(mode)) {
            EXPECT_EQ(mode & 07777, 0755u) << path;
        } else if (!S_ISLNK(mode)) {
            EXPECT_EQ(mode & 022, 0u) << path << " is writable by others";
        }
    }
}

TEST_F(InstalledTree, PpdIsCompressedAndLinkedIntoCupsModelFolder) {
    const auto ppd = ReadBytes(At(qzm::paths::kPpd));
    ASSERT_GE(ppd.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(ppd[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(ppd[1]), 0x8b);
    EXPECT_EQ(ppd, ReadBytes(QZM480_PPD_GZ_FILE));

    const fs::path link = At(qzm::paths::kPpdModelLink);
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::read_symlink(link).is_relative());
    // Relative, so it resolves to the PPD inside the stage as on the system.
    EXPECT_EQ(fs::canonical(link), fs::canonical(At(qzm::paths::kPpd)));
}

TEST_F(InstalledTree, CupstestppdAcceptsTheInstalledPpdAndFilter) {
    if (::access("/usr/bin/cupstestppd", X_OK) != 0) {
        GTEST_SKIP() << "cupstestppd is not installed";
    }
    for (const char* designed : {qzm::paths::kPpd, qzm::paths::kPpdModelLink}) {
        std::string output;
        const int status = qzm::test::RunShell(
            "cupstestppd -R " + ShellQuote(stage_->Path()) + " " + ShellQuote(At(designed)),
            &output);
        EXPECT_EQ(status, 0) << designed << ":\n" << output;
        EXPECT_NE(output.find("PASS"), std::string::npos) << output;
    }
}

// The icon is an ICNS file: "icns", the file length, then elements that each
// carry a PNG picture, among them the 256 and 512 pixel ones.
TEST_F(InstalledTree, IconIsAnIcnsFileOfPngPictures) {
    const auto icns = ReadBytes(At(qzm::paths::kIcon));
    ASSERT_GE(icns.size(), 8u);
    auto be32 = [&](size_t at) {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i)
            value = (value << 8) | static_cast<unsigned char>(icns[at + i]);
        return value;
    };
    EXPECT_EQ(std::string(icns.data(), 4), "icns");
    EXPECT_EQ(be32(4), icns.size());
    std::set<std::string> types;
    for (size_t at = 8; at < icns.size();) {
        ASSERT_LE(at + 8, icns.size());
        const uint32_t length = be32(at + 4);
        ASSERT_GE(length, 16u);
        ASSERT_LE(at + length, icns.size());
        types.insert(std::string(icns.data() + at, 4));
        EXPECT_EQ(std::string(icns.data() + at + 8, 8), "\x89PNG\r\n\x1a\n");
        at += length;
    }
    EXPECT_TRUE(types.count("ic08") && types.count("ic09") && types.count("icp4"));
}

// QZM480_ROOT stages exactly like DESTDIR, and both together nest.
TEST_F(InstalledTree, Qzm480RootStagesLikeDestdir) {
    ScratchFolder other;
    std::string output;
    ASSERT_EQ(
        qzm::test::InstallBuild(
            "DESTDIR=" + ShellQuote(other.Path()) + " QZM480_ROOT=/root-of-programs", &output),
        0)
        << output;
    EXPECT_EQ(ListTree(other.Path() + "/root-of-programs"), ListTree(stage_->Path()));
}

// A staged installation, the cache folder as the programs leave it, a file of
// another product; then the installed helper with QZM480_ROOT on the stage and
// a recording systemctl first on its PATH.
TEST(UninstallAfterInstall, HelperRemovesExactlyThePackage) {
    ScratchFolder stage;
    ScratchFolder tools;
    const std::string root = stage.Path();
    std::string output;
    ASSERT_EQ(qzm::test::InstallBuild("QZM480_ROOT=" + ShellQuote(root), &output), 0) << output;

    fs::create_directories(root + qzm::paths::kCacheFolder);
    std::ofstream(root + qzm::paths::kCacheFolder + std::string("/QZ-M480_A1%20B2.log")) << "x";
    std::ofstream(root + qzm::paths::kCacheStrayFile) << "x";
    std::ofstream(root + qzm::paths::kProfileFolder + std::string("other-printer.icc")) << "x";

    const std::string record = tools.Path() + "/systemctl.args";
    std::ofstream(tools.Path() + "/systemctl") << "#!/bin/sh\necho \"$@\" >> " << record << "\n";
    fs::permissions(tools.Path() + "/systemctl", fs::perms::owner_all);

    output.clear();
    const int status = qzm::test::RunShell(
        "echo '{\"Uninstall\":\"Uninstall\"}' | env QZM480_ROOT=" + ShellQuote(root) + " PATH=" +
            ShellQuote(tools.Path()) + ":\"$PATH\" " + ShellQuote(root + qzm::paths::kHelper),
        &output);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "{\"reply\":true}\n");
    std::ifstream recorded(record);
    std::string arguments;
    std::getline(recorded, arguments);
    EXPECT_EQ(arguments, "disable --now com.orvane.infoqzm480.service");

    // What stays: folders shared with the system or other products, the
    // foreign profile, and what the helper does not know about (uninstaller,
    // menu entries, theme icons), whose menu entries hide without their
    // programs.
    std::set<std::string> expected = {
        "/etc",
        "/etc/systemd",
        "/etc/systemd/system",
        "/Library",
        "/Library/Caches",
        "/Library/ColorSync",
        "/Library/ColorSync/Profiles",
        "/Library/ColorSync/Profiles/other-printer.icc",
        "/Library/Printers",
        "/Library/Printers/PPDs",
        "/Library/Printers/PPDs/Contents",
        "/Library/Printers/PPDs/Contents/Resources",
        "/Library/PrivilegedHelperTools",
        "/usr",
        "/usr/lib",
        "/usr/lib/orvane-qzm480",
        "/usr/lib/orvane-qzm480/UninstallQZ-M480.app",
        "/usr/lib/orvane-qzm480/UninstallQZ-M480.app/Contents",
        "/usr/lib/orvane-qzm480/UninstallQZ-M480.app/Contents/MacOS",
        kUninstaller,
        "/usr/share",
        "/usr/share/applications",
        "/usr/share/applications/com.orvane.StatusQZ-M480.desktop",
        "/usr/share/applications/com.orvane.UninstallQZ-M480.desktop",
        "/usr/share/cups",
        "/usr/share/cups/model",
        "/usr/share/cups/model/Library",
        "/usr/share/cups/model/Library/Printers",
        "/usr/share/cups/model/Library/Printers/PPDs",
        "/usr/share/cups/model/Library/Printers/PPDs/Contents",
        "/usr/share/cups/model/Library/Printers/PPDs/Contents/Resources",
        "/usr/share/icons",
        "/usr/share/icons/hicolor",
        "/usr/share/polkit-1",
        "/usr/share/polkit-1/actions"};
    for (const char* size : {"32x32", "64x64", "128x128", "256x256", "scalable"}) {
        const std::string folder = std::string("/usr/share/icons/hicolor/") + size;
        expected.insert(folder);
        expected.insert(folder + "/apps");
        expected.insert(folder + "/apps/orvane-qzm480." +
                        (size == std::string("scalable") ? "svg" : "png"));
    }
#if QZM480_HAS_BACKEND
    for (fs::path folder = fs::path(qzm::paths::BackendPath()).parent_path(); folder != "/";
         folder = folder.parent_path()) {
        expected.insert(folder.string());
    }
#endif
    std::set<std::string> remaining;
    for (const auto& entry : ListTree(root))
        remaining.insert(entry.first);
    EXPECT_EQ(remaining, expected);
}

}  // namespace
