// The printer's answer to one command, as the status daemon receives it.
//
// On the wire an answer is 8 decimal digits of length N, then N data bytes:
// an optional key, the effective data, a terminator and anything after it.
// The effective data ends at the first carriage return, or else at the first
// NUL, or else at the end of the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "DeviceCmd.h"

// One response buffer, owned by the query that makes it.
class DeviceRecv {
  public:
    static constexpr int kHeaderLength = 8;
    static constexpr int kVariableLength = -1;
    static constexpr int kVariableCapacity = 4096;  // 8 header + up to 4088 data bytes
    static constexpr size_t kKeySize = 36;
    static constexpr size_t kTextFieldSize = 64;  // the queries' result fields

    // dataLength: -1 variable, 0 no data, N > 0 exactly N bytes expected.
    // key: text the data must begin with (at most 35 characters), or null.
    DeviceRecv(int dataLength, const char* key);
    ~DeviceRecv();
    DeviceRecv(const DeviceRecv&) = delete;
    DeviceRecv& operator=(const DeviceRecv&) = delete;

    // Capacity: 4096 for variable data, 0 for none, else dataLength + 8.
    int GetBufferLength() const;
    // Releases any buffer, then allocates capacity + 2 zeroed bytes (nothing
    // for no data). Returns 0, or 2 when memory is short.
    int Alloc();
    // Releases the buffer; safe without one. Returns 0.
    int Free();
    // 0 when the received answer is valid, else 3.
    int CheckData() const;
    // Writes the effective data (after the key) to out, NUL-terminated and
    // shortened to outSize - 1 bytes without splitting a UTF-8 sequence.
    // Returns 3 only when out is null (or outSize is 0).
    int GetEffectiveDataAsString(char* out, size_t outSize = kTextFieldSize) const;
    // The whole effective data.
    std::string GetEffectiveData() const;

    uint8_t* m_buffer = nullptr;
    int32_t m_dataLength = 0;
    char m_key[kKeySize] = {};
};

// The longest start of text that fits in limit bytes without splitting a
// UTF-8 sequence.
std::string _CutUtf8(const std::string& text, size_t limit);
