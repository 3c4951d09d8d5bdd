#include "Staging.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace qzm::test {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qzm480-stage-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    path_ = made ? made : "";
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

int RunShell(const std::string& commandLine, std::string* output) {
    FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buffer{};
    size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        if (output)
            output->append(buffer.data(), count);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, mode_t> ListTree(const std::string& root) {
    std::map<std::string, mode_t> tree;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        struct stat info {};
        const std::string path = it->path().string();
        if (::lstat(path.c_str(), &info) == 0) {
            tree[path.substr(root.size())] = info.st_mode;
        }
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
