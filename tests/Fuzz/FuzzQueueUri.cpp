// Fuzz target: the daemon's queue step matching a destination's device URI,
// and its lpadmin arguments for a serial. Input: the serial's length, a queue
// number, the serial, the URI.
#include <cups/cups.h>

#include "FuzzSupport.h"
#include "PrintQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qzm::fuzz::Require;
    qzm::fuzz::Input input(data, size);
    const uint8_t length = input.Byte() % 64;
    const uint8_t number = input.Byte() % 4;
    const std::string_view rest = input.Rest();
    // The serial as the daemon holds it (a C string); the URI as CUPS gives it.
    const std::string serial = std::string(rest.substr(0, length)).c_str();
    const std::string uri = std::string(rest.substr(std::min<size_t>(length, rest.size()))).c_str();

    std::string name = "queue";
    cups_dest_t dest{name.data(), nullptr, 0, 0, nullptr};
    dest.num_options = cupsAddOption("device-uri", uri.c_str(), 0, &dest.options);
    PrintQueueMatch match;
    match.serial = serial.c_str();
    Require(enum_cb(&match, 0, &dest) == 1);
    cupsFreeOptions(dest.num_options, dest.options);
    // Found only for a URI that ends in the serial, which itself only ever
    // ends the lpadmin device URI argument.
    Require(!match.found || (!serial.empty() && uri.ends_with(serial)));
    const auto arguments = _QueueArguments(number, serial);
    Require(arguments.size() == 11 &&
            arguments[8] == "ovbackend://Orvane%20Imaging%20Inc./M480?serial=" + serial);
    return 0;
}
