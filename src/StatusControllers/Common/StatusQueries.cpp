#include "StatusQueries.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "DeviceCmd.h"
#include "PhotoPrinterDevice.h"
#include "SerialNumber.h"
#include "UsbTransport.h"

namespace {

constexpr int kStatusDataLength = 8;

// One exchange expecting variable-length text; false when it failed.
bool AskText(qzm::usb::UsbInterface* interface, const char* command, const char* subCommand,
             std::string* text) {
    DeviceCmd packet(command, subCommand, 0, nullptr);
    DeviceRecv response(DeviceRecv::kVariableLength, nullptr);
    if (DeviceIO(interface, packet, response) != kResultOk) {
        return false;
    }
    *text = response.GetEffectiveData();
    return true;
}

int64_t TextQuery(qzm::usb::UsbInterface* interface, const char* command, const char* subCommand,
                  char* out, size_t outSize) {
    if (!interface || !out || outSize == 0) {
        return -1;
    }
    out[0] = '\0';
    std::string text;
    if (!AskText(interface, command, subCommand, &text)) {
        return -1;
    }
    // The field is a C string: data after a NUL (when a carriage return ends
    // the answer later) is not part of the text, nor of its length.
    text.resize(std::strlen(text.c_str()));
    text = _CutUtf8(text, outSize - 1);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return static_cast<int64_t>(text.size());
}

}  // namespace

int GetStatus(qzm::usb::UsbInterface* interface) {
    if (!interface) {
        return kStatusUnknown;
    }
    DeviceCmd packet("STATUS", nullptr, 0, nullptr);
    DeviceRecv response(kStatusDataLength, nullptr);
    if (DeviceIO(interface, packet, response) != kResultOk) {
        return kStatusUnknown;
    }
    const std::string data = response.GetEffectiveData();
    return _TextToInt(data.data(), static_cast<int>(data.size()));
}

int64_t GetSerialNo(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    if (!interface || !out || outSize == 0) {
        return -1;
    }
    out[0] = '\0';
    std::string text;
    if (!AskText(interface, "INFO", "SERIAL_NUMBER", &text) || !_IsSerialUsableAsName(text)) {
        return -1;
    }
    std::string escaped = _EscapeSerial(text);
    // The serial is a 64-byte field everywhere; one that does not fit is
    // given up whole rather than cut.
    const size_t limit = std::min(kQueryFieldSize, outSize) - 1;
    if (escaped.size() > limit) {
        escaped.clear();
    }
    std::memcpy(out, escaped.data(), escaped.size());
    out[escaped.size()] = '\0';
    return static_cast<int64_t>(escaped.size());
}

int64_t GetFirmVersion(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "FVER", out, outSize);
}

int64_t GetMediaSize(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "MEDIA", out, outSize);
}

int64_t GetMediaInitial(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "MQTY_DEFAULT", out, outSize);
}

int64_t GetMediaRemain(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "MQTY", out, outSize);
}

int64_t GetTotalCount(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "MNT_RD", "COUNTER_LIFE", out, outSize);
}

int64_t GetMediaRemainHalf(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "RQTY", out, outSize);
}

int64_t GetMediaClass(qzm::usb::UsbInterface* interface, char* out, size_t outSize) {
    return TextQuery(interface, "INFO", "MEDIA_CLASS_RFID", out, outSize);
}

int GetMessage(int status) {
    struct Entry {
        int status;
        int message;
    };
    static constexpr Entry kMessages[] = {
        {0, 1},      {1, 2},      {500, 3},    {510, 4},    {900, 5},    {1000, 100}, {1010, 101},
        {1100, 102}, {1200, 103}, {1300, 104}, {1400, 105}, {1500, 106}, {1600, 107}, {2000, 200},
        {2100, 201}, {2200, 202}, {2300, 203}, {2400, 204}, {2500, 205}, {2600, 206}, {2610, 207},
        {2700, 208}, {2800, 209}, {3000, 210}, {99999, 6},
    };
    for (const Entry& entry : kMessages) {
        if (entry.status == status) {
            return entry.message;
        }
    }
    return -1;
}
