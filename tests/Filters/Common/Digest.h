// SHA-256 digests for tests that compare output with known-good output, made
// with libcups' hash function.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qzm::test {

// 64 lower-case hex digits, or "" when libcups cannot hash.
inline std::string Sha256(const std::vector<uint8_t>& bytes) {
    unsigned char hash[32];
    char text[65];
    const ssize_t n = cupsHashData("sha2-256", bytes.data(), bytes.size(), hash, sizeof hash);
    return n == 32 ? cupsHashString(hash, 32, text, sizeof text) : "";
}

}  // namespace qzm::test
