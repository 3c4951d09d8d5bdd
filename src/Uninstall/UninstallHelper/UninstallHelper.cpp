#include "UninstallHelper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <istream>
#include <ostream>
#include <string>

#include "Paths.h"
#include "SafeRemove.h"

extern char** environ;

namespace qzm::uninstall {

namespace {

const char* const kProfileNames[] = {"M480_0100.icc", "ov-480-mac-251126-5.icc"};

// Package files, in removal order. The PPD's link in CUPS's model folder
// goes right after the PPD itself.
const char* const kPackageList[] = {
    qzm::paths::kPpd,  qzm::paths::kPpdModelLink,  qzm::paths::kFilter,
    qzm::paths::kIcon, qzm::paths::kStatusUtility, qzm::paths::kCacheFolder,
};

// The daemon and its unit go after the unload; the helper's own policy file
// and executable are the last two entries.
const char* const kServicesList[] = {
    qzm::paths::kDaemon,
    qzm::paths::kDaemonUnit,
    qzm::paths::kHelperPolicy,
    qzm::paths::kHelper,
};

// Removed only when empty, each after the folders inside it.
const char* const kFolderList[] = {
    qzm::paths::kCacheParent,     qzm::paths::kFiltersFolder,
    qzm::paths::kIconsFolder,     qzm::paths::kStatusControllersFolder,
    qzm::paths::kUtilitiesFolder, qzm::paths::kOrvaneFolder,
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool deleteFiles(std::string_view designed) {
    return RemoveItem(designed);
}

bool deleteProfiles() {
    bool ok = true;
    for (const char* name : kProfileNames) {
        std::string path = qzm::paths::kProfileFolder;
        path += name;
        if (!RemoveItem(path))
            ok = false;
    }
    return ok;
}

void UnloadDaemon(const char* program) {
    char arg0[] = "systemctl";
    char arg1[] = "disable";
    char arg2[] = "--now";
    std::string unit = qzm::paths::kDaemonUnitName;
    char* argv[] = {arg0, arg1, arg2, unit.data(), nullptr};

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool PerformRemoval(const char* unloadProgram) {
    bool ok = deleteFiles(qzm::paths::BackendPath());
    if (ok)
        ok = deleteProfiles();

    for (const char* path : kPackageList) {
        if (!ok)
            break;
        ok = deleteFiles(path);
    }

    // Whatever happened so far: the daemon must stop before its files go.
    UnloadDaemon(unloadProgram);

    for (const char* path : kServicesList) {
        if (!ok)
            break;
        ok = deleteFiles(path);
    }

    if (!ok)
        return false;
    deleteFiles(qzm::paths::kCacheStrayFile);
    for (const char* folder : kFolderList)
        RemoveFolderIfEmpty(folder);
    return true;
}

bool ReadRequest(std::istream& in) {
    // Read character by character so that a long line costs no memory.
    bool content = false;
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
        if (c == '\n') {
            if (content)
                return true;
        } else if (!IsBlank(static_cast<char>(c))) {
            content = true;
        }
    }
    return content;
}

int HandleRequest(std::istream& in, std::ostream& out, const char* unloadProgram) {
    if (!ReadRequest(in))
        return 1;
    bool reply = PerformRemoval(unloadProgram);
    out << (reply ? "{\"reply\":true}" : "{\"reply\":false}") << '\n' << std::flush;
    return 0;
}

}  // namespace qzm::uninstall
