// A temporary root populated like an installed package, with a stand-in for
// the unload program that records how it was called.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "Paths.h"

namespace qzm::test {

namespace fs = std::filesystem;

// Every file the package installs, as designed paths.
inline std::vector<std::string> InstalledFiles() {
    using namespace qzm::paths;
    const std::string app = kStatusUtility;
    return {BackendPath(),
            kProfileM480,
            kProfileOV480,
            kPpd,
            kFilter,
            kIcon,
            app + "/Contents/MacOS/StatusUtilityQZ-M480",
            app + "/Contents/Resources/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480",
            std::string(kCacheFolder) + "/QZ-M480_SN%201.log",
            kDaemon,
            kDaemonUnit,
            kHelperPolicy,
            kHelper,
            kCacheStrayFile};
}

class HelperTree {
  public:
    HelperTree() : record_(root_ / "/rec/unload.txt"), unload_(root_ / "/rec/unload.sh") {
        ::chmod(root_.Path().c_str(), 0755);  // readable by others, as system folders are
        AddFile("/rec/unload.txt", "");
        ::chmod(record_.c_str(), 0666);
        // Records its arguments and where its standard streams lead.
        AddFile("/rec/unload.sh",
                "#!/bin/sh\nfd() { readlink /proc/$$/fd/$1; }\necho \"$*\" "
                "$(fd 0) $(fd 1) $(fd 2) >> '" +
                    record_ + "'\n");
        ::chmod(unload_.c_str(), 0755);
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
        AddLink(qzm::paths::kPpd, qzm::paths::kPpdModelLink);
    }
    // True when anything, a dangling link too, stands at the designed path.
    bool Has(const std::string& designed) const {
        struct stat st {};
        return ::lstat((*this / designed).c_str(), &st) == 0;
    }
    // Every unload call so far, one line each: its arguments, then where its
    // standard input, output and error lead.
    std::vector<std::string> UnloadCalls() const {
        std::ifstream in(record_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

  private:
    TempRoot root_;
    std::string record_;
    std::string unload_;
};

// Runs `fn` in a child process as user nobody. Returns its result, or
// nothing when the child could not take that identity.
inline std::optional<bool> RunAsNobody(const std::function<bool()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

}  // namespace qzm::test
