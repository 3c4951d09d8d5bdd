#include "PrivateCupsd.h"

#include "Staging.h"

#include <cups/cups.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qzm::test {

namespace fs = std::filesystem;

namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr char kLpadmin[] = "/usr/sbin/lpadmin";
constexpr fs::perms kPublic = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;

// Writes a file, or copies one when from is given, making its folder first.
bool PutFile(const fs::path& path, fs::perms mode, const std::string& text,
             const std::string& from = "") {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (from.empty())
        std::ofstream(path) << text;
    else
        fs::copy_file(from, path, fs::copy_options::overwrite_existing, ec);
    if (!ec)
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

}  // namespace

CupsServerOverride::CupsServerOverride(const std::string& server) {
    if (const char* current = std::getenv("CUPS_SERVER"))
        old_ = current;
    ::setenv("CUPS_SERVER", server.c_str(), 1);
    cupsSetServer(server.c_str());
}

CupsServerOverride::~CupsServerOverride() {
    old_ ? ::setenv("CUPS_SERVER", old_->c_str(), 1) : ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);  // back to the default, read afresh from the environment
}

PrivateCupsd::PrivateCupsd() {
    std::string pattern = (fs::temp_directory_path() / "qzm480-cupsd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        folder_ = pattern;
        fs::permissions(folder_, kPublic);
    }
}

PrivateCupsd::~PrivateCupsd() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    server_.reset();
    std::error_code ignored;
    if (!folder_.empty())
        fs::remove_all(folder_, ignored);
}

bool PrivateCupsd::AddBackend(const std::string& scheme) {
    // Queues are never printed to; the backend only has to exist.
    return PutFile(fs::path(folder_) / "bin/backend" / scheme, kPublic, "#!/bin/sh\nexit 0\n");
}

bool PrivateCupsd::AddModel(const std::string& name, const std::string& file) {
    return PutFile(fs::path(folder_) / "data/model" / name, kPublic, "", file);
}

bool PrivateCupsd::InstallBackend(const std::string& scheme, const std::string& program) {
    return PutFile(fs::path(folder_) / "bin/backend" / scheme, fs::perms::owner_all, "", program);
}

std::string PrivateCupsd::ErrorLog() const {
    std::ifstream in(fs::path(folder_) / "log/error_log");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool PrivateCupsd::Start() {
    const std::string socket = folder_ + "/cups.sock";
    if (folder_.empty() || ::access(kCupsd, X_OK) != 0 || ::access(kLpadmin, X_OK) != 0 ||
        socket.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error_ = "no temporary folder of a short path, or cupsd or lpadmin is not installed";
        return false;
    }
    const fs::path root(folder_);
    std::error_code ec;
    for (const char* sub : {"bin", "spool", "cache", "state", "log", "data/model"})
        fs::create_directories(root / sub, ec);
    fs::permissions(root / "spool", fs::perms::all | fs::perms::sticky_bit, ec);
    // The system's programs but the backends, its data files but the models.
    for (const auto& [from, to, own] :
         {std::tuple{"/usr/lib/cups", "bin", "backend"}, {"/usr/share/cups", "data", "model"}}) {
        for (const auto& entry : fs::directory_iterator(from, ec)) {
            if (entry.path().filename() != own)
                fs::create_symlink(entry.path(), root / to / entry.path().filename(), ec);
        }
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
    PutFile(root / "cups-files.conf", readable, conf);
    PutFile(root / "cupsd.conf", readable,
            "Listen " + socket + "\nLogLevel " + logLevel_ +
                "\nBrowsing No\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");

    const std::string command = std::string("exec ") + kCupsd + " -f -c " +
                                ShellQuote(folder_ + "/cupsd.conf") + " -s " +
                                ShellQuote(folder_ + "/cups-files.conf") + " > /dev/null 2>&1";
    if ((pid_ = ::fork()) == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && !CanConnect(socket)) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
        } else if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ <= 0) {
        error_ =
            "cupsd did not start or open its socket (see its configuration in " + folder_ + ")";
        return false;
    }
    server_ = std::make_unique<CupsServerOverride>(socket);
    return true;
}

bool PrivateCupsd::RunLpadmin(const std::vector<std::string>& arguments) {
    std::string command = kLpadmin;
    for (const auto& argument : arguments)
        command += " " + ShellQuote(argument);
    const bool ok = RunShell(command) == 0;
    // Drop the cached connection, so the next request sees the change.
    cupsSetServer((folder_ + "/cups.sock").c_str());
    return ok;
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& deviceUri,
                            const std::string& info) {
    std::vector<std::string> arguments = {"-p", name, "-v", deviceUri, "-E"};
    if (!info.empty())
        arguments.insert(arguments.end(), {"-D", info});
    return RunLpadmin(arguments);
}

bool PrivateCupsd::SetInfo(const std::string& name, const std::string& info) {
    return RunLpadmin({"-p", name, "-D", info});
}

bool PrivateCupsd::DeleteQueue(const std::string& name) {
    return RunLpadmin({"-x", name});
}

}  // namespace qzm::test
