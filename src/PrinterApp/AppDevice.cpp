#include "AppDevice.h"

#include <cups/cups.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>

#include "PrinterLock.h"
#include "SerialNumber.h"

namespace qzm::app {

namespace {

constexpr char kMakeAndModel[] = "Orvane QZ-M480";
constexpr char kFallbackDeviceId[] = "MFG:Orvane;MDL:QZ-M480;CMD:QZM480;CLS:PRINTER;";

std::mutex gBusMutex;
backend::BusFactory gBus;

backend::BusFactory Bus() {
    std::lock_guard<std::mutex> hold(gBusMutex);
    return gBus;
}

// One open device: the lock, the printer and the sender of its stream.
struct OpenDevice {
    explicit OpenDevice(const std::string& serial) : lock(serial) {}

    PrinterLock lock;
    backend::Connection connection;
    StreamSender::Hooks hooks;
    std::unique_ptr<StreamSender> sender;
    bool failed = false;  // a write could not be completed
};

// The devices of this scheme that are open: a device of another scheme
// carries data of its own, which must not be taken for ours.
std::mutex gOpenMutex;
std::set<const void*> gOpen;

OpenDevice* DataOf(pappl_device_t* device) {
    void* data = device ? papplDeviceGetData(device) : nullptr;
    std::lock_guard<std::mutex> hold(gOpenMutex);
    return gOpen.count(data) != 0 ? static_cast<OpenDevice*>(data) : nullptr;
}

// URIs whose printer was not found at the last attempt to open it.
std::mutex gMissingMutex;
std::set<std::string> gMissing;

void NoteMissing(const std::string& uri, bool missing) {
    std::lock_guard<std::mutex> hold(gMissingMutex);
    if (missing) {
        gMissing.insert(uri);
    } else {
        gMissing.erase(uri);
    }
}

bool List(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
    const auto factory = Bus();
    auto bus = factory ? factory() : nullptr;
    if (!bus) {
        return false;
    }
    bool stopped = false;
    _VisitOfferablePrinters(*bus, [&](const std::string& serial, const std::string& id) {
        // A printer whose serial cannot name its lock file is not offered.
        if (!_IsSerialUsableAsName(serial)) {
            return false;
        }
        const std::string uri = _AppDeviceUri(serial);
        const std::string info = std::string(kMakeAndModel) + " USB " + serial;
        stopped = cb(info.c_str(), uri.c_str(), id.empty() ? kFallbackDeviceId : id.c_str(), data);
        return stopped;
    });
    return stopped;
}

bool Open(pappl_device_t* device, const char* uri, const char*) {
    std::string serial;
    if (!_SerialFromAppDeviceUri(uri ? uri : "", &serial)) {
        papplDeviceError(device, "The device URI does not name a QZ-M480.");
        return false;
    }
    auto open = std::make_unique<OpenDevice>(serial);
    // Without a lock folder (no rights to it) the printer is still used,
    // as the backend does.
    if (open->lock.TryLock() == PrinterLock::kLockBusy) {
        papplDeviceError(device, "The printer is in use by another program.");
        return false;
    }
    bool busy = false;
    open->connection = backend::FindPrinter(Bus(), serial, &busy);
    NoteMissing(uri, !open->connection.printer && !busy);
    if (!open->connection.printer) {
        papplDeviceError(device, busy ? "The printer is in use by another program."
                                      : "The printer is not connected.");
        return false;
    }
    StreamSender::Hooks hooks;
    hooks.sheetSent = [raw = open.get()]() {
        return raw->hooks.sheetSent ? raw->hooks.sheetSent() : SendResult::kDone;
    };
    open->sender = std::make_unique<StreamSender>(open->connection.printer->Interface(), hooks);
    {
        std::lock_guard<std::mutex> hold(gOpenMutex);
        gOpen.insert(open.get());
    }
    papplDeviceSetData(device, open.release());
    return true;
}

void Close(pappl_device_t* device) {
    // A packet cut short is never sent: the printer would take the next
    // job's first bytes for the rest of it.
    OpenDevice* open = DataOf(device);
    {
        std::lock_guard<std::mutex> hold(gOpenMutex);
        gOpen.erase(open);
    }
    delete open;
    papplDeviceSetData(device, nullptr);
}

ssize_t Read(pappl_device_t*, void*, size_t) {
    return -1;  // the printer's answers are read through the queries
}

ssize_t Write(pappl_device_t* device, const void* buffer, size_t bytes) {
    OpenDevice* open = DataOf(device);
    if (open == nullptr) {
        return -1;
    }
    const SendResult result = open->sender->Feed(static_cast<const uint8_t*>(buffer), bytes);
    open->failed = open->failed || result != SendResult::kDone;
    if (result == SendResult::kPrinterGone) {
        papplDeviceError(device, "The printer went away in the middle of the job.");
        return -1;
    }
    return result == SendResult::kDone ? static_cast<ssize_t>(bytes) : -1;
}

pappl_preason_t Status(pappl_device_t*) {
    return PAPPL_PREASON_NONE;  // the printer's status callback asks the printer
}

char* Id(pappl_device_t* device, char* buffer, size_t size) {
    OpenDevice* open = DataOf(device);
    if (open == nullptr || size == 0) {
        return nullptr;
    }
    const std::string id = open->connection.printer->ReadDeviceId();
    std::snprintf(buffer, size, "%s", id.empty() ? kFallbackDeviceId : id.c_str());
    return buffer;
}

}  // namespace

std::string _AppDeviceUri(std::string_view serial) {
    return std::string(kDeviceUriPrefix) + std::string(serial);
}

bool _SerialFromAppDeviceUri(std::string_view uri, std::string* serial) {
    const std::string_view prefix = kDeviceUriPrefix;
    if (uri.substr(0, prefix.size()) != prefix) {
        return false;
    }
    const std::string_view rest = uri.substr(prefix.size());
    if (rest.empty() || !_IsSerialUsableAsName(rest)) {
        return false;
    }
    *serial = std::string(rest);
    return true;
}

void _RegisterDeviceScheme(backend::BusFactory bus) {
    {
        std::lock_guard<std::mutex> hold(gBusMutex);
        gBus = std::move(bus);
    }
    papplDeviceAddScheme(kDeviceScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, List, Open, Close, Read, Write,
                         Status, Id);
}

bool _DeviceFailed(pappl_device_t* device) {
    OpenDevice* open = DataOf(device);
    return open != nullptr && open->failed;
}

bool _PrinterMissing(std::string_view uri) {
    std::lock_guard<std::mutex> hold(gMissingMutex);
    return gMissing.count(std::string(uri)) != 0;
}

usb::UsbInterface* _DeviceInterface(pappl_device_t* device) {
    OpenDevice* open = DataOf(device);
    return open ? open->connection.printer->Interface() : nullptr;
}

void _SetDeviceHooks(pappl_device_t* device, StreamSender::Hooks hooks) {
    if (OpenDevice* open = DataOf(device)) {
        open->hooks = std::move(hooks);
    }
}

}  // namespace qzm::app
