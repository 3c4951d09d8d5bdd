#include "EmulatedUsb.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace qzm::emu {

EmulatedInterface::~EmulatedInterface() {
    WaitForCompletion();
    if (open_) {
        Close();
    }
}

int EmulatedInterface::OpenSeize() {
    if (open_) {
        return usb::kUsbOk;
    }
    const int opened = printer_->OpenInterface();
    open_ = opened == usb::kUsbOk;
    return opened;
}

int EmulatedInterface::Close() {
    if (!open_) {
        return usb::kUsbError;
    }
    open_ = false;
    printer_->CloseInterface();
    return usb::kUsbOk;
}

int EmulatedInterface::GetConfigurationValue(uint8_t* value) {
    if (!value) {
        return usb::kUsbError;
    }
    *value = printer_->State().configurationValue;
    return usb::kUsbOk;
}

int EmulatedInterface::GetInterfaceNumber(uint8_t* number) {
    if (!number) {
        return usb::kUsbError;
    }
    *number = printer_->State().interfaceNumber;
    return usb::kUsbOk;
}

int EmulatedInterface::ControlRequest(usb::UsbControlRequest* request, uint32_t) {
    if (!request) {
        return usb::kUsbError;
    }
    return printer_->ControlRequest(request);
}

int EmulatedInterface::StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size, uint32_t,
                                         uint32_t, usb::UsbCompletion completion, void* refCon) {
    if (completion_ || !open_ || !completion || (size > 0 && !buffer)) {
        return usb::kUsbError;
    }
    const int started = printer_->StartTransfer(pipe, buffer, size, &status_, &moved_);
    if (started != usb::kUsbOk) {
        return started;
    }
    completion_ = completion;
    refCon_ = refCon;
    return usb::kUsbOk;
}

void EmulatedInterface::WaitForCompletion() {
    if (!completion_) {
        return;
    }
    const usb::UsbCompletion completion = completion_;
    completion_ = nullptr;
    completion(refCon_, status_, reinterpret_cast<void*>(static_cast<uintptr_t>(moved_)));
}

int EmulatedDevice::OpenSeize() {
    if (open_) {
        return usb::kUsbOk;
    }
    const int opened = printer_->OpenDevice();
    open_ = opened == usb::kUsbOk;
    return opened;
}

int EmulatedDevice::Close() {
    if (!open_) {
        return usb::kUsbError;
    }
    open_ = false;
    return usb::kUsbOk;
}

int EmulatedDevice::GetInterfaces(std::vector<std::unique_ptr<usb::UsbInterface>>* interfaces) {
    if (!interfaces || !open_) {
        return usb::kUsbError;
    }
    interfaces->clear();
    interfaces->push_back(printer_->CreateInterface());
    return usb::kUsbOk;
}

EmulatedBus::~EmulatedBus() {
    Stop();
    std::lock_guard lock(mutex_);
    for (const auto& printer : attached_) {
        printer->SetRemovalListener(nullptr);
    }
}

int EmulatedBus::Start(uint16_t vendorId, uint16_t productId, usb::UsbEventHandler handler) {
    std::vector<std::shared_ptr<EmulatedPrinter>> present;
    {
        std::lock_guard lock(mutex_);
        if (started_ || !handler) {
            return usb::kUsbError;
        }
        vendorId_ = vendorId;
        productId_ = productId;
        handler_ = std::move(handler);
        started_ = true;
        present = attached_;
    }
    for (const auto& printer : present) {
        Report(printer, usb::UsbEvent::Kind::kArrived);
    }
    return usb::kUsbOk;
}

void EmulatedBus::Stop() {
    std::lock_guard handlerLock(handlerMutex_);
    std::lock_guard lock(mutex_);
    started_ = false;
    handler_ = nullptr;
}

int EmulatedBus::HandleEvents(int timeoutMs) {
    std::unique_lock lock(mutex_);
    reported_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                       [this] { return reports_ != seen_; });
    seen_ = reports_;
    return usb::kUsbOk;
}

void EmulatedBus::Attach(const std::shared_ptr<EmulatedPrinter>& printer) {
    printer->Plug();
    {
        std::lock_guard lock(mutex_);
        if (std::find(attached_.begin(), attached_.end(), printer) == attached_.end()) {
            attached_.push_back(printer);
        }
    }
    std::weak_ptr<EmulatedPrinter> weak = printer;
    printer->SetRemovalListener([this, weak] {
        if (auto gone = weak.lock()) {
            {
                std::lock_guard lock(mutex_);
                attached_.erase(std::remove(attached_.begin(), attached_.end(), gone),
                                attached_.end());
            }
            gone->SetRemovalListener(nullptr);
            Report(gone, usb::UsbEvent::Kind::kRemoved);
        }
    });
    Report(printer, usb::UsbEvent::Kind::kArrived);
}

void EmulatedBus::Detach(const std::shared_ptr<EmulatedPrinter>& printer) {
    printer->Remove();
}

bool EmulatedBus::Matches(const EmulatedPrinter& printer) const {
    const PrinterState state = printer.State();
    return state.vendorId == vendorId_ && state.productId == productId_;
}

void EmulatedBus::Report(const std::shared_ptr<EmulatedPrinter>& printer,
                         usb::UsbEvent::Kind kind) {
    std::lock_guard handlerLock(handlerMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!started_ || !Matches(*printer)) {
            return;
        }
    }
    usb::UsbEvent event;
    event.kind = kind;
    event.id = printer->Id();
    if (kind == usb::UsbEvent::Kind::kArrived) {
        event.device = printer->CreateDevice();
    }
    handler_(std::move(event));
    {
        std::lock_guard lock(mutex_);
        ++reports_;
    }
    reported_.notify_all();
}

}  // namespace qzm::emu
