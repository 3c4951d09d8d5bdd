// Captures what the code under test writes to standard output (through the
// C library's stream or the descriptor) into a temporary file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace qzm::test {

class StdoutCapture {
  public:
    StdoutCapture() : file_(std::tmpfile()) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        if (file_ != nullptr && saved_ >= 0)
            ::dup2(::fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() { Stop(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Ends the capture and returns every byte written since it began.
    std::vector<uint8_t> Stop() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
        if (file_ != nullptr) {
            std::rewind(file_);
            for (int c; (c = std::fgetc(file_)) != EOF;)
                bytes_.push_back(static_cast<uint8_t>(c));
            std::fclose(file_);
            file_ = nullptr;
        }
        return bytes_;
    }

  private:
    std::FILE* file_;
    int saved_ = -1;
    std::vector<uint8_t> bytes_;
};

}  // namespace qzm::test
