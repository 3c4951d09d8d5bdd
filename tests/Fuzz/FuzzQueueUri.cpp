// Fuzz target: the daemon's queue step reading device URIs of the print
// system's destinations, and the lpadmin arguments it would build for a
// serial. A serial only ever becomes the end of the device URI argument.
#include <cups/cups.h>

#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "PrintQueue.h"

namespace {

constexpr char kUriStart[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qzm::fuzz::Input input(data, size);
    const uint8_t split = input.Byte();
    const uint8_t number = input.Byte();
    const std::string_view rest = input.Rest();
    // The serial as the daemon holds it (a C string), then the URI.
    const std::string serial(rest.substr(0, std::min<size_t>(split % 64, rest.size())));
    const std::string uri(rest.substr(serial.size()));

    char name[] = "queue";
    cups_dest_t dest{};
    dest.name = name;
    dest.num_options = cupsAddOption("device-uri", uri.c_str(), 0, &dest.options);
    PrintQueueMatch match;
    const std::string serialText = serial.c_str();
    match.serial = serialText.c_str();
    if (enum_cb(&match, 0, &dest) != 1) {
        std::abort();
    }
    cupsFreeOptions(dest.num_options, dest.options);
    // Found only for a URI of the backend that ends in exactly this serial.
    const std::string cUri = uri.c_str();
    if (match.found &&
        (serialText.empty() || cUri.size() < serialText.size() ||
         cUri.compare(cUri.size() - serialText.size(), std::string::npos, serialText) != 0)) {
        std::abort();
    }

    const auto arguments = _QueueArguments(number % 4, serialText);
    if (arguments.size() != 11 || arguments[8] != kUriStart + serialText) {
        std::abort();
    }
    return 0;
}
