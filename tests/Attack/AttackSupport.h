// Views of the operating system for the attack tests: every path under a
// folder, and a working folder of the test's own.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

namespace qzm::test {

// Every path below folder (links not followed), relative to it.
inline std::set<std::string> Tree(const std::string& folder) {
    std::set<std::string> paths;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
        paths.insert(fs::relative(it->path(), folder).string());
    }
    return paths;
}

// Makes folder the working folder for the scope, so that a command slipped
// into a shell with a relative path would leave its traces there.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(old_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::filesystem::path old_;
};

}  // namespace qzm::test
