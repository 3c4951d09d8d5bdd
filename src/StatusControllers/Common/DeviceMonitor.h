// The daemon's device monitor: one worker thread per attached printer.
//
// The bus reports arrivals and removals; its handler only queues them, and
// the thread that runs the monitor (the main thread) acts on the queue
// outside the bus's event handling. So a worker that is inside a transfer,
// and handles the bus's events while it waits, never waits for the main
// thread, and the main thread can wait for that worker to end.
//
// A worker identifies its printer (serial number and model), makes sure a
// print queue exists for it, writes its information file, and from then on
// queries it only while request files ask for it. When the device goes, the
// main thread tells the worker, which writes the disconnected file and ends;
// then the main thread frees the record.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ThreadData.h"
#include "UsbBus.h"

// What the monitor waits and calls. The program uses the defaults; tests
// shorten the waits and may replace the print-queue step.
struct MonitorSettings {
    // Pause after each worker cycle.
    std::chrono::milliseconds cycle{1000};
    // Pause before the second attempt at the serial number.
    std::chrono::milliseconds serialRetry{1000};
    // The print-queue step; true when done (CheckAndMake_PrintQueue).
    std::function<bool(const char* serial)> registerQueue;
};

class DeviceMonitor {
  public:
    // Longest wait for bus events in one round of Run().
    static constexpr int kEventWaitMs = 1000;

    explicit DeviceMonitor(qzm::usb::UsbBus& bus, MonitorSettings settings = {});
    // Stops the bus, tells every worker to end and frees its record.
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Starts watching the bus and starts a worker for every printer already
    // attached. Non-zero when the bus cannot be watched.
    int Start(uint16_t vendorId, uint16_t productId);
    // Waits at most timeoutMs for bus events, then acts on every queued one.
    void RunOnce(int timeoutMs);
    // Runs for good.
    [[noreturn]] void Run();

    // The number of records of running workers (thDevData).
    size_t WorkerCount();

    // A new device: creates its record and starts its worker.
    void DeviceAdded(qzm::usb::UsbDeviceId service, std::unique_ptr<qzm::usb::UsbDevice> device);
    // A device gone: tells its worker, waits for it to end, frees its record.
    // A device without a record is ignored.
    void DeviceRemoved(qzm::usb::UsbDeviceId service);

  private:
    void ProcessEvents();
    void dealWithDevice(qzm::usb::UsbDeviceId service, std::unique_ptr<qzm::usb::UsbDevice> device);
    void thread_function(thdata* record);
    void dealWithInterface(qzm::usb::UsbInterface* interface, thdata* record);
    void QueryPass(thdata* record);
    // Sleeps for wait, or less once the record's device is gone.
    void Pause(thdata* record, std::chrono::milliseconds wait);
    // Takes the record of service out of thDevData; null when there is none.
    std::unique_ptr<thdata> TakeRecord(qzm::usb::UsbDeviceId service);
    void StopAll();

    qzm::usb::UsbBus& bus_;
    MonitorSettings settings_;

    // Events queued by the bus's handler, acted on by the main thread.
    std::mutex eventsMutex_;
    std::deque<qzm::usb::UsbEvent> events_;

    // thDevData: the records of the running workers, in the order they
    // started; guarded by m. The main thread never holds m while it waits
    // for a worker.
    std::mutex m;
    std::vector<std::unique_ptr<thdata>> thDevData;

    // Wakes pausing workers when a device is gone.
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
};
