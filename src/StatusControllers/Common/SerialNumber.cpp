#include "SerialNumber.h"

#include <cstdint>

namespace {

// Decodes one UTF-8 sequence at text[at]; returns its length, or 0 when it is
// not valid (truncated, overlong, surrogate or beyond U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t at, uint32_t* codePoint) {
    const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    size_t length;
    uint32_t value;
    uint32_t smallest;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

bool IsControl(uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

bool _IsSerialUsableAsName(std::string_view text) {
    if (text == "." || text == "..") {
        return false;
    }
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8(text, at, &codePoint);
        if (length == 0 || codePoint == '/' || IsControl(codePoint)) {
            return false;
        }
        at += length;
    }
    return true;
}

bool _IsValidUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8(text, at, &codePoint);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string _EscapeSerial(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == ' ') {
            escaped += "%20";
        } else {
            escaped += c;
        }
    }
    return escaped;
}
