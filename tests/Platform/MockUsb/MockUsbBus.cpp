#include "MockUsbBus.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <glib/gstdio.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace qzm::test {
namespace {

// usbfs capabilities of a current kernel on a host controller with
// scatter-gather (so libusb sends each transfer as one URB), with URBs still
// reapable after a disconnect.
constexpr uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_BULK_SCATTER_GATHER |
    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr uint8_t kEndpointOut = 0x01;
constexpr uint8_t kEndpointIn = 0x82;

// Device descriptor, then the one configuration: a printer-class interface
// (7/1/2, bidirectional) with a bulk OUT and a bulk IN endpoint.
std::vector<uint8_t> Descriptors(const emu::PrinterState& state) {
    const uint8_t vid0 = state.vendorId & 0xFF, vid1 = state.vendorId >> 8;
    const uint8_t pid0 = state.productId & 0xFF, pid1 = state.productId >> 8;
    const std::vector<std::vector<uint8_t>> parts = {
        {18, 0x01, 0x00, 0x02, 0, 0, 0, 64, vid0, vid1, pid0, pid1, 0x00, 0x01, 1, 2, 3, 1},
        {9, 0x02, 32, 0, 1, state.configurationValue, 0, 0xC0, 1},
        {9, 0x04, state.interfaceNumber, 0, 2, 0x07, 0x01, 0x02, 0},
        {7, 0x05, kEndpointOut, 0x02, 0x00, 0x02, 0},  // bulk, 512-byte packets
        {7, 0x05, kEndpointIn, 0x02, 0x00, 0x02, 0},
    };
    std::vector<uint8_t> bytes;
    for (const auto& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Adds a device with its sysfs attributes and udev properties.
gchar* AddDevice(UMockdevTestbed* testbed, const char* name, const char* parent,
                 const Pairs& attributes, const Pairs& properties) {
    const auto list = [](const Pairs& pairs) {
        std::vector<gchar*> flat;
        for (const auto& [key, value] : pairs) {
            flat.push_back(const_cast<gchar*>(key.c_str()));
            flat.push_back(const_cast<gchar*>(value.c_str()));
        }
        flat.push_back(nullptr);
        return flat;
    };
    std::vector<gchar*> attributeList = list(attributes), propertyList = list(properties);
    return umockdev_testbed_add_devicev(testbed, "usb", name, parent, attributeList.data(),
                                        propertyList.data());
}

// The location of a /dev path inside the testbed.
std::string Rooted(UMockdevTestbed* testbed, const std::string& path) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    std::string rooted = std::string(root) + path;
    g_free(root);
    return rooted;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

// One URB between its submission and its reaping.
struct Urb {
    UMockdevIoctlClient* client = nullptr;  // referenced
    UMockdevIoctlData* urb = nullptr;       // the client's usbdevfs_urb, referenced
    UMockdevIoctlData* buffer = nullptr;    // its data buffer, referenced (may be null)
    std::vector<uint8_t> answer;            // bytes to hand back on reaping (IN)
    int status = 0;
    int actualLength = 0;

    void Release() {
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
        if (client)
            g_object_unref(client);
        buffer = nullptr;
        urb = nullptr;
        client = nullptr;
    }
};

// One plugged printer as the mocked kernel sees it.
struct Device {
    struct MockUsbBus::Impl* bus = nullptr;
    std::string syspath;
    std::string interfacePath;
    std::string devnode;
    std::shared_ptr<emu::EmulatedPrinter> printer;
    UMockdevIoctlBase* handler = nullptr;
    MockUsbCounters counters;
    bool gone = false;
    std::vector<Urb> pending;    // submitted, not completed
    std::vector<Urb> completed;  // completed, not reaped
};

}  // namespace

struct MockUsbBus::Impl {
    UMockdevTestbed* testbed = nullptr;
    mutable std::mutex mutex;                                // guards the devices' state below
    std::map<std::string, std::unique_ptr<Device>> devices;  // by sysfs path
    int nextAddress = 2;

    // Printers that unplugged themselves while a request was being answered;
    // their removal is announced once the request is done.
    std::mutex removalMutex;
    std::vector<std::string> removals;
    std::atomic<std::thread::id> handlerThread;

    static gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void Connected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data);
    static void Vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);

