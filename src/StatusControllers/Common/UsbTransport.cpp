#include "UsbTransport.h"

#include <algorithm>

#include "DeviceCmd.h"

namespace {

constexpr int kOnePieceBelow = 512;
constexpr int kKeepForLater = 256;
constexpr int kLargestPiece = 65536;

bool IsDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

}  // namespace

int USB_Write(qzm::usb::UsbInterface* interface, const void* data, int length, int* written) {
    if (!interface || !written || length < 0) {
        return kResultInvalid;
    }
    if (interface->StartBulkTransfer(outPipeRef, const_cast<void*>(data),
                                     static_cast<uint32_t>(length), kWriteTimeoutMs,
                                     kWriteTimeoutMs, UsbCallBackFunction, nullptr) != 0) {
        return kResultCannotStart;
    }
    *written = length;
    interface->WaitForCompletion();
    return kResultOk;
}

int USB_Read(qzm::usb::UsbInterface* interface, void* buffer, int length) {
    if (!interface || length < 0) {
        return kResultInvalid;
    }
    if (interface->StartBulkTransfer(inPipeRef, buffer, static_cast<uint32_t>(length),
                                     kReadTimeoutMs, kReadTimeoutMs, UsbCallBackFunction,
                                     nullptr) != 0) {
        return kResultCannotStart;
    }
    interface->WaitForCompletion();
    return kResultOk;
}

void UsbCallBackFunction(void*, int, void*) {
    // Returning ends the wait of the thread that started the transfer.
}

int deviceWrite(qzm::usb::UsbInterface* interface, const void* data, int length) {
    if (!interface || !data || length <= 0) {
        return kResultInvalid;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    int remaining = length;
    int offset = 0;
    while (remaining > 0) {
        int piece = remaining < kOnePieceBelow ? remaining : remaining - kKeepForLater;
        piece = std::min(piece, kLargestPiece);
        int written = 0;
        const int result = USB_Write(interface, bytes + offset, piece, &written);
        if (result != kResultOk) {
            return result;
        }
        remaining -= written;
        offset += written;
    }
    return kResultOk;
}

int deviceRead(qzm::usb::UsbInterface* interface, void* buffer, int capacity) {
    if (!buffer || capacity < DeviceRecv::kHeaderLength) {
        return kResultInvalid;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    const int header = USB_Read(interface, bytes, DeviceRecv::kHeaderLength);
    if (header != kResultOk) {
        return header;
    }
    // The printer writes the length as 8 decimal digits, nothing else.
    if (!std::all_of(bytes, bytes + DeviceRecv::kHeaderLength, IsDigit)) {
        return kResultInvalid;
    }
    const int length = _TextToInt(reinterpret_cast<const char*>(bytes), DeviceRecv::kHeaderLength);
    if (length <= 0 || length > capacity - DeviceRecv::kHeaderLength) {
        return kResultInvalid;
    }
    return USB_Read(interface, bytes + DeviceRecv::kHeaderLength, length);
}

int deviceRead(qzm::usb::UsbInterface* interface, DeviceRecv& response) {
    response.Free();
    const int allocated = response.Alloc();
    if (allocated != kResultOk) {
        return allocated;
    }
    return deviceRead(interface, response.m_buffer, response.GetBufferLength());
}

int DeviceIO(qzm::usb::UsbInterface* interface, DeviceCmd& command, DeviceRecv& response) {
    if (!interface) {
        return kResultInvalid;
    }
    // The interface's own wait stands in for the event source of the run
    // loop: there is nothing to create or remove around the exchange.
    int result = deviceWrite(interface, command.m_data, command.m_length);
    if (result == kResultOk) {
        result = deviceRead(interface, response);
    }
    if (result == kResultOk) {
        result = response.CheckData();
    }
    return result;
}
