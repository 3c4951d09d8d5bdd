// Fuzz target: the uninstall helper reading its one request line. Whatever
// arrives, it reads no further than the end of the first non-blank line.
#include <cstdlib>
#include <sstream>
#include <string>

#include "UninstallHelper.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Where the first line holding something other than blanks ends (after its
// line feed), or npos when there is none.
size_t EndOfRequest(std::string_view text) {
    size_t lineStart = 0;
    while (lineStart <= text.size()) {
        size_t end = text.find('\n', lineStart);
        const bool last = end == std::string_view::npos;
        if (last) {
            end = text.size();
        }
        for (size_t i = lineStart; i < end; ++i) {
            if (!IsBlank(text[i])) {
                return last ? end : end + 1;
            }
        }
        if (last) {
            break;
        }
        lineStart = end + 1;
    }
    return std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    const bool request = qzm::uninstall::ReadRequest(in);
    const size_t end = EndOfRequest(text);
    if (request != (end != std::string_view::npos)) {
        std::abort();
    }
    if (request) {
        // Nothing after the request line has been consumed.
        in.clear();
        const std::string left((std::istreambuf_iterator<char>(in)), {});
        if (left != text.substr(end)) {
            std::abort();
        }
    }
    return 0;
}
