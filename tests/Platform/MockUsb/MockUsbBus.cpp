#include "MockUsbBus.h"

#include <glib/gstdio.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
std::vector<uint8_t> Descriptors(const emu::PrinterState& s) {
    return {18, 0x01, 0x00, 0x02, 0, 0, 0, 64, static_cast<uint8_t>(s.vendorId & 0xFF),
            static_cast<uint8_t>(s.vendorId >> 8), static_cast<uint8_t>(s.productId & 0xFF),
            static_cast<uint8_t>(s.productId >> 8), 0x00, 0x01, 1, 2, 3, 1,
            9, 0x02, 32, 0, 1, s.configurationValue, 0, 0xC0, 1,
            9, 0x04, s.interfaceNumber, 0, 2, 0x07, 0x01, 0x02, 0,
            7, 0x05, kEndpointOut, 0x02, 0x00, 0x02, 0,  // bulk, 512-byte packets
            7, 0x05, kEndpointIn, 0x02, 0x00, 0x02, 0};
}

std::string Rooted(UMockdevTestbed* testbed, const std::string& path) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    std::string rooted = std::string(root) + path;
    g_free(root);
    return rooted;
}

// The client memory an ioctl argument points to, size bytes of it.
UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t size) {
    return umockdev_ioctl_data_resolve(data, offset, size, nullptr);
}

// The ioctl's argument, read and written in place in the client's memory.
template <typename T>
class Argument {
  public:
    explicit Argument(UMockdevIoctlClient* client)
        : data_(Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(T))) {}
    ~Argument() { g_object_unref(data_); }
    T& operator*() { return *reinterpret_cast<T*>(data_->data); }
    T* operator->() { return &**this; }

  private:
    UMockdevIoctlData* data_;
};

// One URB between its submission and its reaping.
struct Urb {
    UMockdevIoctlClient* client = nullptr;  // each referenced, released by Release
    UMockdevIoctlData* urb = nullptr;       // the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;    // its data buffer (may be null)
    std::vector<uint8_t> answer;            // bytes to hand back on reaping (IN)
    int status = 0;
    int actualLength = 0;

    void Release() {
        for (gpointer object : {gpointer(buffer), gpointer(urb), gpointer(client)}) {
            if (object)
                g_object_unref(object);
        }
        buffer = nullptr, urb = nullptr, client = nullptr;
    }
};

// One plugged printer as the mocked kernel sees it.
struct Device {
    struct MockUsbBus::Impl* bus = nullptr;
    std::string syspath, devnode;
    std::shared_ptr<emu::EmulatedPrinter> printer;
    UMockdevIoctlBase* handler = nullptr;
    MockUsbCounters counters;
    bool gone = false;
    std::vector<Urb> pending;    // submitted, not completed
    std::vector<Urb> completed;  // completed, not reaped

    void Count() { counters.pending = static_cast<int>(pending.size() + completed.size()); }
};

}  // namespace

struct MockUsbBus::Impl {
    UMockdevTestbed* testbed = nullptr;
    mutable std::mutex mutex;  // guards the devices' state
    std::map<std::string, std::unique_ptr<Device>> devices;  // by sysfs path
    int nextAddress = 2;
    // Printers that unplugged themselves while a request was being answered;
    // their removal is announced once the request is done.
    std::mutex removalMutex;
    std::vector<std::string> removals;
    std::atomic<std::thread::id> handlerThread;

    static gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    long Answer(Device& device, UMockdevIoctlClient* client, int* error);
    long Submit(Device& device, UMockdevIoctlClient* client, int* error);
    long Reap(Device& device, UMockdevIoctlClient* client, int* error);
    void Remove(const std::string& syspath);
};

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
    std::vector<std::string> list;
    {
        std::lock_guard lock(self->removalMutex);
        list.swap(self->removals);
    }
    for (const std::string& syspath : list) {
        self->Remove(syspath);
    }
    return TRUE;
}

