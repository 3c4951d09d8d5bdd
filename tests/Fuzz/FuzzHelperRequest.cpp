// Fuzz target: the uninstall helper reading its request: the first line with
// more than blanks, read no further than its end.
#include <sstream>

#include "FuzzSupport.h"
#include "UninstallHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    const bool request = qzm::uninstall::ReadRequest(in);
    const size_t first = text.find_first_not_of(" \t\r\v\f\n");
    qzm::fuzz::Require(request == (first != std::string::npos));
    if (request) {
        const size_t feed = text.find('\n', first);
        in.clear();
        const std::string left((std::istreambuf_iterator<char>(in)), {});
        qzm::fuzz::Require(left == (feed == std::string::npos ? "" : text.substr(feed + 1)));
    }
    return 0;
}
