// Building command streams for the tests: packets made with DeviceCmd and
// plane payloads in the printer's 8-bit BMP layout.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DeviceCmd.h"

namespace qzm::test {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& stream, const char* command, const char* sub, const Bytes& payload) {
    DeviceCmd cmd(command, sub, payload.empty() ? -1 : int32_t(payload.size()),
                  payload.empty() ? nullptr : payload.data());
    stream.insert(stream.end(), cmd.m_data, cmd.m_data + cmd.m_length);
}

inline void Append(Bytes& stream, const char* command, const char* sub, const std::string& text) {
    Append(stream, command, sub, Bytes(text.begin(), text.end()));
}

// An 8-bit grey BMP as the printer takes it: 1088 bytes of headers and
// palette, then bottom-up rows padded to 4 bytes. value(storedRow, column).
inline Bytes PlaneBmp(int width, int height, const std::function<uint8_t(int, int)>& value) {
    const uint32_t row = (uint32_t(width) + 3) / 4 * 4;
    Bytes b(1088 + size_t(row) * height, 0);
    const uint32_t fields[][2] = {{2, uint32_t(b.size())}, {10, 1088}, {14, 40}, {18, uint32_t(width)},
                                  {22, uint32_t(height)}, {26, 1 | 8 << 16}, {34, row * uint32_t(height)},
                                  {38, 11811}, {42, 11811}, {46, 256}, {50, 256}};
    for (auto [at, v] : fields)
        for (int i = 0; i < 4; ++i)
            b[at + i] = uint8_t(v >> (8 * i));
    b[0] = 'B';
    b[1] = 'M';
    for (int i = 0; i < 256; ++i)
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = uint8_t(i);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b[1088 + size_t(y) * row + x] = value(y, x);
    return b;
}

}  // namespace qzm::test
