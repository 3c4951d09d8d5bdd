// A temporary QZM480_ROOT for one test: created empty, set in the
// environment, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qzm::test {

class TempRoot {
  public:
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qzm480-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : "";
        const char* old = std::getenv("QZM480_ROOT");
        hadOld_ = old != nullptr;
        old_ = old ? old : "";
        ::setenv("QZM480_ROOT", path_.c_str(), 1);
    }
    ~TempRoot() {
        hadOld_ ? ::setenv("QZM480_ROOT", old_.c_str(), 1) : ::unsetenv("QZM480_ROOT");
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& Path() const { return path_; }
    // The real location of a designed path under this root.
    std::string operator/(const std::string& designed) const { return path_ + designed; }

  private:
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace qzm::test
