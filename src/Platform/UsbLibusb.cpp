#include "UsbLibusb.h"

#include <libusb.h>

#include <cstdint>
#include <utility>

namespace qzm::usb {
namespace {

// Owns the libusb context; shared by the bus and every object made from it,
// so the context ends after the last of them.
struct Context {
    libusb_context* ctx = nullptr;
    ~Context() {
        if (ctx) {
            libusb_exit(ctx);
        }
    }
};

// Owns an open device handle; shared by the device and its interfaces, so
// the handle stays open until the last interface made from it is gone.
struct Handle {
    libusb_device_handle* handle = nullptr;
    ~Handle() {
        if (handle) {
            libusb_close(handle);
        }
    }
};

int MapError(int error) {
    switch (error) {
        case LIBUSB_SUCCESS:
            return kUsbOk;
        case LIBUSB_ERROR_NO_DEVICE:
            return kUsbNoDevice;
        case LIBUSB_ERROR_BUSY:
        case LIBUSB_ERROR_ACCESS:
            return kUsbBusy;
        case LIBUSB_ERROR_TIMEOUT:
            return kUsbTimedOut;
        case LIBUSB_ERROR_PIPE:
            return kUsbStall;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return kUsbNotSupported;
        default:
            return kUsbError;
    }
}

int MapStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return kUsbOk;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return kUsbTimedOut;
        case LIBUSB_TRANSFER_STALL:
            return kUsbStall;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return kUsbNoDevice;
        default:
            return kUsbError;
    }
}

// One interface of an opened device; shares the device's handle.
class LibusbInterface final : public UsbInterface {
  public:
    LibusbInterface(std::shared_ptr<Context> context, std::shared_ptr<Handle> handle,
                    uint8_t configurationValue, uint8_t interfaceNumber, int endpointCount,
                    uint8_t firstEndpoint, uint8_t secondEndpoint)
        : context_(std::move(context)),
          holder_(std::move(handle)),
          handle_(holder_->handle),
          configurationValue_(configurationValue),
          interfaceNumber_(interfaceNumber),
          endpointCount_(endpointCount),
          firstEndpoint_(firstEndpoint),
          secondEndpoint_(secondEndpoint) {}

    ~LibusbInterface() override {
        if (transfer_) {
            libusb_cancel_transfer(transfer_);
            WaitForCompletion();
        }
        if (open_) {
            Close();
        }
    }

    int OpenSeize() override {
        if (open_) {
            return kUsbOk;
        }
        if (libusb_kernel_driver_active(handle_, interfaceNumber_) == 1) {
            const int detached = libusb_detach_kernel_driver(handle_, interfaceNumber_);
            if (detached != LIBUSB_SUCCESS) {
                return MapError(detached);
            }
            driverDetached_ = true;
        }
        const int claimed = libusb_claim_interface(handle_, interfaceNumber_);
        if (claimed != LIBUSB_SUCCESS) {
            GiveBackToDriver();
            return MapError(claimed);
        }
        open_ = true;
        return kUsbOk;
    }

    int Close() override {
        if (!open_) {
            return kUsbError;
        }
        open_ = false;
        const int released = libusb_release_interface(handle_, interfaceNumber_);
        GiveBackToDriver();
        return MapError(released);
    }

    int GetConfigurationValue(uint8_t* value) override {
        if (!value) {
            return kUsbError;
        }
        *value = configurationValue_;
        return kUsbOk;
    }

    int GetInterfaceNumber(uint8_t* number) override {
        if (!number) {
            return kUsbError;
        }
        *number = interfaceNumber_;
        return kUsbOk;
    }

    int ControlRequest(UsbControlRequest* request, uint32_t timeoutMs) override {
        if (!request) {
            return kUsbError;
        }
        request->transferred = 0;
        const int done =
            libusb_control_transfer(handle_, request->requestType, request->request, request->value,
                                    request->index, request->data, request->length, timeoutMs);
        if (done < 0) {
            return MapError(done);
        }
        request->transferred = static_cast<uint32_t>(done);
        return kUsbOk;
    }

    int StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size, uint32_t noDataTimeoutMs,
                          uint32_t completionTimeoutMs, UsbCompletion completion,
                          void* refCon) override {
        if (transfer_ || !open_ || !completion || pipe < kPipeBulkOut || pipe > kPipeBulkIn ||
            endpointCount_ < pipe || size > INT32_MAX) {
            return kUsbError;
        }
        transfer_ = libusb_alloc_transfer(0);
        if (!transfer_) {
            return kUsbError;
        }
        // libusb has a single time-out per transfer: the completion time-out,
        // or the no-data one when no completion time-out is given.
        const uint32_t timeout = completionTimeoutMs ? completionTimeoutMs : noDataTimeoutMs;
        const uint8_t endpoint = pipe == kPipeBulkOut ? firstEndpoint_ : secondEndpoint_;
        libusb_fill_bulk_transfer(transfer_, handle_, endpoint, static_cast<unsigned char*>(buffer),
                                  static_cast<int>(size), &LibusbInterface::Completed, this,
                                  timeout);
        completion_ = completion;
        refCon_ = refCon;
        completed_ = 0;
        const int submitted = libusb_submit_transfer(transfer_);
        if (submitted != LIBUSB_SUCCESS) {
            libusb_free_transfer(transfer_);
            transfer_ = nullptr;
            return MapError(submitted);
        }
        return kUsbOk;
    }

    void WaitForCompletion() override {
        if (!transfer_) {
            return;
        }
        while (!completed_) {
            timeval wait{1, 0};
            libusb_handle_events_timeout_completed(context_->ctx, &wait, &completed_);
        }
        libusb_free_transfer(transfer_);
        transfer_ = nullptr;
    }

  private:
    // Runs inside libusb event handling, possibly on another thread that
    // handles events; completed_ is what the waiting thread watches.
    static void LIBUSB_CALL Completed(libusb_transfer* transfer) {
        auto* self = static_cast<LibusbInterface*>(transfer->user_data);
        self->completion_(self->refCon_, MapStatus(transfer->status),
                          reinterpret_cast<void*>(static_cast<uintptr_t>(transfer->actual_length)));
        self->completed_ = 1;
    }

    void GiveBackToDriver() {
        if (driverDetached_) {
            libusb_attach_kernel_driver(handle_, interfaceNumber_);
            driverDetached_ = false;
        }
    }

    std::shared_ptr<Context> context_;
    std::shared_ptr<Handle> holder_;
    libusb_device_handle* handle_;
    uint8_t configurationValue_;
    uint8_t interfaceNumber_;
    int endpointCount_;
    uint8_t firstEndpoint_;
    uint8_t secondEndpoint_;
    bool open_ = false;
    bool driverDetached_ = false;
    libusb_transfer* transfer_ = nullptr;
    UsbCompletion completion_ = nullptr;
    void* refCon_ = nullptr;
    int completed_ = 0;
};

