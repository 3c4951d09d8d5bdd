// Fuzz target: the command-stream parser of the stream inspector, read from
// memory and from a file (both readers must agree), and the plane BMP check
// on its own.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "StreamParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qzm::fuzz::Input input(data, size);
    const uint8_t mode = input.Byte();
    const std::string_view rest = input.Rest();
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(rest.data()),
                                         rest.size());
    if (mode % 8 == 0) {
        qzm::stream::Plane plane;
        std::string error;
        if (qzm::stream::DecodePlaneBmp(bytes, plane, error)) {
            // The pixels are exactly what the header announces.
            if (plane.width <= 0 || plane.height <= 0 ||
                plane.pixels.size() != size_t(plane.width) * size_t(plane.height)) {
                std::abort();
            }
            plane.PictureRow(0);
        } else if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    const qzm::stream::ParsedStream inMemory = qzm::stream::ParseStream(bytes);
    for (const auto& packet : inMemory.packets) {
        packet.ShortText();
    }
    // The file reader, as the inspector uses it, finds the same packets,
    // sheets and fault.
    static const int memory = ::memfd_create("stream", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(memory);
    if (::ftruncate(memory, 0) != 0 ||
        ::pwrite(memory, rest.data(), rest.size(), 0) != static_cast<ssize_t>(rest.size())) {
        std::abort();
    }
    const qzm::stream::ParsedStream fromFile = qzm::stream::ParseFile(path);
    if (fromFile.packets.size() != inMemory.packets.size() ||
        fromFile.sheets.size() != inMemory.sheets.size() ||
        fromFile.error.has_value() != inMemory.error.has_value() ||
        (fromFile.error && (fromFile.error->offset != inMemory.error->offset ||
                            fromFile.error->message != inMemory.error->message))) {
        std::abort();
    }
    for (size_t i = 0; i < inMemory.packets.size(); ++i) {
        if (fromFile.packets[i].offset != inMemory.packets[i].offset ||
            fromFile.packets[i].payload != inMemory.packets[i].payload) {
            std::abort();
        }
    }
    return 0;
}