// Answers one usbfs request; returns the ioctl's result, setting *error when
// it is negative.
long MockUsbBus::Impl::Answer(Device& device, UMockdevIoctlClient* client, int* error) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    MockUsbCounters& state = device.counters;
    const auto fail = [error](int code) {
        *error = code;
        return -1L;
    };
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        return Reap(device, client, error);
    if (device.gone)
        return fail(ENODEV);
    const unsigned ours = device.printer->State().interfaceNumber;
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *Argument<uint32_t>(client) = kCapabilities;
            return 0;
        case USBDEVFS_GETDRIVER: {
            Argument<usbdevfs_getdriver> driver(client);
            const char* name = state.claimed ? "usbfs" : state.driverAttached ? "usblp" : nullptr;
            if (driver->interface != ours || !name)
                return fail(driver->interface != ours ? EINVAL : ENODATA);
            std::snprintf(driver->driver, sizeof driver->driver, "%s", name);
            return 0;
        }
        case USBDEVFS_IOCTL: {  // the printer driver taken away or given back
            Argument<usbdevfs_ioctl> command(client);
            if (static_cast<unsigned>(command->ifno) != ours)
                return fail(EINVAL);
            if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                const bool attached = std::exchange(state.driverAttached, false);
                return attached ? 0 : fail(ENODATA);
            }
            if (command->ioctl_code != static_cast<int>(USBDEVFS_CONNECT))
                return fail(ENOTTY);
            if (state.claimed)
                return fail(EBUSY);
            state.driverAttached = true;
            return 0;
        }
        case USBDEVFS_CLAIMINTERFACE:
            if (*Argument<unsigned>(client) != ours)
                return fail(EINVAL);
            if (state.driverAttached || device.printer->OpenInterface() != usb::kUsbOk)
                return fail(EBUSY);  // the printer driver holds it, or the printer refuses
            state.claimed = true;
            return 0;
        case USBDEVFS_RELEASEINTERFACE:
            if (*Argument<unsigned>(client) != ours || !state.claimed)
                return fail(EINVAL);
            device.printer->CloseInterface();
            state.claimed = false;
            return 0;
        case USBDEVFS_SUBMITURB:
            return Submit(device, client, error);
        case USBDEVFS_DISCARDURB: {
            // A pending URB completes with ENOENT, as an unlinked URB does.
            const gulong address =
                *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
            auto it = std::find_if(device.pending.begin(), device.pending.end(), [&](Urb& urb) {
                return urb.client == client && urb.urb->client_addr == address;
            });
            if (it == device.pending.end())
                return fail(EINVAL);  // already completed, or not ours
            it->status = -ENOENT;
            it->actualLength = 0;
            device.completed.push_back(std::move(*it));
            device.pending.erase(it);
            return 0;
        }
        default:
            return fail(ENOTTY);
    }
}

// Hands a bulk or control URB to the printer. Whatever the printer answers at
// once completes the URB; a read with nothing to read stays pending.
long MockUsbBus::Impl::Submit(Device& device, UMockdevIoctlClient* client, int* error) {
    Urb urb;
    urb.urb = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    auto* request = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    const size_t length = static_cast<size_t>(request->buffer_length);
    if (length > 0)
        urb.buffer = Resolve(urb.urb, offsetof(usbdevfs_urb, buffer), length);
    uint8_t* bytes = urb.buffer ? urb.buffer->data : nullptr;
    const auto fail = [&](int code) {
        urb.Release();
        *error = code;
        return -1L;
    };
    bool completes = true;
    if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
        const auto word = [bytes](int at) {
            return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
        };
        usb::UsbControlRequest control{bytes[0], bytes[1], word(2), word(4), word(6)};
        std::vector<uint8_t> reply(control.length);
        control.data = reply.data();
        const int done = device.printer->ControlRequest(&control);
        if (done == usb::kUsbNoDevice)
            return fail(ENODEV);
        urb.status = done == usb::kUsbOk ? 0 : -EPIPE;
        urb.answer.assign(bytes, bytes + 8);  // the setup packet stays as it was
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
        if (started != usb::kUsbOk)
            return fail(started == usb::kUsbNoDevice ? ENODEV : EINVAL);
        urb.actualLength = static_cast<int>(moved);
        if (!out)
            urb.answer.assign(data.begin(), data.begin() + moved);
        // A short read ends the transfer on a real bus; nothing at all leaves
        // it waiting for the host's time-out.
        completes = status != usb::kUsbTimedOut || moved > 0;
        urb.status = status == usb::kUsbOk || status == usb::kUsbTimedOut ? 0
                     : status == usb::kUsbStall                         ? -EPIPE
                     : status == usb::kUsbNoDevice                      ? -ESHUTDOWN
                                                                        : -EPROTO;
    } else {
        return fail(ENOENT);
    }
    if (device.printer->Removed() && !device.gone) {
        std::lock_guard lock(removalMutex);
        removals.push_back(device.syspath);
    }
    urb.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    (completes ? device.completed : device.pending).push_back(std::move(urb));
    device.Count();
    return 0;
}