    long Answer(Device& device, UMockdevIoctlClient* client, int* error);
    long Submit(Device& device, UMockdevIoctlClient* client, int* error);
    long Reap(Device& device, UMockdevIoctlClient* client, int* error);
    long Discard(Device& device, UMockdevIoctlClient* client, int* error);
    void EndPending(Device& device, int status);
    void AnnounceRemovals();
    void Remove(const std::string& syspath);
};

namespace {

// The client memory that an ioctl argument points to, len bytes of it.
UMockdevIoctlData* Resolve(UMockdevIoctlClient* client, size_t len) {
    GError* error = nullptr;
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, len, &error);
    if (error)
        g_error_free(error);
    return data;
}

}  // namespace

gboolean MockUsbBus::Impl::HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                       gpointer data) {
    auto* device = static_cast<Device*>(data);
    Impl* self = device->bus;
    int error = 0;
    long result;
    {
        std::lock_guard lock(self->mutex);
        self->handlerThread = std::this_thread::get_id();
        result = self->Answer(*device, client, &error);
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? error : 0);
    self->AnnounceRemovals();
    return TRUE;
}

void MockUsbBus::Impl::Connected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* device = static_cast<Device*>(data);
    std::lock_guard lock(device->bus->mutex);
    ++device->counters.opens;
}

// Closing the node releases what the client held, as the kernel does.
void MockUsbBus::Impl::Vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* device = static_cast<Device*>(data);
    std::lock_guard lock(device->bus->mutex);
    if (device->counters.claimed) {
        device->counters.claimed = false;
        ++device->counters.releases;
    }
    for (auto* list : {&device->pending, &device->completed}) {
        for (auto it = list->begin(); it != list->end();) {
            if (it->client == client) {
                it->Release();
                it = list->erase(it);
            } else {
                ++it;
            }
        }
    }
    device->counters.pending = static_cast<int>(device->pending.size() + device->completed.size());
}

