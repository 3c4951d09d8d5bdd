#include "DeviceMonitor.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>

#include "DeviceId.h"
#include "InfoFile.h"
#include "PhotoPrinterDevice.h"
#include "PrintQueue.h"
#include "StatusQueries.h"

namespace {

// The model as the record keeps it: at most 127 bytes, whole characters, and
// no control character, since it ends up in a line of the information file.
void CopyModel(const std::string& model, char (&field)[128]) {
    std::string text = _CutUtf8(model, sizeof field - 1);
    std::replace_if(
        text.begin(), text.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
}

}  // namespace

DeviceMonitor::DeviceMonitor(qzm::usb::UsbBus& bus, MonitorSettings settings)
    : bus_(bus), settings_(std::move(settings)) {
    if (!settings_.registerQueue) {
        settings_.registerQueue = CheckAndMake_PrintQueue;
    }
}

DeviceMonitor::~DeviceMonitor() {
    StopAll();
}

int DeviceMonitor::Start(uint16_t vendorId, uint16_t productId) {
    const int started = bus_.Start(vendorId, productId, [this](qzm::usb::UsbEvent event) {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(event));
    });
    if (started != qzm::usb::kUsbOk) {
        return started;
    }
    ProcessEvents();
    return qzm::usb::kUsbOk;
}

void DeviceMonitor::RunOnce(int timeoutMs) {
    bus_.HandleEvents(timeoutMs);
    ProcessEvents();
}

void DeviceMonitor::Run() {
    for (;;) {
        RunOnce(kEventWaitMs);
    }
}

size_t DeviceMonitor::WorkerCount() {
    std::lock_guard lock(m);
    return thDevData.size();
}

void DeviceMonitor::ProcessEvents() {
    for (;;) {
        qzm::usb::UsbEvent event;
        {
            std::lock_guard lock(eventsMutex_);
            if (events_.empty()) {
                return;
            }
            event = std::move(events_.front());
            events_.pop_front();
        }
        if (event.kind == qzm::usb::UsbEvent::Kind::kArrived) {
            DeviceAdded(event.id, std::move(event.device));
        } else {
            DeviceRemoved(event.id);
        }
    }
}

void DeviceMonitor::DeviceAdded(qzm::usb::UsbDeviceId service,
                                std::unique_ptr<qzm::usb::UsbDevice> device) {
    dealWithDevice(service, std::move(device));
}

void DeviceMonitor::dealWithDevice(qzm::usb::UsbDeviceId service,
                                   std::unique_ptr<qzm::usb::UsbDevice> device) {
    if (!device) {
        return;
    }
    // One worker per device: a repeated arrival of a device that has a
    // record is not a new device.
    {
        std::lock_guard lock(m);
        for (const auto& existing : thDevData) {
            if (existing->deviceService == service) {
                return;
            }
        }
    }
    auto owned = std::make_unique<thdata>();
    thdata* record = owned.get();
    record->deviceService = service;
    record->deviceInterface = std::move(device);
    // The record is listed before its worker starts, so that a removal that
    // follows at once finds it.
    {
        std::lock_guard lock(m);
        thDevData.push_back(std::move(owned));
    }
    try {
        record->workerThread = std::thread(&DeviceMonitor::thread_function, this, record);
    } catch (const std::system_error&) {
        // No worker: the device is ignored until it is plugged in again.
        std::lock_guard lock(m);
        std::erase_if(thDevData, [record](const auto& listed) { return listed.get() == record; });
    }
}

void DeviceMonitor::DeviceRemoved(qzm::usb::UsbDeviceId service) {
    // The record leaves the list at once, so nothing else can find, use or
    // free it; it is freed here once its worker has ended.
    std::unique_ptr<thdata> record = TakeRecord(service);
    if (!record) {
        return;
    }
    record->deviceRemoved = 1;
    { std::lock_guard lock(pauseMutex_); }
    pauseWake_.notify_all();
    if (record->workerThread.joinable()) {
        record->workerThread.join();
    }
    record->deviceInterface.reset();
}

std::unique_ptr<thdata> DeviceMonitor::TakeRecord(qzm::usb::UsbDeviceId service) {
    std::lock_guard lock(m);
    const auto found =
        std::find_if(thDevData.begin(), thDevData.end(),
                     [service](const auto& record) { return record->deviceService == service; });
    if (found == thDevData.end()) {
        return nullptr;
    }
    std::unique_ptr<thdata> record = std::move(*found);
    thDevData.erase(found);
    return record;
}

void DeviceMonitor::StopAll() {
    bus_.Stop();
    {
        std::lock_guard lock(eventsMutex_);
        events_.clear();
    }
    for (;;) {
        qzm::usb::UsbDeviceId service = nullptr;
        {
            std::lock_guard lock(m);
            if (thDevData.empty()) {
                return;
            }
            service = thDevData.front()->deviceService;
        }
        DeviceRemoved(service);
    }
}

void DeviceMonitor::Pause(thdata* record, std::chrono::milliseconds wait) {
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, wait, [record] { return record->deviceRemoved.load() != 0; });
}

void DeviceMonitor::thread_function(thdata* record) {
    while (!record->deviceRemoved) {
        if (record->serialKnown) {
            record->requestFlags = pdeFileCheck(record->serialNo);
        }
        if (record->requestFlags != 0 || !record->queueRegistered) {
            QueryPass(record);
        }
        record->requestFlags = 0;
        Pause(record, settings_.cycle);
    }
    // A printer whose serial was never read has no file of its own.
    if (record->serialKnown) {
        WriteFile(record->serialNo);
    }
    record->deviceInterface.reset();
}

void DeviceMonitor::QueryPass(thdata* record) {
    qzm::usb::UsbDevice* device = record->deviceInterface.get();
    if (!device || device->OpenSeize() != qzm::usb::kUsbOk) {
        return;
    }
    {
        std::vector<std::unique_ptr<qzm::usb::UsbInterface>> interfaces;
        if (device->GetInterfaces(&interfaces) == qzm::usb::kUsbOk) {
            for (auto& interface : interfaces) {
                dealWithInterface(interface.get(), record);
                interface.reset();
            }
        }
    }
    device->Close();
}

void DeviceMonitor::dealWithInterface(qzm::usb::UsbInterface* interface, thdata* record) {
    if (!interface || interface->OpenSeize() != qzm::usb::kUsbOk) {
        return;
    }
    if (!record->serialKnown) {
        if (GetSerialNo(interface, record->serialNo, sizeof record->serialNo) != -1) {
            record->serialKnown = 1;
        } else {
            Pause(record, settings_.serialRetry);
            if (GetSerialNo(interface, record->serialNo, sizeof record->serialNo) != -1) {
                record->serialKnown = 1;
            }
        }
    }
    if (!record->modelKnown) {
        uint8_t configurationValue = 0;
        uint8_t interfaceNumber = 0;
        if (interface->GetConfigurationValue(&configurationValue) == qzm::usb::kUsbOk &&
            interface->GetInterfaceNumber(&interfaceNumber) == qzm::usb::kUsbOk) {
            const std::optional<std::string> model =
                deviceIDCopyModel(_CopyDeviceId(interface, configurationValue, interfaceNumber));
            if (model) {
                CopyModel(*model, record->modelName);
                record->modelKnown = 1;
            }
        }
    }
    if (record->serialKnown && record->modelKnown) {
        if (!record->queueRegistered && settings_.registerQueue(record->serialNo)) {
            record->queueRegistered = 1;
        }
        WriteFile(interface, record);
    }
    interface->Close();
}
