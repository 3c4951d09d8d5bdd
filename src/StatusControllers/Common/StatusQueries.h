// The printer's status, identity, media and counter queries, each one
// command/response exchange over the opened interface.
//
// Text queries write into a 64-byte field (outSize) and return the length of
// the text written, or -1 when the interface or field is missing or the
// exchange fails; the field is emptied first, so it is empty after a failure.
// Longer answers are shortened to 63 bytes without splitting a character.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "UsbBus.h"

inline constexpr size_t kQueryFieldSize = 64;
inline constexpr int kStatusUnknown = INT_MIN;

// "STATUS": the number at the start of the answer, or INT_MIN on failure.
int GetStatus(qzm::usb::UsbInterface* interface);

// "INFO" "SERIAL_NUMBER": the serial with blanks escaped as "%20"; empty when
// the escaped text needs more than 63 bytes. A serial that cannot stand in a
// file name fails (-1) like one that could not be read.
int64_t GetSerialNo(qzm::usb::UsbInterface* interface, char* out, size_t outSize = kQueryFieldSize);
// "INFO" "FVER".
int64_t GetFirmVersion(qzm::usb::UsbInterface* interface, char* out,
                       size_t outSize = kQueryFieldSize);
// "INFO" "MEDIA".
int64_t GetMediaSize(qzm::usb::UsbInterface* interface, char* out,
                     size_t outSize = kQueryFieldSize);
// "INFO" "MQTY_DEFAULT".
int64_t GetMediaInitial(qzm::usb::UsbInterface* interface, char* out,
                        size_t outSize = kQueryFieldSize);
// "INFO" "MQTY".
int64_t GetMediaRemain(qzm::usb::UsbInterface* interface, char* out,
                       size_t outSize = kQueryFieldSize);
// "MNT_RD" "COUNTER_LIFE".
int64_t GetTotalCount(qzm::usb::UsbInterface* interface, char* out,
                      size_t outSize = kQueryFieldSize);
// "INFO" "RQTY".
int64_t GetMediaRemainHalf(qzm::usb::UsbInterface* interface, char* out,
                           size_t outSize = kQueryFieldSize);
// "INFO" "MEDIA_CLASS_RFID".
int64_t GetMediaClass(qzm::usb::UsbInterface* interface, char* out,
                      size_t outSize = kQueryFieldSize);

// The status window's message number for a status code, or -1.
int GetMessage(int status);