// Answers one usbfs request; returns the ioctl's result, setting *error when
// it is negative.
long MockUsbBus::Impl::Answer(Device& device, UMockdevIoctlClient* client, int* error) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    MockUsbCounters& counters = device.counters;
    const auto fail = [error](int code) {
        *error = code;
        return -1L;
    };
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        return Reap(device, client, error);
    }
    if (device.gone) {
        return fail(ENODEV);
    }
    const uint8_t interfaceNumber = device.printer->State().interfaceNumber;
    if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* caps = Resolve(client, sizeof(uint32_t));
        if (!caps)
            return fail(EFAULT);
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        g_object_unref(caps);
        return 0;
    }
    if (request == USBDEVFS_GETDRIVER) {
        UMockdevIoctlData* query = Resolve(client, sizeof(usbdevfs_getdriver));
        if (!query)
            return fail(EFAULT);
        auto* driver = reinterpret_cast<usbdevfs_getdriver*>(query->data);
        long result = 0;
        if (driver->interface != interfaceNumber) {
            result = fail(EINVAL);
        } else if (counters.claimed) {
            std::snprintf(driver->driver, sizeof driver->driver, "usbfs");
        } else if (counters.driverAttached) {
            std::snprintf(driver->driver, sizeof driver->driver, "usblp");
        } else {
            result = fail(ENODATA);
        }
        g_object_unref(query);
        return result;
    }
    if (request == USBDEVFS_IOCTL) {
        UMockdevIoctlData* command = Resolve(client, sizeof(usbdevfs_ioctl));
        if (!command)
            return fail(EFAULT);
        const usbdevfs_ioctl ioctl = *reinterpret_cast<usbdevfs_ioctl*>(command->data);
        g_object_unref(command);
        if (ioctl.ifno != interfaceNumber)
            return fail(EINVAL);
        if (ioctl.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (!counters.driverAttached)
                return fail(ENODATA);
            counters.driverAttached = false;
            ++counters.driverDetaches;
            return 0;
        }
        if (ioctl.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (counters.claimed)
                return fail(EBUSY);
            if (!counters.driverAttached) {
                counters.driverAttached = true;
                ++counters.driverAttaches;
            }
            return 0;
        }
        return fail(ENOTTY);
    }
    if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE) {
        UMockdevIoctlData* number = Resolve(client, sizeof(unsigned int));
        if (!number)
            return fail(EFAULT);
        unsigned int ifno;
        std::memcpy(&ifno, number->data, sizeof ifno);
        g_object_unref(number);
        if (ifno != interfaceNumber)
            return fail(EINVAL);
        if (request == USBDEVFS_CLAIMINTERFACE) {
            if (counters.driverAttached)
                return fail(EBUSY);  // the printer driver holds it
            if (device.printer->OpenInterface() != usb::kUsbOk)
                return fail(EBUSY);
            if (!counters.claimed)
                ++counters.claims;
            counters.claimed = true;
            return 0;
        }
        if (!counters.claimed)
            return fail(EINVAL);
        device.printer->CloseInterface();
        counters.claimed = false;
        ++counters.releases;
        return 0;
    }
    if (request == USBDEVFS_SETCONFIGURATION) {
        UMockdevIoctlData* value = Resolve(client, sizeof(int));
        if (!value)
            return fail(EFAULT);
        int configuration;
        std::memcpy(&configuration, value->data, sizeof configuration);
        g_object_unref(value);
        if (counters.claimed)
            return fail(EBUSY);
        const int ours = device.printer->State().configurationValue;
        return configuration == ours || configuration == -1 ? 0 : fail(EINVAL);
    }
    if (request == USBDEVFS_SETINTERFACE) {
        UMockdevIoctlData* value = Resolve(client, sizeof(usbdevfs_setinterface));
        if (!value)
            return fail(EFAULT);
        const usbdevfs_setinterface set = *reinterpret_cast<usbdevfs_setinterface*>(value->data);
        g_object_unref(value);
        return set.interface == interfaceNumber && set.altsetting == 0 ? 0 : fail(EINVAL);
    }
    if (request == USBDEVFS_CLEAR_HALT || request == USBDEVFS_RESET) {
        return 0;
    }
    if (request == USBDEVFS_SUBMITURB) {
        return Submit(device, client, error);
    }
    if (request == USBDEVFS_DISCARDURB) {
        return Discard(device, client, error);
    }
    return fail(ENOTTY);
}

