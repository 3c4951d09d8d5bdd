// Fuzz target: the filter's reader of the job's print-status file, into
// buffers of 1 to 300 bytes. Input: a key choice, two size bytes, the file.
#include "Common.h"
#include "FuzzSupport.h"
#include "Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qzm::fuzz::Require;
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    static const std::string file = qzm::paths::Rooted(qzm::paths::kCacheFolder) + "/Print_7.log";
    constexpr const char* kKeys[] = {"MEDIA_SIZE=", "MEDIA_SIZE", "=", "\"", "S"};
    qzm::fuzz::Input input(data, size);
    const char* key = kKeys[input.Byte() % std::size(kKeys)];
    const int outSize = 1 + input.Byte() + (input.Byte() & 0x2F);
    qzm::fuzz::WriteWholeFile(file, input.Rest());

    // Exactly as large as announced, so that a write past the end is caught.
    std::vector<char> out(outSize, 'Z');
    Require(_GetValuePrInfoFile(key, "7", out.data(), outSize) == 0);
    // Untouched, or a value inside the buffer without quote or line feed.
    const size_t length = ::strnlen(out.data(), outSize);
    Require(std::all_of(out.begin(), out.end(), [](char c) { return c == 'Z'; }) ||
            (length < out.size() && !std::memchr(out.data(), '"', length) &&
             !std::memchr(out.data(), '\n', length)));
    return 0;
}
