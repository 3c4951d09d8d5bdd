// Shared pieces of the backend tests: command streams, a status capture and
// the print-status file's place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../Support/ByteCompare.h"
#include "DeviceCmd.h"
#include "EmulatedPrinter.h"

namespace qzm::test {

inline const std::string kCacheFolder = "/Library/Caches/Orvane/QZ-M480";

// One packet's bytes as the filter writes them.
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
    auto add = [&out](const std::vector<uint8_t>& bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    add(PacketBytes("CNTRL", "CUTTER", {'0', '0', '0', '0', '0', '0', '0', '0'}));
    add(PacketBytes("IMAGE", "MULTICUT", {'0', '0', '0', '0', '0', '0', '0', '1'}));
    add(PacketBytes("IMAGE", "YPLANE", Payload(planeSize, seed)));
    add(PacketBytes("IMAGE", "MPLANE", Payload(planeSize, seed + 1)));
    add(PacketBytes("IMAGE", "CPLANE", Payload(planeSize, seed + 2)));
    add(PacketBytes("CNTRL", "START", {}));
    return out;
}

// Every job packet the printer received, back in wire form, queries left out.
inline std::vector<uint8_t> ReceivedJobBytes(const emu::EmulatedPrinter& printer) {
    std::vector<uint8_t> out;
    auto add = [&out](const std::vector<emu::Packet>& packets) {
        for (const auto& p : packets) {
            const auto bytes =
                PacketBytes(p.command.c_str(),
                            p.subCommand.empty() ? nullptr : p.subCommand.c_str(), p.payload);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    };
    for (const auto& sheet : printer.Sheets()) {
        add(sheet);
    }
    return out;
}

// The bytes the printer received for the job, compared with the stream.
inline testing::AssertionResult SameBytes(const std::vector<uint8_t>& actual,
                                          const std::vector<uint8_t>& expected) {
    return BytesEqual(actual.data(), actual.size(), expected.data(), expected.size());
}

// Status lines written by the code under test, read back as text.
class StatusCapture {
  public:
    StatusCapture() : file_(std::tmpfile()) {}
    ~StatusCapture() {
        if (file_) {
            std::fclose(file_);
        }
    }
    StatusCapture(const StatusCapture&) = delete;
    StatusCapture& operator=(const StatusCapture&) = delete;

    std::FILE* File() const { return file_; }
    std::string Text() const {
        std::fflush(file_);
        std::string text;
        std::rewind(file_);
        char block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, file_)) > 0) {
            text.append(block, got);
        }
        std::fseek(file_, 0, SEEK_END);
        return text;
    }

  private:
    std::FILE* file_;
};

}  // namespace qzm::test