// One attached device; holds a reference on it for as long as it lives.
class LibusbDevice final : public UsbDevice {
  public:
    LibusbDevice(std::shared_ptr<Context> context, libusb_device* device)
        : context_(std::move(context)), device_(libusb_ref_device(device)) {}

    ~LibusbDevice() override {
        Close();
        libusb_unref_device(device_);
    }

    int OpenSeize() override {
        if (handle_) {
            return kUsbOk;
        }
        auto opened = std::make_shared<Handle>();
        const int done = libusb_open(device_, &opened->handle);
        if (done != LIBUSB_SUCCESS) {
            opened->handle = nullptr;
            return MapError(done);
        }
        handle_ = std::move(opened);
        return kUsbOk;
    }

    int Close() override {
        if (!handle_) {
            return kUsbError;
        }
        handle_.reset();  // closed once no interface holds it either
        return kUsbOk;
    }

    int GetInterfaces(std::vector<std::unique_ptr<UsbInterface>>* interfaces) override {
        if (!interfaces || !handle_) {
            return kUsbError;
        }
        interfaces->clear();
        libusb_config_descriptor* config = nullptr;
        const int got = libusb_get_active_config_descriptor(device_, &config);
        if (got != LIBUSB_SUCCESS) {
            return MapError(got);
        }
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& entry = config->interface[i];
            if (entry.num_altsetting < 1) {
                continue;
            }
            const libusb_interface_descriptor& alt = entry.altsetting[0];
            const int count = alt.bNumEndpoints;
            interfaces->push_back(std::make_unique<LibusbInterface>(
                context_, handle_, config->bConfigurationValue, alt.bInterfaceNumber, count,
                count > 0 ? alt.endpoint[0].bEndpointAddress : 0,
                count > 1 ? alt.endpoint[1].bEndpointAddress : 0));
        }
        libusb_free_config_descriptor(config);
        return kUsbOk;
    }

  private:
    std::shared_ptr<Context> context_;
    libusb_device* device_;
    std::shared_ptr<Handle> handle_;
};

// Hotplug notices for one vendor/product pair.
class LibusbBus final : public UsbBus {
  public:
    explicit LibusbBus(std::shared_ptr<Context> context) : context_(std::move(context)) {}
    ~LibusbBus() override { Stop(); }

    int Start(uint16_t vendorId, uint16_t productId, UsbEventHandler handler) override {
        if (registered_ || !handler) {
            return kUsbError;
        }
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
            return kUsbNotSupported;
        }
        handler_ = std::move(handler);
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        const int done = libusb_hotplug_register_callback(
            context_->ctx, events, LIBUSB_HOTPLUG_ENUMERATE, vendorId, productId,
            LIBUSB_HOTPLUG_MATCH_ANY, &LibusbBus::Notice, this, &callback_);
        if (done != LIBUSB_SUCCESS) {
            handler_ = nullptr;
            return MapError(done);
        }
        registered_ = true;
        return kUsbOk;
    }

    void Stop() override {
        if (registered_) {
            libusb_hotplug_deregister_callback(context_->ctx, callback_);
            registered_ = false;
        }
    }

    int HandleEvents(int timeoutMs) override {
        if (timeoutMs < 0) {
            timeoutMs = 0;
        }
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        return MapError(libusb_handle_events_timeout_completed(context_->ctx, &wait, nullptr));
    }

  private:
    static int LIBUSB_CALL Notice(libusb_context*, libusb_device* device,
                                  libusb_hotplug_event event, void* user) {
        auto* self = static_cast<LibusbBus*>(user);
        UsbEvent notice;
        notice.id = device;
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            notice.kind = UsbEvent::Kind::kArrived;
            notice.device = std::make_unique<LibusbDevice>(self->context_, device);
        } else {
            notice.kind = UsbEvent::Kind::kRemoved;
        }
        self->handler_(std::move(notice));
        return 0;  // stay registered
    }

    std::shared_ptr<Context> context_;
    UsbEventHandler handler_;
    libusb_hotplug_callback_handle callback_ = 0;
    bool registered_ = false;
};

}  // namespace

std::unique_ptr<UsbBus> CreateLibusbBus() {
    auto context = std::make_shared<Context>();
    if (libusb_init(&context->ctx) != LIBUSB_SUCCESS) {
        context->ctx = nullptr;
        return nullptr;
    }
    return std::make_unique<LibusbBus>(std::move(context));
}

}  // namespace qzm::usb
