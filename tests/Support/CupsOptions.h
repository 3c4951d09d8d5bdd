// A job's option array for tests, built with libcups and freed at the end.
#pragma once

#include <cups/cups.h>

#include <initializer_list>
#include <utility>

namespace qzm::test {

class CupsOptions {
  public:
    CupsOptions(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values)
            count_ = cupsAddOption(name, value, count_, &options_);
    }
    ~CupsOptions() { cupsFreeOptions(count_, options_); }
    CupsOptions(const CupsOptions&) = delete;
    CupsOptions& operator=(const CupsOptions&) = delete;

    int Count() const { return count_; }
    cups_option_t* Options() const { return options_; }

  private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

}  // namespace qzm::test