// Hands back the oldest completed URB of this client: its status, length and
// (for reads) the bytes, then the URB's own address in the client's pointer.
long MockUsbBus::Impl::Reap(Device& device, UMockdevIoctlClient* client, int* error) {
    auto it = std::find_if(device.completed.begin(), device.completed.end(),
                           [client](const Urb& urb) { return urb.client == client; });
    if (it == device.completed.end()) {
        *error = device.gone ? ENODEV : EAGAIN;
        return -1;
    }
    Urb urb = std::move(*it);
    device.completed.erase(it);
    device.Count();
    auto* request = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    request->status = urb.status;
    request->actual_length = urb.actualLength;
    if (urb.buffer && !urb.answer.empty()) {
        std::memcpy(urb.buffer->data, urb.answer.data(),
                    std::min<size_t>(urb.answer.size(), urb.buffer->data_len));
    }
    UMockdevIoctlData* slot = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
    umockdev_ioctl_data_set_ptr(slot, 0, urb.urb);
    g_object_unref(slot);
    urb.Release();
    return 0;
}

void MockUsbBus::Impl::Remove(const std::string& syspath) {
    std::shared_ptr<emu::EmulatedPrinter> printer;
    std::string devnode;
    {
        std::lock_guard lock(mutex);
        auto found = devices.find(syspath);
        if (found == devices.end() || found->second->gone)
            return;
        Device& device = *found->second;
        device.gone = true;
        device.counters.claimed = false;
        // Pending URBs end, as the kernel ends them on a disconnect.
        for (Urb& urb : device.pending) {
            urb.status = -ESHUTDOWN;
            urb.actualLength = 0;
            device.completed.push_back(std::move(urb));
        }
        device.pending.clear();
        printer = device.printer;
        devnode = device.devnode;
    }
    printer->SetRemovalListener(nullptr);
    if (!printer->Removed())
        printer->Remove();
    umockdev_testbed_uevent(testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, syspath.c_str());
    g_unlink(Rooted(testbed, devnode).c_str());
}

bool MockUsbBus::Available(std::string* why) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload"))
        return true;
    if (why)
        *why = "umockdev's preload library is not loaded (run under umockdev-wrapper or with "
               "LD_PRELOAD=libumockdev-preload.so.0)";
    return false;
}

MockUsbBus::MockUsbBus() : impl_(std::make_unique<Impl>()) {
    impl_->testbed = umockdev_testbed_new();
}

MockUsbBus::~MockUsbBus() {
    for (auto& [syspath, device] : impl_->devices) {
        device->printer->SetRemovalListener(nullptr);
        umockdev_testbed_detach_ioctl(impl_->testbed, device->devnode.c_str(), nullptr);
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
    char devnode[64];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", address);
    const std::string number = std::to_string(address), minor = std::to_string(address - 1);
    const std::string configuration = std::to_string(state.configurationValue) + "\n";

    // sysfs attributes end with a newline, as the kernel writes them.
    gchar* added = umockdev_testbed_add_device(
        impl_->testbed, "usb", ("1-" + minor).c_str(), nullptr, "bConfigurationValue",
        configuration.c_str(), "busnum", "1\n", "devnum", (number + "\n").c_str(), nullptr,
        "DEVTYPE", "usb_device", "DEVNAME", devnode, nullptr);
    const std::string syspath = added;
    g_free(added);
    std::vector<uint8_t> descriptors = Descriptors(state);
    umockdev_testbed_set_attribute_binary(impl_->testbed, syspath.c_str(), "descriptors",
                                          descriptors.data(), static_cast<int>(descriptors.size()));
    // The device node; opening it connects to the ioctl handler attached below.
    g_mkdir_with_parents(Rooted(impl_->testbed, "/dev/bus/usb/001").c_str(), 0755);
    g_file_set_contents(Rooted(impl_->testbed, devnode).c_str(), "", 0, nullptr);

    auto device = std::make_unique<Device>();
    device->bus = impl_.get();
    device->syspath = syspath;
    device->devnode = devnode;
    device->printer = printer;
    device->handler = umockdev_ioctl_base_new();
    g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(&Impl::HandleIoctl), device.get());
    umockdev_testbed_attach_ioctl(impl_->testbed, devnode, device->handler, nullptr);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->devices[syspath] = std::move(device);
    }
    // A printer that unplugs itself outside a request (Remove() from a test)
    // leaves the bus at once; inside a request, once it is answered.
    Impl* impl = impl_.get();
    printer->SetRemovalListener([impl, syspath] {
        if (std::this_thread::get_id() == impl->handlerThread) {
            std::lock_guard lock(impl->removalMutex);
            impl->removals.push_back(syspath);
        } else {
            impl->Remove(syspath);
        }
    });
    if (announce)
        umockdev_testbed_uevent(impl_->testbed, syspath.c_str(), "add");
    return syspath;
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
