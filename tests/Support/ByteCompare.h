// Byte-stream comparison for tests: on a mismatch, reports the offset, the
// actual byte and the expected byte.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qzm::test {

inline testing::AssertionResult BytesEqual(const void* actual, size_t actualLength,
                                           const void* expected, size_t expectedLength) {
    const auto* a = static_cast<const uint8_t*>(actual);
    const auto* e = static_cast<const uint8_t*>(expected);
    const size_t at = std::mismatch(a, a + std::min(actualLength, expectedLength), e).first - a;
    if (at < std::min(actualLength, expectedLength)) {
        return testing::AssertionFailure() << "offset " << at << ": actual 0x" << std::hex
                                           << int(a[at]) << ", expected 0x" << int(e[at]);
    }
    if (actualLength != expectedLength) {
        return testing::AssertionFailure()
               << "length " << actualLength << ", expected " << expectedLength;
    }
    return testing::AssertionSuccess();
}

inline testing::AssertionResult BytesEqual(const void* actual, size_t actualLength,
                                           std::string_view expected) {
    return BytesEqual(actual, actualLength, expected.data(), expected.size());
}

inline testing::AssertionResult BytesEqual(const std::vector<uint8_t>& actual,
                                           std::string_view expected) {
    return BytesEqual(actual.data(), actual.size(), expected.data(), expected.size());
}

}  // namespace qzm::test
