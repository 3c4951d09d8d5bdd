// The USB objects of the emulated printer: a bus that tests plug printers
// into, the device it hands out on arrival, and the printer's one interface.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "EmulatedPrinter.h"
#include "UsbBus.h"

namespace qzm::emu {

// The printer's interface. A started transfer is done at once; its
// completion runs in WaitForCompletion, on the waiting thread.
class EmulatedInterface final : public usb::UsbInterface {
  public:
    explicit EmulatedInterface(std::shared_ptr<EmulatedPrinter> printer)
        : printer_(std::move(printer)) {}
    ~EmulatedInterface() override;

    int OpenSeize() override;
    int Close() override;
    int GetConfigurationValue(uint8_t* value) override;
    int GetInterfaceNumber(uint8_t* number) override;
    int ControlRequest(usb::UsbControlRequest* request, uint32_t timeoutMs) override;
    int StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size, uint32_t noDataTimeoutMs,
                          uint32_t completionTimeoutMs, usb::UsbCompletion completion,
                          void* refCon) override;
    void WaitForCompletion() override;

  private:
    std::shared_ptr<EmulatedPrinter> printer_;
    bool open_ = false;
    usb::UsbCompletion completion_ = nullptr;
    void* refCon_ = nullptr;
    int status_ = 0;
    uint32_t moved_ = 0;
};

// The printer as a device: opens and lists its one interface.
class EmulatedDevice final : public usb::UsbDevice {
  public:
    explicit EmulatedDevice(std::shared_ptr<EmulatedPrinter> printer)
        : printer_(std::move(printer)) {}

    int OpenSeize() override;
    int Close() override;
    int GetInterfaces(std::vector<std::unique_ptr<usb::UsbInterface>>* interfaces) override;

  private:
    std::shared_ptr<EmulatedPrinter> printer_;
    bool open_ = false;
};

// A bus that tests plug printers into. Arrivals and removals are reported
// from the thread that causes them (Attach, Detach, or a transfer that
// unplugs the printer), like hotplug callbacks that run on whichever thread
// handles events; HandleEvents only waits until something was reported.
class EmulatedBus final : public usb::UsbBus {
  public:
    EmulatedBus() = default;
    ~EmulatedBus() override;

    int Start(uint16_t vendorId, uint16_t productId, usb::UsbEventHandler handler) override;
    void Stop() override;
    int HandleEvents(int timeoutMs) override;

    // Plugs a printer in (again); reported when its vendor/product match.
    void Attach(const std::shared_ptr<EmulatedPrinter>& printer);
    // Unplugs a printer: the same as printer->Remove().
    void Detach(const std::shared_ptr<EmulatedPrinter>& printer);

  private:
    void Report(const std::shared_ptr<EmulatedPrinter>& printer, usb::UsbEvent::Kind kind);
    bool Matches(const EmulatedPrinter& printer) const;

    std::mutex mutex_;  // guards everything below but the handler call
    std::mutex handlerMutex_;
    std::condition_variable reported_;
    uint64_t reports_ = 0;
    uint64_t seen_ = 0;
    bool started_ = false;
    uint16_t vendorId_ = 0;
    uint16_t productId_ = 0;
    usb::UsbEventHandler handler_;
    std::vector<std::shared_ptr<EmulatedPrinter>> attached_;
};

}  // namespace qzm::emu
