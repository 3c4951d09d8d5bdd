#include "DeviceCmd.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kOffsetCommand = 2;
constexpr int kOffsetSubCommand = 8;
constexpr int kOffsetLength = 24;
constexpr int kLengthFieldWidth = 8;
constexpr int kMaxTextWidth = 511;

}  // namespace

DeviceCmd::DeviceCmd(const char* command, const char* subCommand, int32_t payloadLength,
                     const void* payload) {
    MakeCmd(command, subCommand, payloadLength, payload);
}

DeviceCmd::~DeviceCmd() { Free(); }

int DeviceCmd::Free() {
    std::free(m_data);
    m_data = nullptr;
    m_length = 0;
    return kResultOk;
}

int DeviceCmd::Fail(int code) {
    Free();
    return code;
}

int DeviceCmd::MakeCmd(const char* command, const char* subCommand, int32_t payloadLength,
                       const void* payload) {
    Free();

    const bool hasPayload = payloadLength > 0 && payload != nullptr;
    // The length field holds 8 decimal digits; a longer payload cannot be
    // framed and would have its ninth digit written over the payload.
    if (hasPayload && payloadLength > kMaxPayloadLength) {
        return Fail(kResultInvalid);
    }
    const int32_t packetLength = kHeaderLength + (hasPayload ? payloadLength : 0);

    m_data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(packetLength) + 2));
    if (m_data == nullptr) {
        m_length = 0;
        return kResultNoMemory;
    }
    m_length = packetLength;
    std::memset(m_data, ' ', static_cast<size_t>(packetLength));
    m_data[packetLength] = 0;
    m_data[packetLength + 1] = 0;
    m_data[0] = 0x1B;
    m_data[1] = 'P';

    if (command == nullptr) {
        return Fail(kResultInvalid);
    }
    const size_t commandLength = std::strlen(command);
    if (commandLength > kMaxCommandLength) {
        return Fail(kResultInvalid);
    }
    std::memcpy(m_data + kOffsetCommand, command, commandLength);

    if (subCommand == nullptr) {
        return hasPayload ? Fail(kResultInvalid) : kResultOk;
    }
    const size_t subLength = std::strlen(subCommand);
    if (subLength > kMaxSubCommandLength) {
        return Fail(kResultInvalid);
    }
    std::memcpy(m_data + kOffsetSubCommand, subCommand, subLength);

    if (!hasPayload) {
        return kResultOk;  // the length field stays 8 spaces
    }
    char digits[16];  // room for any int; the length was checked above
    std::snprintf(digits, sizeof digits, "%08d", static_cast<int>(payloadLength));
    std::memcpy(m_data + kOffsetLength, digits, kLengthFieldWidth);
    std::memcpy(m_data + kHeaderLength, payload, static_cast<size_t>(payloadLength));
    return kResultOk;
}

void _StoreLE2(void* address, uint32_t value) {
    auto* p = static_cast<uint8_t*>(address);
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void _StoreLE4(void* address, uint32_t value) {
    auto* p = static_cast<uint8_t*>(address);
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

int _TextToInt(const char* text, int width) {
    if (width < 0 || width > kMaxTextWidth) {
        return -1;
    }
    if (width == 0) {
        return 0;
    }
    // Only width characters may be read: the text need not be terminated.
    char field[kMaxTextWidth + 1];
    std::memcpy(field, text, static_cast<size_t>(width));
    field[width] = '\0';
    // strtol accepts the same forms as atoi and, unlike it, saturates.
    const long value = std::strtol(field, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