// Hands a bulk or control URB to the printer. Whatever the printer answers at
// once completes the URB; a read with nothing to read stays pending.
long MockUsbBus::Impl::Submit(Device& device, UMockdevIoctlClient* client, int* error) {
    Urb urb;
    urb.urb = Resolve(client, sizeof(usbdevfs_urb));
    if (!urb.urb) {
        *error = EFAULT;
        return -1;
    }
    auto* request = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    const auto fail = [&](int code) {
        urb.Release();
        *error = code;
        return -1L;
    };
    if (request->buffer_length < 0)
        return fail(EINVAL);
    const size_t length = static_cast<size_t>(request->buffer_length);
    if (length > 0) {
        GError* problem = nullptr;
        urb.buffer =
            umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer), length, &problem);
        if (problem)
            g_error_free(problem);
        if (!urb.buffer)
            return fail(EFAULT);
    }
    uint8_t* bytes = urb.buffer ? urb.buffer->data : nullptr;
    bool completes = true;
    if (request->type == USBDEVFS_URB_TYPE_CONTROL && request->endpoint == 0) {
        if (length < 8)
            return fail(EINVAL);
        usb::UsbControlRequest control;
        control.requestType = bytes[0];
        control.request = bytes[1];
        control.value = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
        control.index = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
        control.length = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
        if (control.length > length - 8)
            return fail(EINVAL);
        std::vector<uint8_t> reply(control.length);
        control.data = reply.data();
        const int done = device.printer->ControlRequest(&control);
        if (done == usb::kUsbNoDevice)
            return fail(ENODEV);
        urb.status = done == usb::kUsbOk ? 0 : -EPIPE;
        urb.answer.assign(8, 0);  // the setup packet stays as it was
        std::memcpy(urb.answer.data(), bytes, 8);
        urb.answer.insert(urb.answer.end(), reply.begin(), reply.begin() + control.transferred);
        urb.actualLength = static_cast<int>(control.transferred);
    } else if (request->type == USBDEVFS_URB_TYPE_BULK &&
               (request->endpoint == kEndpointOut || request->endpoint == kEndpointIn)) {
        if (!device.counters.claimed)
            return fail(EINVAL);  // the kernel wants a claim first
        const bool out = request->endpoint == kEndpointOut;
        std::vector<uint8_t> data(out ? bytes : nullptr, out ? bytes + length : nullptr);
        data.resize(length);
        int status = 0;
        uint32_t moved = 0;
        const int started =
            device.printer->StartTransfer(out ? usb::kPipeBulkOut : usb::kPipeBulkIn, data.data(),
                                          static_cast<uint32_t>(length), &status, &moved);
        if (started == usb::kUsbNoDevice)
            return fail(ENODEV);
        if (started != usb::kUsbOk)
            return fail(EINVAL);
        urb.actualLength = static_cast<int>(moved);
        if (!out) {
            urb.answer.assign(data.begin(), data.begin() + moved);
        }
        switch (status) {
            case usb::kUsbOk:
                break;
            case usb::kUsbStall:
                urb.status = -EPIPE;
                break;
            case usb::kUsbNoDevice:
                urb.status = -ESHUTDOWN;
                break;
            case usb::kUsbTimedOut:
                // A short read ends the transfer on a real bus; nothing at
                // all leaves it waiting for the host's time-out.
                completes = moved > 0;
                break;
            default:
                urb.status = -EPROTO;
                break;
        }
    } else {
        return fail(ENOENT);
    }
    if (device.printer->Removed() && !device.gone) {
        std::lock_guard lock(removalMutex);
        removals.push_back(device.syspath);
    }
    urb.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    ++device.counters.submitted;
    (completes ? device.completed : device.pending).push_back(std::move(urb));
    device.counters.pending = static_cast<int>(device.pending.size() + device.completed.size());
    return 0;
}

// Hands back the oldest completed URB of this client: its status, length and
// (for reads) the bytes, then the URB's own address in the client's pointer.
long MockUsbBus::Impl::Reap(Device& device, UMockdevIoctlClient* client, int* error) {
    auto it = device.completed.begin();
    while (it != device.completed.end() && it->client != client)
        ++it;
    if (it == device.completed.end()) {
        *error = device.gone ? ENODEV : EAGAIN;
        return -1;
    }
    Urb urb = std::move(*it);
    device.completed.erase(it);
    device.counters.pending = static_cast<int>(device.pending.size() + device.completed.size());
    auto* request = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    request->status = urb.status;
    request->actual_length = urb.actualLength;
    if (urb.buffer && !urb.answer.empty()) {
        const size_t count = std::min<size_t>(urb.answer.size(), urb.buffer->data_len);
        std::memcpy(urb.buffer->data, urb.answer.data(), count);
    }
    UMockdevIoctlData* slot = Resolve(client, sizeof(void*));
    long result = 0;
    if (!slot || !umockdev_ioctl_data_set_ptr(slot, 0, urb.urb)) {
        *error = EFAULT;
        result = -1;
    } else {
        ++device.counters.reaped;
    }
    if (slot)
        g_object_unref(slot);
    urb.Release();
    return result;
}

// Cancels a pending URB: it completes with ENOENT, as an unlinked URB does.
long MockUsbBus::Impl::Discard(Device& device, UMockdevIoctlClient* client, int* error) {
    const gulong address = *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
    for (auto it = device.pending.begin(); it != device.pending.end(); ++it) {
        if (it->client == client && it->urb->client_addr == address) {
            it->status = -ENOENT;
            it->actualLength = 0;
            device.completed.push_back(std::move(*it));
            device.pending.erase(it);
            ++device.counters.discarded;
            return 0;
        }
    }
    *error = EINVAL;  // already completed, or not ours
    return -1;
}

