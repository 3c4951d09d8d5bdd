#include "DeviceId.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "SerialNumber.h"

namespace {

constexpr size_t kPrefixSize = 2;
constexpr size_t kSmallestLength = 3;
constexpr size_t kLongReply = 255;

size_t LengthPrefix(const uint8_t* reply) {
    return (static_cast<size_t>(reply[0]) << 8) | reply[1];
}

// Sends GET_DEVICE_ID with a buffer of length bytes; false when it failed.
bool Request(qzm::usb::UsbInterface* interface, uint16_t value, uint16_t index,
             std::vector<uint8_t>* buffer) {
    qzm::usb::UsbControlRequest request;
    request.requestType = kDeviceIdRequestType;
    request.request = kDeviceIdRequest;
    request.value = value;
    request.index = index;
    request.length = static_cast<uint16_t>(buffer->size());
    request.data = buffer->data();
    if (interface->ControlRequest(&request, kDeviceIdTimeoutMs) != qzm::usb::kUsbOk) {
        return false;
    }
    // A device that claims more than was asked for gets only what fits.
    buffer->resize(std::min<size_t>(request.transferred, buffer->size()));
    return true;
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view key) {
    if (text.size() < key.size()) {
        return false;
    }
    for (size_t i = 0; i < key.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(key[i]))) {
            return false;
        }
    }
    return true;
}

// The model of one field for one key, or nothing when the key does not match.
std::optional<std::string> ModelOfField(std::string_view field, std::string_view key) {
    if (StartsWithNoCase(field, key)) {
        return std::string(Trim(field.substr(key.size())));
    }
    const std::string_view trimmed = Trim(field);
    if (StartsWithNoCase(trimmed, key)) {
        return std::string(trimmed.substr(key.size()));
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> _DeviceIdFromReply(const uint8_t* reply, size_t size) {
    if (!reply || size < kPrefixSize) {
        return std::nullopt;
    }
    const size_t length = LengthPrefix(reply);
    if (length < kSmallestLength) {
        return std::nullopt;
    }
    // A prefix that promises more than the reply holds gets what is there.
    const size_t count = std::min(length - kPrefixSize, size - kPrefixSize);
    std::string text(reinterpret_cast<const char*>(reply) + kPrefixSize, count);
    if (!_IsValidUtf8(text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> _CopyDeviceId(qzm::usb::UsbInterface* interface,
                                         uint8_t configurationValue, uint8_t interfaceNumber) {
    if (!interface) {
        return std::nullopt;
    }
    const auto value = static_cast<uint16_t>(configurationValue - 1);
    const auto index = static_cast<uint16_t>(interfaceNumber << 8);
    std::vector<uint8_t> reply(kDeviceIdFirstLength);
    if (!Request(interface, value, index, &reply) || reply.size() < kPrefixSize) {
        return std::nullopt;
    }
    const size_t length = LengthPrefix(reply.data());
    if (length >= kLongReply) {
        std::vector<uint8_t> longReply(length);
        if (!Request(interface, value, index, &longReply)) {
            return std::nullopt;
        }
        return _DeviceIdFromReply(longReply.data(), longReply.size());
    }
    return _DeviceIdFromReply(reply.data(), reply.size());
}

std::optional<std::string> deviceIDCopyModel(const std::optional<std::string>& deviceId) {
    if (!deviceId) {
        return std::nullopt;
    }
    std::string_view rest = *deviceId;
    while (true) {
        const size_t end = rest.find(';');
        const std::string_view field = rest.substr(0, end);
        for (const std::string_view key : {"MDL:", "MODEL:"}) {
            if (auto model = ModelOfField(field, key)) {
                return model;
            }
        }
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(end + 1);
    }
}
