#include "PrivateCupsd.h"

#include <cups/cups.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qzm::test {

namespace fs = std::filesystem;

namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr char kLpadmin[] = "/usr/sbin/lpadmin";
constexpr fs::perms kPublic = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;

// Starts a program with its output thrown away; returns its process id, or -1.
pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

bool WriteFile(const fs::path& path, const std::string& text, fs::perms mode) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream(path) << text;
    fs::permissions(path, mode, ec);
    return !ec;
}

bool CanConnect(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// Points this process's CUPS client (and children) at server, keeping the old
// value.
void PointAt(const std::string& server, std::string& old, bool& hadOld) {
    const char* current = std::getenv("CUPS_SERVER");
    hadOld = current != nullptr;
    old = current ? current : "";
    ::setenv("CUPS_SERVER", server.c_str(), 1);
    cupsSetServer(server.c_str());
}

void RestoreServer(const std::string& old, bool hadOld) {
    hadOld ? ::setenv("CUPS_SERVER", old.c_str(), 1) : ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);  // back to the default, read afresh from the environment
}

}  // namespace

PrivateCupsd::PrivateCupsd() {
    std::string pattern = (fs::temp_directory_path() / "qzm480-cupsd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        folder_ = pattern;
        fs::permissions(folder_, kPublic);
        socket_ = folder_ + "/cups.sock";
    }
}

PrivateCupsd::~PrivateCupsd() {
    Stop();
    std::error_code ignored;
    if (!folder_.empty())
        fs::remove_all(folder_, ignored);
}

bool PrivateCupsd::AddBackend(const std::string& scheme) {
    // Queues are never printed to; the backend only has to exist.
    return WriteFile(fs::path(folder_) / "bin/backend" / scheme, "#!/bin/sh\nexit 0\n", kPublic);
}

bool PrivateCupsd::AddModel(const std::string& name, const std::string& file) {
    const fs::path target = fs::path(folder_) / "data/model" / name;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::copy_file(file, target, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool PrivateCupsd::InstallBackend(const std::string& scheme, const std::string& program) {
    const fs::path target = fs::path(folder_) / "bin/backend" / scheme;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::copy_file(program, target, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::permissions(target, fs::perms::owner_all, ec);
    return !ec;
}

void PrivateCupsd::SetEnv(const std::string& name, const std::string& value) {
    environment_.emplace_back(name, value);
}

std::string PrivateCupsd::ErrorLog() const {
    std::ifstream in(fs::path(folder_) / "log/error_log");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool PrivateCupsd::Start() {
    if (folder_.empty() || ::access(kCupsd, X_OK) != 0 || ::access(kLpadmin, X_OK) != 0) {
        error_ = "no temporary folder, or cupsd or lpadmin is not installed";
        return false;
    }
    if (socket_.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error_ = "the temporary folder's path is too long for a Unix socket";
        return false;
    }
    const fs::path root(folder_);
    std::error_code ec;
    for (const char* sub : {"bin", "spool", "cache", "state", "log", "data/model"})
        fs::create_directories(root / sub, ec);
    fs::permissions(root / "spool", fs::perms::all | fs::perms::sticky_bit, ec);
    // The system's programs but the backends, its data files but the models.
    for (const char* sub : {"cgi-bin", "daemon", "filter", "monitor", "notifier", "driver"}) {
        if (fs::exists(fs::path("/usr/lib/cups") / sub))
            fs::create_directory_symlink(fs::path("/usr/lib/cups") / sub, root / "bin" / sub, ec);
    }
    for (const auto& entry : fs::directory_iterator("/usr/share/cups", ec)) {
        if (entry.path().filename() != "model")
            fs::create_symlink(entry.path(), root / "data" / entry.path().filename(), ec);
    }
    if (!fs::exists(root / "bin/backend/ovbackend") && !AddBackend("ovbackend")) {
        error_ = "cannot write the stand-in backend";
        return false;
    }

    // As root, cupsd runs its helpers as an unprivileged user.
    const group* g = ::getgrgid(::getegid());
    std::string conf = ::geteuid() == 0
                           ? "User lp\nGroup lp\nSystemGroup root\n"
                           : std::string("SystemGroup ") + (g ? g->gr_name : "root") + "\n";
    for (const auto& [name, value] : environment_)
        conf += "SetEnv " + name + " " + value + "\n";
    conf += "ServerRoot " + folder_ + "\nServerBin " + folder_ + "/bin\nRequestRoot " + folder_ +
            "/spool\nTempDir " + folder_ + "/spool\nCacheDir " + folder_ + "/cache\nStateDir " +
            folder_ + "/state\nErrorLog " + folder_ + "/log/error_log\nAccessLog " + folder_ +
            "/log/access_log\nPageLog " + folder_ + "/log/page_log\nDataDir " + folder_ + "/data\n";
    const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    WriteFile(root / "cups-files.conf", conf, readable);
    WriteFile(root / "cupsd.conf",
              "Listen " + socket_ + "\nLogLevel " + logLevel_ +
                  "\nBrowsing No\n<Location />\n  Order allow,deny\n  Allow "
                  "all\n</Location>\n",
              readable);

    pid_ = Spawn({kCupsd, "-f", "-c", folder_ + "/cupsd.conf", "-s", folder_ + "/cups-files.conf"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && !CanConnect(socket_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
        } else if (std::chrono::steady_clock::now() > deadline) {
            Stop();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ <= 0) {
        error_ =
            "cupsd did not start or open its socket (see its configuration in " + folder_ + ")";
        return false;
    }
    PointAt(socket_, oldServer_, hadOldServer_);
    return true;
}

void PrivateCupsd::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    RestoreServer(oldServer_, hadOldServer_);
}

bool PrivateCupsd::RunLpadmin(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kLpadmin);
    const pid_t pid = Spawn(arguments);
    int status = -1;
    const bool ok = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    // Drop the cached connection, so the next request sees the change.
    cupsSetServer(socket_.c_str());
    return ok;
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& deviceUri,
                            const std::string& info) {
    if (info.empty())
        return RunLpadmin({"-p", name, "-v", deviceUri, "-E"});
    return RunLpadmin({"-p", name, "-v", deviceUri, "-D", info, "-E"});
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