// Ends every pending URB with a status, as the kernel does on a disconnect.
void MockUsbBus::Impl::EndPending(Device& device, int status) {
    for (Urb& urb : device.pending) {
        urb.status = status;
        urb.actualLength = 0;
        device.completed.push_back(std::move(urb));
    }
    device.pending.clear();
}

void MockUsbBus::Impl::AnnounceRemovals() {
    std::vector<std::string> list;
    {
        std::lock_guard lock(removalMutex);
        list.swap(removals);
    }
    for (const std::string& syspath : list) {
        Remove(syspath);
    }
}

void MockUsbBus::Impl::Remove(const std::string& syspath) {
    std::shared_ptr<emu::EmulatedPrinter> printer;
    std::string interfacePath, devnode;
    {
        std::lock_guard lock(mutex);
        auto found = devices.find(syspath);
        if (found == devices.end() || found->second->gone)
            return;
        Device& device = *found->second;
        device.gone = true;
        device.counters.claimed = false;
        EndPending(device, -ESHUTDOWN);
        printer = device.printer;
        interfacePath = device.interfacePath;
        devnode = device.devnode;
    }
    printer->SetRemovalListener(nullptr);
    if (!printer->Removed()) {
        printer->Remove();
    }
    umockdev_testbed_uevent(testbed, interfacePath.c_str(), "remove");
    umockdev_testbed_uevent(testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, interfacePath.c_str());
    umockdev_testbed_remove_device(testbed, syspath.c_str());
    g_unlink(Rooted(testbed, devnode).c_str());
}

bool MockUsbBus::Available(std::string* why) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload"))
        return true;
    if (why) {
        *why =
            "umockdev's preload library is not loaded (run under umockdev-wrapper or with "
            "LD_PRELOAD=libumockdev-preload.so.0)";
    }
    return false;
}

MockUsbBus::MockUsbBus() : impl_(std::make_unique<Impl>()) {
    impl_->testbed = umockdev_testbed_new();
}

MockUsbBus::~MockUsbBus() {
    for (auto& [syspath, device] : impl_->devices) {
        device->printer->SetRemovalListener(nullptr);
        GError* error = nullptr;
        umockdev_testbed_detach_ioctl(impl_->testbed, device->devnode.c_str(), &error);
        if (error)
            g_error_free(error);
        g_object_unref(device->handler);
        for (auto* list : {&device->pending, &device->completed}) {
            for (Urb& urb : *list)
                urb.Release();
        }
    }
    g_object_unref(impl_->testbed);
}

