// Fuzz target: the stream inspector's parser of command streams (packets,
// sheets, plane BMPs), from memory and from a file: both readers must agree.
#include "FuzzSupport.h"
#include "StreamParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qzm::fuzz::Require;
    static const std::string path = qzm::fuzz::MakeProcessRoot() + "/stream";
    const qzm::stream::ParsedStream inMemory = qzm::stream::ParseStream({data, size});
    for (const auto& packet : inMemory.packets) {
        packet.ShortText();
    }
    qzm::fuzz::WriteWholeFile(path, {reinterpret_cast<const char*>(data), size});
    const qzm::stream::ParsedStream fromFile = qzm::stream::ParseFile(path);
    Require(fromFile.packets.size() == inMemory.packets.size() &&
            fromFile.sheets.size() == inMemory.sheets.size() &&
            fromFile.error.has_value() == inMemory.error.has_value());
    Require(!fromFile.error || (fromFile.error->offset == inMemory.error->offset &&
                                fromFile.error->message == inMemory.error->message));
    for (size_t i = 0; i < inMemory.packets.size(); ++i) {
        Require(fromFile.packets[i].offset == inMemory.packets[i].offset &&
                fromFile.packets[i].payload == inMemory.packets[i].payload);
    }
    return 0;
}
