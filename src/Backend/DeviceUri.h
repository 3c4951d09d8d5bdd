// The device URI of a QZ-M480 queue and the printer identity it carries.
#pragma once

#include <string>
#include <string_view>

// A queue's device URI is this text followed by the printer's escaped serial
// (blanks written as "%20"), exactly as the daemon registers the queue.
inline constexpr char kDeviceUriPrefix[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";

// The device URI of the printer with this escaped serial.
std::string _MakeDeviceUri(std::string_view serial);

// The escaped serial after "serial=", when uri begins with the whole prefix;
// false for any other URI.
bool _SerialFromDeviceUri(std::string_view uri, std::string* serial);
