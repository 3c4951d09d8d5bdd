// The USB service of the status daemon, as an interface of our own.
//
// A bus reports arrivals and removals of the printers with one vendor/product
// pair; a device opens for exclusive use and lists its interfaces; an
// interface opens for exclusive use, answers the printer-class control
// request and runs one bulk transfer at a time. Two implementations exist:
// libusb (UsbLibusb.h) and the emulated printer of the tests.
//
// Every call returns 0 on success and a non-zero code otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qzm::usb {

// Results of the calls below and completion statuses of bulk transfers.
enum : int {
    kUsbOk = 0,
    kUsbError = 1,         // any other failure
    kUsbNoDevice = 2,      // the device has gone
    kUsbBusy = 3,          // another client holds it and cannot be moved
    kUsbTimedOut = 4,      // a transfer ended by its time-out
    kUsbStall = 5,         // the endpoint stalled
    kUsbNotSupported = 6,  // the platform cannot do this
};

// Pipe indexes of a printer interface: the first and second endpoint of its
// alternate setting 0. Pipe 0 is the control pipe.
inline constexpr uint8_t kPipeBulkOut = 1;
inline constexpr uint8_t kPipeBulkIn = 2;

// Completion routine of a bulk transfer: the reference value given when the
// transfer was started, the completion status (kUsbOk, kUsbTimedOut, ...) and
// the number of bytes moved, carried in the argument pointer.
using UsbCompletion = void (*)(void* refCon, int result, void* arg);

// A control request on the default pipe; data holds length bytes.
struct UsbControlRequest {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    uint8_t* data = nullptr;
    uint32_t transferred = 0;  // out: bytes returned
};

// One interface of a printer. Used by one thread at a time (its worker).
class UsbInterface {
  public:
    virtual ~UsbInterface() = default;

    // Opens the interface for exclusive use, taking it from any other client
    // (the kernel's printer driver included). An interface this object already
    // holds open counts as opened.
    virtual int OpenSeize() = 0;
    // Gives the interface back; non-zero when it was not open.
    virtual int Close() = 0;

    virtual int GetConfigurationValue(uint8_t* value) = 0;
    virtual int GetInterfaceNumber(uint8_t* number) = 0;

    // Sends a control request and waits for it, at most timeoutMs.
    virtual int ControlRequest(UsbControlRequest* request, uint32_t timeoutMs) = 0;

    // Starts one bulk transfer of size bytes on a pipe index (kPipeBulkOut
    // sends buffer, kPipeBulkIn fills it). Non-zero when it cannot be started;
    // otherwise completion is called exactly once, from WaitForCompletion(),
    // when the transfer completes, fails or times out. The buffer must stay
    // valid until then. One transfer at a time.
    virtual int StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size,
                                  uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs,
                                  UsbCompletion completion, void* refCon) = 0;

    // Blocks the calling thread until the completion of the transfer started
    // last has run; returns at once when none is outstanding. This is where
    // the calling thread waits for its transfers, like a run loop that the
    // completion stops.
    virtual void WaitForCompletion() = 0;
};

// One attached printer, not yet opened.
class UsbDevice {
  public:
    virtual ~UsbDevice() = default;

    // Opens the device for exclusive use; Close gives it back.
    virtual int OpenSeize() = 0;
    virtual int Close() = 0;

    // The interfaces of the opened device (active configuration, every class,
    // alternate setting 0), each not yet opened. They must not outlive the
    // open device.
    virtual int GetInterfaces(std::vector<std::unique_ptr<UsbInterface>>* interfaces) = 0;
};

// Identity of an attached device: the same value in its arrival and its
// removal, compared to match a removal to its record.
using UsbDeviceId = const void*;

// What the bus reports.
struct UsbEvent {
    enum class Kind { kArrived, kRemoved };
    Kind kind = Kind::kArrived;
    UsbDeviceId id = nullptr;
    std::unique_ptr<UsbDevice> device;  // arrivals only: the device object
};

// Called for each arrival and removal. It may run on any thread that drives
// the bus (HandleEvents) or a transfer; it should only queue the event.
using UsbEventHandler = std::function<void(UsbEvent event)>;

// The bus, watched for printers of one vendor/product pair.
class UsbBus {
  public:
    virtual ~UsbBus() = default;

    // Starts watching. The printers already attached are reported as
    // arrivals before this returns. Non-zero when watching is not possible.
    virtual int Start(uint16_t vendorId, uint16_t productId, UsbEventHandler handler) = 0;
    // Stops reporting; no handler call runs after it returns.
    virtual void Stop() = 0;

    // Lets the bus deliver pending notices, waiting at most timeoutMs for one.
    virtual int HandleEvents(int timeoutMs) = 0;
};

}  // namespace qzm::usb
