// The Debian package: built with cpack into a scratch folder, then its file
// list, owners, modes, dependencies and maintainer scripts read back with
// dpkg-deb.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "Paths.h"
#include "Staging.h"

namespace fs = std::filesystem;
using qzm::test::RunShell;
using qzm::test::ScratchFolder;
using qzm::test::ShellQuote;

namespace {

// One line of "dpkg-deb -c": mode text, owner, and the link target if any.
struct Entry {
    std::string mode;
    std::string owner;
    std::string linkTarget;
};

class DebPackage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (::access("/usr/bin/dpkg-deb", X_OK) != 0 ||
            ::access("/usr/bin/dpkg-shlibdeps", X_OK) != 0) {
            skip_ = "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
            return;
        }
        folder_ = new ScratchFolder();
        // A QZM480_ROOT in the environment must not leak into the package.
        const int status = RunShell(
            "cd " + ShellQuote(folder_->Path()) + " && env QZM480_ROOT=/must-not-appear " +
                ShellQuote(QZM480_CPACK_COMMAND) + " -G DEB -B " + ShellQuote(folder_->Path()) +
                " --config " + ShellQuote(std::string(QZM480_BUILD_DIR) + "/CPackConfig.cmake"),
            &log_);
        for (const auto& entry : fs::directory_iterator(folder_->Path())) {
            if (entry.path().extension() == ".deb")
                deb_ = entry.path().string();
        }
        if (status != 0)
            deb_.clear();
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
        ASSERT_FALSE(deb_.empty()) << "cpack made no package:\n" << log_;
    }

    static std::map<std::string, Entry> Contents() {
        std::string listing;
        EXPECT_EQ(RunShell("dpkg-deb -c " + ShellQuote(deb_), &listing), 0) << listing;
        std::map<std::string, Entry> entries;
        std::istringstream lines(listing);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            Entry entry;
            std::string size, date, time, path, arrow;
            fields >> entry.mode >> entry.owner >> size >> date >> time >> path >> arrow >>
                entry.linkTarget;
            if (path.size() > 1 && path.starts_with("./"))
                path.erase(0, 1);
            if (path.size() > 1 && path.ends_with("/"))
                path.pop_back();
            entries[path] = entry;
        }
        return entries;
    }
    static std::string Field(const std::string& name) {
        std::string value;
        RunShell("dpkg-deb -f " + ShellQuote(deb_) + " " + name, &value);
        return value;
    }

    static ScratchFolder* folder_;
    static std::string deb_;
    static std::string log_;
    static std::string skip_;
};

ScratchFolder* DebPackage::folder_ = nullptr;
std::string DebPackage::deb_;
std::string DebPackage::log_;
std::string DebPackage::skip_;

void CheckContents(const std::map<std::string, Entry>& entries) {
    SCOPED_TRACE("file list");
    const std::map<std::string, std::string> files = {
        {qzm::paths::kPpd, "-rw-r--r--"},
        {qzm::paths::kProfileM480, "-rw-r--r--"},
        {qzm::paths::kProfileOV480, "-rw-r--r--"},
        {qzm::paths::kIcon, "-rw-r--r--"},
        {qzm::paths::kHelper, "-rwxr-xr-x"},
        {qzm::paths::kHelperPolicy, "-rw-r--r--"},
        {std::string(qzm::paths::kStatusUtility) + "/Contents/MacOS/StatusUtilityQZ-M480",
         "-rwxr-xr-x"},
        {std::string(qzm::paths::kStatusUtility) +
             "/Contents/Resources/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480",
         "-rwxr-xr-x"},
        {"/usr/lib/orvane-qzm480/UninstallQZ-M480.app/Contents/MacOS/UninstallQZ-M480",
         "-rwxr-xr-x"},
        {qzm::paths::kFilter, "-rwxr-xr-x"},
        {qzm::paths::kDaemon, "-rwxr-xr-x"},
        {qzm::paths::kDaemonUnit, "-rw-r--r--"},
    };
    for (const auto& [path, mode] : files) {
        const auto found = entries.find(path);
        ASSERT_NE(found, entries.end()) << path << " is not in the package";
        EXPECT_EQ(found->second.mode, mode) << path;
    }
    const auto link = entries.find(qzm::paths::kPpdModelLink);
    ASSERT_NE(link, entries.end());
    EXPECT_EQ(link->second.mode[0], 'l');
    EXPECT_EQ((fs::path(qzm::paths::kPpdModelLink).parent_path() / link->second.linkTarget)
                  .lexically_normal()
                  .string(),
              qzm::paths::kPpd);

    for (const auto& [path, entry] : entries) {
        EXPECT_EQ(entry.owner, "root/root") << path;
        EXPECT_EQ(path.find("must-not-appear"), std::string::npos) << path;
        EXPECT_FALSE(path.starts_with("/usr/local")) << path;
        if (entry.mode[0] == 'd') {
            EXPECT_EQ(entry.mode, "drwxr-xr-x") << path;
        }
        if (entry.mode[0] == '-') {
            EXPECT_EQ(entry.mode[5], '-') << path << " is writable by its group";
            EXPECT_EQ(entry.mode[8], '-') << path << " is writable by others";
        }
    }
}

// apt must pull in every run-time dependency on a fresh machine.
void CheckDepends(const std::string& depends) {
    SCOPED_TRACE("dependencies");
    for (const char* package :
         {"libc6", "libstdc++6", "libcups2", "libqt6core6", "libqt6widgets6", "liblcms2-2",
          "libusb-1.0-0", "cups (>= 2.4)", "cups-client", "pkexec", "qt6-qpa-plugins"}) {
        EXPECT_NE(depends.find(package), std::string::npos) << package << " missing in " << depends;
    }
}

// The maintainer scripts are executable shell scripts that parse.
void CheckScripts(const std::string& control) {
    SCOPED_TRACE("maintainer scripts");
    std::string output;
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        const std::string path = control + "/" + script;
        ASSERT_EQ(::access(path.c_str(), X_OK), 0) << script;
        output.clear();
        EXPECT_EQ(RunShell("sh -n " + ShellQuote(path), &output), 0) << script << ": " << output;
    }
}

// One package build serves every check: cpack takes a while.
TEST_F(DebPackage, FilesDependenciesAndMaintainerScripts) {
    CheckContents(Contents());
    EXPECT_EQ(Field("Package"), "orvane-qzm480\n");
    CheckDepends(Field("Depends"));
    const std::string control = folder_->Path() + "/control";
    std::string output;
    ASSERT_EQ(RunShell("dpkg-deb -e " + ShellQuote(deb_) + " " + ShellQuote(control), &output), 0)
        << output;
    CheckScripts(control);
}

}  // namespace
