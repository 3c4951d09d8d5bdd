#include "PrinterAccess.h"

#include <algorithm>
#include <vector>

#include "StatusQueries.h"

namespace {

// The printer-class GET_DEVICE_ID request.
constexpr uint8_t kDeviceIdRequestType = 0xA1;
constexpr uint8_t kDeviceIdRequest = 0;
constexpr uint16_t kDeviceIdLength = 256;
constexpr uint32_t kDeviceIdTimeoutMs = 5000;

}  // namespace

std::vector<std::unique_ptr<qzm::usb::UsbDevice>> _AttachedPrinters(qzm::usb::UsbBus& bus) {
    std::vector<std::unique_ptr<qzm::usb::UsbDevice>> devices;
    // The bus reports the printers already attached before Start returns.
    const int started =
        bus.Start(kPrinterVendorId, kPrinterProductId, [&devices](qzm::usb::UsbEvent event) {
            if (event.kind == qzm::usb::UsbEvent::Kind::kArrived && event.device) {
                devices.push_back(std::move(event.device));
            }
        });
    bus.Stop();
    if (started != qzm::usb::kUsbOk) {
        devices.clear();
    }
    return devices;
}

void _VisitOfferablePrinters(
    qzm::usb::UsbBus& bus,
    const std::function<bool(const std::string& serial, const std::string& deviceId)>& visit) {
    for (auto& device : _AttachedPrinters(bus)) {
        OpenedPrinter printer(std::move(device));
        std::string serial;
        if (printer.Open() != qzm::usb::kUsbOk || !printer.ReadSerial(&serial)) {
            continue;
        }
        const std::string id = printer.ReadDeviceId();
        printer.Close();
        if (visit(serial, id)) {
            return;
        }
    }
}

int OpenedPrinter::Open() {
    if (interface_) {
        return qzm::usb::kUsbOk;
    }
    if (!device_) {
        return qzm::usb::kUsbNoDevice;
    }
    int result = device_->OpenSeize();
    if (result != qzm::usb::kUsbOk) {
        return result;
    }
    deviceOpen_ = true;
    result = device_->GetInterfaces(&interfaces_);
    if (result == qzm::usb::kUsbOk && interfaces_.empty()) {
        result = qzm::usb::kUsbNotSupported;
    }
    if (result == qzm::usb::kUsbOk) {
        result = interfaces_.front()->OpenSeize();
    }
    if (result != qzm::usb::kUsbOk) {
        Close();
        return result;
    }
    interface_ = interfaces_.front().get();
    return qzm::usb::kUsbOk;
}

void OpenedPrinter::Close() {
    if (interface_) {
        interface_->Close();
        interface_ = nullptr;
    }
    interfaces_.clear();
    if (deviceOpen_) {
        device_->Close();
        deviceOpen_ = false;
    }
}

bool OpenedPrinter::ReadSerial(std::string* serial) {
    char text[kQueryFieldSize];
    if (!interface_ || GetSerialNo(interface_, text, sizeof text) < 0) {
        return false;
    }
    *serial = text;
    return true;
}

std::string OpenedPrinter::ReadDeviceId() {
    uint8_t configuration = 0;
    uint8_t number = 0;
    if (!interface_ || interface_->GetConfigurationValue(&configuration) != 0 ||
        interface_->GetInterfaceNumber(&number) != 0) {
        return {};
    }
    std::vector<uint8_t> reply(kDeviceIdLength, 0);
    qzm::usb::UsbControlRequest request;
    request.requestType = kDeviceIdRequestType;
    request.request = kDeviceIdRequest;
    request.value = static_cast<uint16_t>(configuration > 0 ? configuration - 1 : 0);
    request.index = static_cast<uint16_t>(number << 8);
    request.length = kDeviceIdLength;
    request.data = reply.data();
    if (interface_->ControlRequest(&request, kDeviceIdTimeoutMs) != 0 || request.transferred < 2) {
        return {};
    }
    // A big-endian length that counts itself, then the text; never more than
    // what arrived.
    const size_t length = (static_cast<size_t>(reply[0]) << 8) | reply[1];
    const size_t end = std::min<size_t>(length, request.transferred);
    if (end < 3) {
        return {};
    }
    std::string id;
    for (size_t i = 2; i < end; ++i) {
        // Only printable text goes into the discovery line.
        if (reply[i] >= 0x20 && reply[i] != 0x7F) {
            id += static_cast<char>(reply[i]);
        }
    }
    return id;
}
