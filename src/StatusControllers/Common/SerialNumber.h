// The printer's serial number as the daemon's key for one printer.
//
// The serial comes from the device and ends up in file names in a folder
// every user can write to, so it is checked before it is used.
#pragma once

#include <string>
#include <string_view>

// True when text can stand in a file name: valid UTF-8 without "/", NUL or
// any other control character, and not "." or "..". The empty text passes.
bool _IsSerialUsableAsName(std::string_view text);

// True when text is valid UTF-8 (no truncated, overlong or surrogate
// sequence, nothing beyond U+10FFFF).
bool _IsValidUtf8(std::string_view text);

// The serial with every blank written as "%20".
std::string _EscapeSerial(std::string_view text);