std::string MockUsbBus::Plug(std::shared_ptr<emu::EmulatedPrinter> printer, bool announce) {
    printer->Plug();
    const emu::PrinterState state = printer->State();
    const int address = impl_->nextAddress++;
    char name[32], devnode[64], product[32], minor[16];
    std::snprintf(name, sizeof name, "1-%d", address - 1);
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", address);
    std::snprintf(product, sizeof product, "%x/%x/100", state.vendorId, state.productId);
    std::snprintf(minor, sizeof minor, "%d", address - 1);
    const std::string vendorId = Hex4(state.vendorId), productId = Hex4(state.productId);
    const std::string devnum = std::to_string(address), dev = std::string("189:") + minor;
    const std::string configuration = std::to_string(state.configurationValue);

    // sysfs attributes end with a newline, as the kernel writes them.
    const auto line = [](std::string text) { return text + "\n"; };
    const Pairs deviceAttributes = {
        {"idVendor", line(vendorId)},      {"idProduct", line(productId)},
        {"bcdDevice", line("0100")},       {"bDeviceClass", line("00")},
        {"bNumConfigurations", line("1")}, {"bConfigurationValue", line(configuration)},
        {"bNumInterfaces", line(" 1")},    {"busnum", line("1")},
        {"devnum", line(devnum)},          {"speed", line("480")},
        {"manufacturer", line("Orvane")},  {"product", line("QZ-M480")},
        {"serial", line(state.serial)},    {"dev", line(dev)}};
    const Pairs deviceProperties = {
        {"DEVTYPE", "usb_device"},  {"DEVNAME", devnode},
        {"BUSNUM", "001"},          {"DEVNUM", std::string(devnode).substr(17)},
        {"MAJOR", "189"},           {"MINOR", minor},
        {"PRODUCT", product},       {"TYPE", "0/0/0"},
        {"ID_VENDOR_ID", vendorId}, {"ID_MODEL_ID", productId}};
    gchar* syspath = AddDevice(impl_->testbed, name, nullptr, deviceAttributes, deviceProperties);
    std::vector<uint8_t> descriptors = Descriptors(state);
    umockdev_testbed_set_attribute_binary(impl_->testbed, syspath, "descriptors",
                                          descriptors.data(), static_cast<int>(descriptors.size()));
    const std::string interfaceName =
        std::string(name) + ":" + configuration + "." + std::to_string(state.interfaceNumber);
    char interfaceNumber[8];
    std::snprintf(interfaceNumber, sizeof interfaceNumber, "%02x", state.interfaceNumber);
    const Pairs interfaceAttributes = {{"bInterfaceNumber", line(interfaceNumber)},
                                       {"bAlternateSetting", line(" 0")},
                                       {"bNumEndpoints", line("02")},
                                       {"bInterfaceClass", line("07")},
                                       {"bInterfaceSubClass", line("01")},
                                       {"bInterfaceProtocol", line("02")}};
    const Pairs interfaceProperties = {{"DEVTYPE", "usb_interface"},
                                       {"PRODUCT", product},
                                       {"TYPE", "0/0/0"},
                                       {"INTERFACE", "7/1/2"},
                                       {"DRIVER", "usblp"}};
    gchar* interfacePath = AddDevice(impl_->testbed, interfaceName.c_str(), syspath,
                                     interfaceAttributes, interfaceProperties);
    // The device node: umockdev gives it the character device's numbers, and
    // opening it connects to the ioctl handler attached below.
    const std::string nodeFile = Rooted(impl_->testbed, devnode);
    g_mkdir_with_parents(Rooted(impl_->testbed, "/dev/bus/usb/001").c_str(), 0755);
    g_file_set_contents(nodeFile.c_str(), "", 0, nullptr);

    auto device = std::make_unique<Device>();
    device->bus = impl_.get();
    device->syspath = syspath;
    device->interfacePath = interfacePath;
    device->devnode = devnode;
    device->printer = printer;
    device->handler = umockdev_ioctl_base_new();
    g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(&Impl::HandleIoctl), device.get());
    g_signal_connect(device->handler, "client-connected", G_CALLBACK(&Impl::Connected),
                     device.get());
    g_signal_connect(device->handler, "client-vanished", G_CALLBACK(&Impl::Vanished), device.get());
    GError* error = nullptr;
    umockdev_testbed_attach_ioctl(impl_->testbed, devnode, device->handler, &error);
    if (error) {
        std::fprintf(stderr, "umockdev: %s\n", error->message);
        g_error_free(error);
    }
    const std::string path = syspath;
    g_free(syspath);
    g_free(interfacePath);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->devices[path] = std::move(device);
    }
    // A printer that unplugs itself outside a request (Remove() from a test)
    // leaves the bus at once; inside a request, once it is answered.
    Impl* impl = impl_.get();
    printer->SetRemovalListener([impl, path] {
        if (std::this_thread::get_id() == impl->handlerThread) {
            std::lock_guard lock(impl->removalMutex);
            impl->removals.push_back(path);
        } else {
            impl->Remove(path);
        }
    });
    if (announce) {
        umockdev_testbed_uevent(impl_->testbed, path.c_str(), "add");
    }
    return path;
}

void MockUsbBus::Unplug(const std::string& syspath) {
    impl_->Remove(syspath);
}

MockUsbCounters MockUsbBus::Counters(const std::string& syspath) const {
    std::lock_guard lock(impl_->mutex);
    auto found = impl_->devices.find(syspath);
    return found == impl_->devices.end() ? MockUsbCounters{} : found->second->counters;
}

}  // namespace qzm::test
