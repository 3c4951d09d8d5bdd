// Fuzz target: the filter's reader of the job's print-status file, with any
// file content and output buffers of any size.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Common.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

constexpr const char* kKeys[] = {"MEDIA_SIZE=", "MEDIA_SIZE", "=", "\"", "S"};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
constexpr char kFill = '\x5A';

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    static const std::string file = root + std::string(qzm::paths::kCacheFolder) + "/Print_7.log";
    qzm::fuzz::Input input(data, size);
    const char* key = kKeys[input.Byte() % kKeyCount];
    // Output buffers from 1 to 300 bytes, exactly as large as announced so
    // that a write past the end is caught.
    const int outSize = 1 + input.Byte() + (input.Byte() & 0x2F);
    const std::string_view text = input.Rest();
    qzm::fuzz::WriteWholeFile(file, text);

    auto out = std::make_unique<char[]>(outSize);
    std::memset(out.get(), kFill, outSize);
    if (_GetValuePrInfoFile(key, "7", out.get(), outSize) != 0) {
        std::abort();
    }
    // Either untouched, or a NUL-terminated value inside the buffer that
    // holds no double quote and no line feed.
    bool untouched = true;
    for (int i = 0; i < outSize; ++i) {
        untouched = untouched && out[i] == kFill;
    }
    if (!untouched) {
        const size_t length = ::strnlen(out.get(), outSize);
        if (length >= static_cast<size_t>(outSize) ||
            std::memchr(out.get(), '"', length) != nullptr ||
            std::memchr(out.get(), '\n', length) != nullptr) {
            std::abort();
        }
    }
    return 0;
}
