// Shared pieces of the backend tests: command streams as the filter writes
// them, the stream the emulated printer received, and what the backend said;
// files read back as the daemon's tests read them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../StatusControllers/Common/DaemonTestSupport.h"
#include "../Support/ByteCompare.h"
#include "DeviceCmd.h"
#include "EmulatedPrinter.h"

namespace qzm::test {


// Polls the condition until it holds; false after a generous 20 s.
inline bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether every line is one CUPS reads from a backend (STATE, INFO, ATTR).
inline testing::AssertionResult OnlyStatusLines(const std::string& said) {
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("STATE: ", 0) != 0 && line.rfind("INFO: ", 0) != 0 &&
            line.rfind("ATTR: ", 0) != 0) {
            return testing::AssertionFailure() << line;
        }
    }
    return testing::AssertionSuccess();
}

inline std::vector<uint8_t> PacketBytes(const char* command, const char* sub,
                                        const std::vector<uint8_t>& payload) {
    DeviceCmd cmd(command, sub, static_cast<int32_t>(payload.size()),
                  payload.empty() ? nullptr : payload.data());
    return std::vector<uint8_t>(cmd.m_data, cmd.m_data + cmd.m_length);
}

inline std::vector<uint8_t> Payload(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// A sheet as the filter sends it: media, planes of the given size, start.
inline std::vector<uint8_t> Sheet(size_t planeSize, uint8_t seed) {
    std::vector<uint8_t> out;
    const std::vector<uint8_t> packets[] = {
        PacketBytes("CNTRL", "CUTTER", {'0', '0', '0', '0', '0', '0', '0', '0'}),
        PacketBytes("IMAGE", "MULTICUT", {'0', '0', '0', '0', '0', '0', '0', '1'}),
        PacketBytes("IMAGE", "YPLANE", Payload(planeSize, seed)),
        PacketBytes("IMAGE", "MPLANE", Payload(planeSize, seed + 1)),
        PacketBytes("IMAGE", "CPLANE", Payload(planeSize, seed + 2)),
        PacketBytes("CNTRL", "START", {})};
    for (const auto& bytes : packets) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// Every job packet the printer received, back in wire form, queries left out.
inline std::vector<uint8_t> ReceivedJobBytes(const emu::EmulatedPrinter& printer) {
    std::vector<uint8_t> out;
    for (const auto& sheet : printer.Sheets()) {
        for (const auto& p : sheet) {
            const auto bytes = PacketBytes(
                p.command.c_str(), p.subCommand.empty() ? nullptr : p.subCommand.c_str(), p.payload);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    return out;
}

inline testing::AssertionResult SameBytes(const std::vector<uint8_t>& actual,
                                          const std::vector<uint8_t>& expected) {
    return BytesEqual(actual.data(), actual.size(), expected.data(), expected.size());
}

}  // namespace qzm::test
