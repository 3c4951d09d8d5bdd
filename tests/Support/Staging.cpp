#include "Staging.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qzm::test {

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunShell(const std::string& commandLine, std::string* output) {
    FILE* pipe = ::popen(("(" + commandLine + "\n) 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        if (output)
            output->append(buffer, count);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, mode_t> ListTree(const std::string& root) {
    std::map<std::string, mode_t> tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0)
            tree[it->path().string().substr(root.size())] = info.st_mode;
    }
    return tree;
}

int InstallBuild(const std::string& assignments, std::string* output) {
    return RunShell("env -u QZM480_ROOT -u DESTDIR " + assignments + " " +
                        ShellQuote(QZM480_CMAKE_COMMAND) + " --install " +
                        ShellQuote(QZM480_BUILD_DIR) + " --component Unspecified",
                    output);
}

}  // namespace qzm::test
