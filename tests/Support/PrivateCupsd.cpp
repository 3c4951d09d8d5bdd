#include "PrivateCupsd.h"

#include <cups/cups.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qzm::test {

namespace fs = std::filesystem;

namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr char kLpadmin[] = "/usr/sbin/lpadmin";
constexpr char kSystemServerBin[] = "/usr/lib/cups";
constexpr char kSystemDataDir[] = "/usr/share/cups";

// Runs a program with its output thrown away; returns its exit status, or
// -1 when it could not run. With wait false, returns its process id.
int Spawn(const std::vector<std::string>& arguments, bool wait) {
    std::vector<char*> argv;
    for (const auto& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    if (!wait) {
        return pid;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool WriteFile(const fs::path& path, const std::string& text, fs::perms mode) {
    std::ofstream(path) << text;
    std::error_code ec;
    fs::permissions(path, mode, ec);
    return !ec && fs::exists(path);
}

bool CanConnect(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// Points this process's CUPS client (and children) at server; keeps the old
// value for RestoreServer.
void PointAt(const std::string& server, std::string& old, bool& hadOld) {
    const char* current = std::getenv("CUPS_SERVER");
    hadOld = current != nullptr;
    old = current ? current : "";
    ::setenv("CUPS_SERVER", server.c_str(), 1);
    cupsSetServer(server.c_str());
}

void RestoreServer(const std::string& old, bool hadOld) {
    if (hadOld) {
        ::setenv("CUPS_SERVER", old.c_str(), 1);
    } else {
        ::unsetenv("CUPS_SERVER");
    }
    // Back to the default, read afresh from the environment.
    cupsSetServer(nullptr);
}

}  // namespace

PrivateCupsd::PrivateCupsd() {
    std::string pattern = (fs::temp_directory_path() / "qzm480-cupsd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        folder_ = pattern;
        ::chmod(folder_.c_str(), 0755);
        socket_ = folder_ + "/cups.sock";
    }
}

PrivateCupsd::~PrivateCupsd() {
    Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

bool PrivateCupsd::AddBackend(const std::string& scheme) {
    // Queues are never printed to; the backend only has to exist.
    return WriteFile(fs::path(folder_) / "bin/backend" / scheme, "#!/bin/sh\nexit 0\n",
                     fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec);
}

bool PrivateCupsd::AddModel(const std::string& name, const std::string& file) {
    const fs::path target = fs::path(folder_) / "data/model" / name;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::copy_file(file, target, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool PrivateCupsd::Start() {
    if (folder_.empty()) {
        error_ = "cannot make a temporary folder";
        return false;
    }
    if (::access(kCupsd, X_OK) != 0 || ::access(kLpadmin, X_OK) != 0) {
        error_ = "cupsd or lpadmin is not installed";
        return false;
    }
    if (socket_.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error_ = "the temporary folder's path is too long for a Unix socket";
        return false;
    }
    const fs::path root(folder_);
    std::error_code ec;
    for (const char* sub : {"bin/backend", "spool", "cache", "state", "log"}) {
        fs::create_directories(root / sub, ec);
    }
    fs::permissions(root / "spool", fs::perms::all | fs::perms::sticky_bit, ec);
    // Everything but the backends comes from the system's program folder.
    for (const char* sub : {"cgi-bin", "daemon", "filter", "monitor", "notifier", "driver"}) {
        const fs::path system = fs::path(kSystemServerBin) / sub;
        if (fs::exists(system)) {
            fs::create_directory_symlink(system, root / "bin" / sub, ec);
        }
    }
    // The system's data files, but a model folder of our own.
    fs::create_directories(root / "data/model", ec);
    if (fs::exists(kSystemDataDir)) {
        for (const auto& entry : fs::directory_iterator(kSystemDataDir, ec)) {
            if (entry.path().filename() != "model") {
                fs::create_symlink(entry.path(), root / "data" / entry.path().filename(), ec);
            }
        }
    }
    if (!AddBackend("ovbackend")) {
        error_ = "cannot write the stand-in backend";
        return false;
    }

    std::string user;
    if (::geteuid() == 0) {
        // cupsd runs its helpers as an unprivileged user.
        user = "User lp\nGroup lp\nSystemGroup root\n";
    } else {
        const group* g = ::getgrgid(::getegid());
        user = std::string("SystemGroup ") + (g ? g->gr_name : "root") + "\n";
    }
    WriteFile(root / "cupsd.conf",
              "Listen " + socket_ +
                  "\nLogLevel warn\nBrowsing No\n<Location />\n  Order allow,deny\n"
                  "  Allow all\n</Location>\n",
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    WriteFile(root / "cups-files.conf",
              "ServerRoot " + folder_ + "\nServerBin " + folder_ + "/bin\nRequestRoot " + folder_ +
                  "/spool\nTempDir " + folder_ + "/spool\nCacheDir " + folder_ +
                  "/cache\nStateDir " + folder_ + "/state\nErrorLog " + folder_ +
                  "/log/error_log\nAccessLog " + folder_ + "/log/access_log\nPageLog " + folder_ +
                  "/log/page_log\nDataDir " + folder_ + "/data\n" + user,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    pid_ = Spawn({kCupsd, "-f", "-c", folder_ + "/cupsd.conf", "-s", folder_ + "/cups-files.conf"},
                 false);
    if (pid_ < 0) {
        error_ = "cannot start cupsd";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!CanConnect(socket_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "cupsd ended at start (see its configuration in " + folder_ + ")";
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            error_ = "cupsd did not open its socket";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    PointAt(socket_, oldServer_, hadOldServer_);
    return true;
}

void PrivateCupsd::Stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    RestoreServer(oldServer_, hadOldServer_);
}

bool PrivateCupsd::RunLpadmin(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{kLpadmin};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const bool ok = Spawn(command, true) == 0;
    // Drop the cached connection, so the next request sees the change.
    cupsSetServer(socket_.c_str());
    return ok;
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& deviceUri,
                            const std::string& info) {
    std::vector<std::string> arguments{"-p", name, "-v", deviceUri};
    if (!info.empty()) {
        arguments.insert(arguments.end(), {"-D", info});
    }
    arguments.push_back("-E");
    return RunLpadmin(arguments);
}

bool PrivateCupsd::SetInfo(const std::string& name, const std::string& info) {
    return RunLpadmin({"-p", name, "-D", info});
}

bool PrivateCupsd::DeleteQueue(const std::string& name) {
    return RunLpadmin({"-x", name});
}

UnreachableCupsServer::UnreachableCupsServer() {
    PointAt("/nonexistent/qzm480-no-cupsd.sock", oldServer_, hadOldServer_);
}

UnreachableCupsServer::~UnreachableCupsServer() {
    RestoreServer(oldServer_, hadOldServer_);
}

}  // namespace qzm::test
