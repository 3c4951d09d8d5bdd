#include "PhotoPrinterDevice.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Offset of the end of the effective data within the first capacity bytes.
int EffectiveEnd(const uint8_t* buffer, int capacity) {
    const void* cr = std::memchr(buffer, '\r', capacity);
    if (cr) {
        return static_cast<int>(static_cast<const uint8_t*>(cr) - buffer);
    }
    const void* nul = std::memchr(buffer, '\0', capacity);
    if (nul) {
        return static_cast<int>(static_cast<const uint8_t*>(nul) - buffer);
    }
    return capacity;
}

}  // namespace

DeviceRecv::DeviceRecv(int dataLength, const char* key) : m_dataLength(dataLength) {
    if (key) {
        std::strncpy(m_key, key, kKeySize - 1);
        m_key[kKeySize - 1] = '\0';
    }
}

DeviceRecv::~DeviceRecv() {
    Free();
}

int DeviceRecv::GetBufferLength() const {
    if (m_dataLength == kVariableLength) {
        return kVariableCapacity;
    }
    if (m_dataLength > 0 && m_dataLength <= INT_MAX - kHeaderLength - 2) {
        return m_dataLength + kHeaderLength;
    }
    return 0;
}

int DeviceRecv::Alloc() {
    Free();
    const int capacity = GetBufferLength();
    if (capacity == 0) {
        return kResultOk;
    }
    // Two spare zero bytes keep the text NUL-terminated when the data fills
    // the capacity.
    m_buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity) + 2, 1));
    return m_buffer ? kResultOk : kResultNoMemory;
}

int DeviceRecv::Free() {
    std::free(m_buffer);
    m_buffer = nullptr;
    return kResultOk;
}

int DeviceRecv::CheckData() const {
    const int capacity = GetBufferLength();
    if (m_dataLength == kVariableLength || m_dataLength > 0) {
        if (!m_buffer) {
            return kResultInvalid;
        }
        const bool hasCr = std::memchr(m_buffer, '\r', capacity) != nullptr;
        const bool hasNul = std::memchr(m_buffer, '\0', capacity) != nullptr;
        if (m_dataLength == kVariableLength) {
            if (!hasCr && !hasNul) {
                return kResultInvalid;
            }
        } else {
            // A shorter answer than expected must be NUL-terminated (the
            // zero fill does it); an answer of the expected length may end
            // with a carriage return instead.
            const int announced =
                _TextToInt(reinterpret_cast<const char*>(m_buffer), kHeaderLength);
            const bool ok = announced == m_dataLength ? (hasCr || hasNul) : hasNul;
            if (!ok) {
                return kResultInvalid;
            }
        }
    }
    const size_t keyLength = std::strlen(m_key);
    if (keyLength > 0) {
        if (!m_buffer || kHeaderLength + keyLength > static_cast<size_t>(capacity) ||
            std::memcmp(m_buffer + kHeaderLength, m_key, keyLength) != 0) {
            return kResultInvalid;
        }
    }
    return kResultOk;
}

std::string DeviceRecv::GetEffectiveData() const {
    if (m_dataLength == 0 || !m_buffer) {
        return {};
    }
    const int end = EffectiveEnd(m_buffer, GetBufferLength());
    const int start = kHeaderLength + static_cast<int>(std::strlen(m_key));
    if (end <= start) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(m_buffer) + start, end - start);
}

int DeviceRecv::GetEffectiveDataAsString(char* out, size_t outSize) const {
    if (!out || outSize == 0) {
        return kResultInvalid;
    }
    const std::string text = _CutUtf8(GetEffectiveData(), outSize - 1);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return kResultOk;
}

std::string _CutUtf8(const std::string& text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    auto continuation = [&text](size_t at) {
        return (static_cast<uint8_t>(text[at]) & 0xC0) == 0x80;
    };
    // Step back over continuation bytes to the start of the sequence that the
    // cut would split; a longer run is no valid sequence and is cut as it is.
    size_t cut = limit;
    while (cut > 0 && limit - cut < 3 && continuation(cut)) {
        --cut;
    }
    if (continuation(cut)) {
        cut = limit;
    }
    return text.substr(0, cut);
}
