#include "QueueChooser.h"

#include <string_view>

namespace qzm::statuschooser {

bool IsModelDeviceUri(const std::string& deviceUri) {
    constexpr std::string_view kSerialMark = "serial=";
    if (deviceUri.find("M480") == std::string::npos ||
        deviceUri.find("Orvane") == std::string::npos ||
        deviceUri.find("ovbackend") == std::string::npos) {
        return false;
    }
    const auto serial = deviceUri.find(kSerialMark);
    return serial != std::string::npos && serial + kSerialMark.size() < deviceUri.size();
}

std::vector<platform::PrinterEntry> ModelQueues(const std::vector<platform::PrinterEntry>& list) {
    std::vector<platform::PrinterEntry> queues;
    for (const auto& entry : list) {
        if (IsModelDeviceUri(entry.deviceUri)) {
            queues.push_back(entry);
        }
    }
    return queues;
}

std::string QueueLabel(const platform::PrinterEntry& entry) {
    if (entry.name.empty() || entry.name == entry.queueName) {
        return entry.queueName;
    }
    return entry.name + " (" + entry.queueName + ")";
}

}  // namespace qzm::statuschooser
