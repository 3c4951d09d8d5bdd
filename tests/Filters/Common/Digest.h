// SHA-256 digests of bytes for tests that compare output with known-good
// output, made with libcups' hash function.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qzm::test {

// Collects byte blocks and gives the digest of all of them in order.
class Digest {
  public:
    void Add(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void Add(const std::vector<uint8_t>& block) { Add(block.data(), block.size()); }
    // 64 lower-case hex digits, or "" when libcups cannot hash.
    std::string Hex() const {
        unsigned char hash[32];
        char text[65];
        const ssize_t n =
            cupsHashData("sha2-256", bytes_.data(), bytes_.size(), hash, sizeof hash);
        return n == 32 ? cupsHashString(hash, 32, text, sizeof text) : "";
    }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace qzm::test
