#include "DiagnosticReport.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceId.h"
#include "Paths.h"
#include "StatusQueries.h"

namespace {

struct Identity {
    std::optional<std::string> serial;
    std::optional<std::string> model;
};

// Reads the serial number and the model from the first interface that
// answers them.
Identity Identify(qzm::usb::UsbDevice* device) {
    Identity identity;
    if (!device || device->OpenSeize() != qzm::usb::kUsbOk) {
        return identity;
    }
    {
        std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces;
        device->GetInterfaces(&interfaces);
        for (auto& interface : interfaces) {
            if (interface->OpenSeize() != qzm::usb::kUsbOk) {
                continue;
            }
            char serial[kQueryFieldSize] = {};
            if (!identity.serial && GetSerialNo(interface.get(), serial, sizeof serial) != -1) {
                identity.serial = serial;
            }
            uint8_t configurationValue = 0;
            uint8_t interfaceNumber = 0;
            if (!identity.model &&
                interface->GetConfigurationValue(&configurationValue) == qzm::usb::kUsbOk &&
                interface->GetInterfaceNumber(&interfaceNumber) == qzm::usb::kUsbOk) {
                identity.model = deviceIDCopyModel(
                    _CopyDeviceId(interface.get(), configurationValue, interfaceNumber));
            }
            interface->Close();
        }
    }
    device->Close();
    return identity;
}

void ShowFile(const std::string& serial, std::ostream& out) {
    const std::string designed = std::string(qzm::paths::kCacheFolder) + "/" +
                                 qzm::paths::kModelWord + "_" + serial + ".log";
    out << "  Information file: " << designed << "\n";
    std::ifstream file(qzm::paths::Rooted(designed), std::ios::binary);
    if (!file) {
        out << "    (none)\n";
        return;
    }
    std::string line;
    while (std::getline(file, line)) {
        out << "    " << line << "\n";
    }
}

}  // namespace

int _ReportAttachedPrinters(qzm::usb::UsbBus& bus, uint16_t vendorId, uint16_t productId,
                            std::ostream& out) {
    std::mutex mutex;
    std::vector<std::unique_ptr<qzm::usb::UsbDevice>> devices;
    const int started = bus.Start(vendorId, productId, [&](qzm::usb::UsbEvent event) {
        if (event.kind == qzm::usb::UsbEvent::Kind::kArrived && event.device) {
            std::lock_guard lock(mutex);
            devices.push_back(std::move(event.device));
        }
    });
    if (started != qzm::usb::kUsbOk) {
        return started;
    }
    bus.Stop();

    if (devices.empty()) {
        out << "No " << qzm::paths::kModelWord << " printer is attached.\n";
        return 0;
    }
    int number = 0;
    for (const auto& device : devices) {
        const Identity identity = Identify(device.get());
        out << "Printer " << ++number << ": serial number "
            << (identity.serial ? "\"" + *identity.serial + "\"" : "(cannot be read)") << ", model "
            << (identity.model ? "\"" + *identity.model + "\"" : "(unknown)") << "\n";
        if (identity.serial) {
            ShowFile(*identity.serial, out);
        }
    }
    return 0;
}
