// The printer's IEEE 1284 device ID and the model name in it.
//
// The device ID comes from the printer-class request GET_DEVICE_ID on the
// default control pipe. Everything in the reply is the device's word and is
// used only as far as the reply actually reaches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "UsbBus.h"

// The GET_DEVICE_ID request: device to host, class, interface.
inline constexpr uint8_t kDeviceIdRequestType = 0xA1;
inline constexpr uint8_t kDeviceIdRequest = 0;
inline constexpr uint16_t kDeviceIdFirstLength = 256;
inline constexpr uint32_t kDeviceIdTimeoutMs = 5000;

// Asks the opened interface for its device ID. The request's value is the
// configuration value minus 1, its index the interface number times 256. A
// reply of 255 bytes or more is asked for again with a buffer of its length.
// Nothing when the request fails, the reply is shorter than its 2-byte
// length prefix, the prefix is below 3, or the text is not UTF-8.
std::optional<std::string> _CopyDeviceId(qzm::usb::UsbInterface* interface,
                                         uint8_t configurationValue, uint8_t interfaceNumber);

// The text of a reply: a 2-byte big-endian length that counts itself, then
// the device ID. Only bytes the reply holds are taken. Nothing when the reply
// is shorter than 2 bytes or the length is below 3.
std::optional<std::string> _DeviceIdFromReply(const uint8_t* reply, size_t size);

// The model named in a device ID: the rest of its first ";"-separated field
// that starts with "MDL:" or "MODEL:" (either case), trimmed. A field whose
// key stands only after leading blanks gives the rest untrimmed. Nothing when
// there is no device ID or no such field.
std::optional<std::string> deviceIDCopyModel(const std::optional<std::string>& deviceId);
