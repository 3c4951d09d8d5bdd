// The printer-information file and the request files in the cache folder.
//
// "QZ-M480_<serial>.log" is written by the daemon for the status window;
// "QZ-M480_<serial>_UTIL", "_TC_UTIL" and "_START_UTIL" are empty request
// files that the status window leaves for the daemon. The serial is the
// escaped serial of the printer; one that cannot stand in a file name is
// never used.
#pragma once

#include <string>
#include <string_view>

#include "ThreadData.h"
#include "UsbBus.h"

// One information pass over an attached printer: queries it (the life
// counter on request), then replaces its information file.
void WriteFile(qzm::usb::UsbInterface* interface, thdata* record);

// Writes the fixed disconnected form of the information file for serial.
void WriteFile(const char* serial);

// Scans the cache folder for the serial's request files, removes the one-shot
// ones it finds, and returns the kRequest... bits.
int pdeFileCheck(const char* serial);

// One key line, "KEY=\"value\"\n", at most 63 bytes: a long value is
// shortened, the closing quote and line feed stay.
std::string _KeyLine(std::string_view key, std::string_view value);

// The text from its (skip + 1)th byte on; empty when it is shorter.
std::string _SkipPrefix(std::string_view text, size_t skip);
