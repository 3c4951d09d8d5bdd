#include "DeviceUri.h"

std::string _MakeDeviceUri(std::string_view serial) {
    return std::string(kDeviceUriPrefix) + std::string(serial);
}

bool _SerialFromDeviceUri(std::string_view uri, std::string* serial) {
    const std::string_view prefix(kDeviceUriPrefix);
    if (!serial || uri.substr(0, prefix.size()) != prefix) {
        return false;
    }
    *serial = std::string(uri.substr(prefix.size()));
    return true;
}
