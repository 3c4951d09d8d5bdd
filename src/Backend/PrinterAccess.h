// Finding QZ-M480 printers on the bus and holding one open for a job.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UsbBus.h"

// USB identifiers of the QZ-M480: the daemon's build constants.
inline constexpr uint16_t kPrinterVendorId = QZM480_USB_VENDOR_ID;
inline constexpr uint16_t kPrinterProductId = QZM480_USB_PRODUCT_ID;

// The printers attached now, unopened, in the order the bus reports them.
// Empty when the bus cannot be watched.
std::vector<std::unique_ptr<qzm::usb::UsbDevice>> _AttachedPrinters(qzm::usb::UsbBus& bus);

// Discovery: each attached printer that can be opened now (not busy with a
// job) and gives a serial, with its escaped serial and IEEE 1284 device ID
// (empty when it gives none), closed again before visit sees it. visit
// returns true to stop.
void _VisitOfferablePrinters(
    qzm::usb::UsbBus& bus,
    const std::function<bool(const std::string& serial, const std::string& deviceId)>& visit);

// One printer opened for exclusive use: the device and its first interface.
// Closing (or destroying) gives both back.
class OpenedPrinter {
  public:
    explicit OpenedPrinter(std::unique_ptr<qzm::usb::UsbDevice> device)
        : device_(std::move(device)) {}
    ~OpenedPrinter() { Close(); }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;

    // Opens the device and its first interface; kUsbOk, kUsbBusy when
    // another client holds it, or another qzm::usb code.
    int Open();
    void Close();
    qzm::usb::UsbInterface* Interface() const { return interface_; }

    // The escaped serial, or false when it cannot be read or cannot serve as
    // the printer's identity.
    bool ReadSerial(std::string* serial);
    // The IEEE 1284 device ID, or empty when the printer gives none.
    std::string ReadDeviceId();

  private:
    std::unique_ptr<qzm::usb::UsbDevice> device_;
    std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces_;
    qzm::usb::UsbInterface* interface_ = nullptr;
    bool deviceOpen_ = false;
};
