// The daemon's record of one attached printer and its worker thread.
//
// Created by the main thread on arrival, used by the printer's worker, freed
// by the main thread once the worker has ended. Only deviceRemoved is shared
// between the two while the worker runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "UsbBus.h"

// Request bits of the cache folder's request files.
enum : int32_t {
    kRequestUtil = 1,   // "_UTIL": a status window is open
    kRequestTc = 2,     // "_TC_UTIL": refresh now, with the life counter
    kRequestStart = 4,  // "_START_UTIL": refresh now, with the counter unless status 900
};

struct thdata {
    std::thread workerThread;
    char modelName[128] = {};  // from the device ID, at most 127 bytes
    char serialNo[64] = {};    // escaped serial, checked usable as a name
    std::atomic<uint8_t> deviceRemoved{0};
    uint8_t modelKnown = 0;
    uint8_t serialKnown = 0;
    uint8_t queueRegistered = 0;
    int32_t requestFlags = 0;                       // kRequest... bits found by the last scan
    qzm::usb::UsbDeviceId deviceService = nullptr;  // identity of the device
    std::unique_ptr<qzm::usb::UsbDevice> deviceInterface;  // owned by the record
};
