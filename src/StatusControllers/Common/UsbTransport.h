// Command/response exchanges with a printer over its two bulk pipes.
//
// Every call blocks the calling thread (the printer's worker) until its
// transfers have completed, failed or timed out. Results: 0 success,
// 1 a transfer cannot be started, 2 out of memory, 3 bad argument or
// invalid response.
#pragma once

#include <cstdint>

#include "DeviceCmd.h"
#include "PhotoPrinterDevice.h"
#include "UsbBus.h"

inline constexpr uint8_t outPipeRef = qzm::usb::kPipeBulkOut;
inline constexpr uint8_t inPipeRef = qzm::usb::kPipeBulkIn;

// Time-outs of one transfer, no-data and completion alike, in ms.
inline constexpr uint32_t kWriteTimeoutMs = 1000;
inline constexpr uint32_t kReadTimeoutMs = 10000;

// One bulk-out transfer of length bytes. On 0, written holds length: the
// whole piece counts as sent, whatever the completion reported.
int USB_Write(qzm::usb::UsbInterface* interface, const void* data, int length, int* written);

// One bulk-in transfer of length bytes into buffer. Bytes that do not arrive
// leave the buffer as it was.
int USB_Read(qzm::usb::UsbInterface* interface, void* buffer, int length);

// Completion routine of both transfers. The completion status and byte count
// are not examined: a transfer that timed out or failed counts as done.
void UsbCallBackFunction(void* refCon, int result, void* arg);

// Writes a whole command in pieces: below 512 bytes in one transfer; while
// 512 or more remain, each piece leaves at least 256 bytes and is at most
// 65536 bytes.
int deviceWrite(qzm::usb::UsbInterface* interface, const void* data, int length);

// Reads one answer into buffer: the 8-digit header, then the data it
// announces, which must fit in capacity - 8 bytes.
int deviceRead(qzm::usb::UsbInterface* interface, void* buffer, int capacity);

// Gives the response a fresh buffer and reads one answer into it.
int deviceRead(qzm::usb::UsbInterface* interface, DeviceRecv& response);

// Sends the command and reads and checks the answer; 0 when it is valid.
int DeviceIO(qzm::usb::UsbInterface* interface, DeviceCmd& command, DeviceRecv& response);
