#include "StreamParser.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qzm::stream {

namespace {

constexpr size_t kHeaderLength = 32;
constexpr size_t kReadChunk = size_t(1) << 20;
constexpr size_t kBmpHeaderLength = 54;

// A byte as it should appear in a message: the character or its hex code.
std::string Shown(uint8_t byte) {
    char text[8];
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(text, sizeof text, "'%c'", byte);
    } else {
        std::snprintf(text, sizeof text, "0x%02X", byte);
    }
    return text;
}

// A header text field: printable characters, then only padding spaces.
// Returns the index of the first faulty byte, or -1 when the field is sound.
int ReadTextField(const uint8_t* field, int width, std::string& out) {
    int used = 0;
    while (used < width && field[used] > 0x20 && field[used] < 0x7F) {
        ++used;
    }
    for (int i = used; i < width; ++i) {
        if (field[i] != ' ') {
            return i;
        }
    }
    out.assign(reinterpret_cast<const char*>(field), size_t(used));
    return -1;
}

uint32_t LoadLE4(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t LoadLE2(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

std::string Name(const Packet& p) {
    return p.command + "/" + p.subCommand;
}

}  // namespace

std::optional<std::string> Packet::ShortText(size_t maxLength) const {
    if (payload.empty() || payload.size() > maxLength) {
        return std::nullopt;
    }
    for (uint8_t b : payload) {
        if (b < 0x20 || b >= 0x7F) {
            return std::nullopt;
        }
    }
    return std::string(payload.begin(), payload.end());
}

PacketReader::PacketReader(std::FILE* in) : m_file(in) {}
PacketReader::PacketReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

size_t PacketReader::Read(uint8_t* into, size_t count) {
    if (m_file != nullptr) {
        return std::fread(into, 1, count, m_file);
    }
    const size_t n = std::min(count, m_bytes.size());
    if (n == 0) {
        return 0;
    }
    std::memcpy(into, m_bytes.data(), n);
    m_bytes = m_bytes.subspan(n);
    return n;
}

int PacketReader::Fail(uint64_t offset, std::string message) {
    m_error = {offset, std::move(message)};
    m_state = -1;
    return m_state;
}

int PacketReader::Next(Packet& out) {
    if (m_state != 1) {
        return m_state;
    }
    const uint64_t start = m_offset;
    uint8_t header[kHeaderLength];
    const size_t got = Read(header, kHeaderLength);
    if (got == 0) {
        m_state = 0;
        return 0;
    }
    if (got < kHeaderLength) {
        return Fail(start + got, "truncated packet header at offset " + std::to_string(start) +
                                     ": " + std::to_string(got) + " of 32 bytes");
    }
    if (header[0] != 0x1B || header[1] != 'P') {
        const int bad = header[0] != 0x1B ? 0 : 1;
        return Fail(start + bad, "no packet start (ESC 'P') at offset " + std::to_string(start) +
                                     ": found " + Shown(header[0]) + " " + Shown(header[1]));
    }
    Packet packet;
    packet.offset = start;
    int bad = ReadTextField(header + 2, 6, packet.command);
    if (bad >= 0) {
        return Fail(start + 2 + bad, "bad byte " + Shown(header[2 + bad]) +
                                         " in the command name of the packet at offset " +
                                         std::to_string(start));
    }
    if (packet.command.empty()) {
        return Fail(start + 2,
                    "empty command name in the packet at offset " + std::to_string(start));
    }
    bad = ReadTextField(header + 8, 16, packet.subCommand);
    if (bad >= 0) {
        return Fail(start + 8 + bad, "bad byte " + Shown(header[8 + bad]) +
                                         " in the sub-command of the packet at offset " +
                                         std::to_string(start));
    }
    const uint8_t* field = header + 24;
    size_t length = 0;
    if (std::all_of(field, field + 8, [](uint8_t b) { return b == ' '; })) {
        packet.hasLength = false;
    } else {
        for (int i = 0; i < 8; ++i) {
            if (field[i] < '0' || field[i] > '9') {
                return Fail(start + 24 + i, "bad byte " + Shown(field[i]) +
                                                " in the length field of " + Name(packet) +
                                                " at offset " + std::to_string(start) +
                                                " (8 digits or 8 spaces expected)");
            }
            length = length * 10 + size_t(field[i] - '0');
        }
        packet.hasLength = true;
    }
    // The payload arrives in chunks so that a false length cannot make us
    // reserve memory for bytes that are not there.
    size_t have = 0;
    while (have < length) {
        const size_t want = std::min(kReadChunk, length - have);
        packet.payload.resize(have + want);
        const size_t n = Read(packet.payload.data() + have, want);
        have += n;
        if (n < want) {
            return Fail(start + kHeaderLength + have,
                        "truncated payload of " + Name(packet) + " at offset " +
                            std::to_string(start) + ": " + std::to_string(length) +
                            " bytes announced, " + std::to_string(have) + " present");
        }
    }
    m_offset = start + kHeaderLength + length;
    out = std::move(packet);
    return 1;
}

bool DecodePlaneBmp(std::span<const uint8_t> payload, Plane& out, std::string& error) {
    const uint8_t* p = payload.data();
    const uint64_t size = payload.size();
    if (size < kBmpHeaderLength) {
        error = "BMP of " + std::to_string(size) + " bytes is shorter than its 54-byte header";
        return false;
    }
    if (p[0] != 'B' || p[1] != 'M') {
        error = "BMP does not start with \"BM\"";
        return false;
    }
    const uint32_t fileSize = LoadLE4(p + 2);
    const uint32_t pixelOffset = LoadLE4(p + 10);
    const uint32_t infoSize = LoadLE4(p + 14);
    const int32_t width = int32_t(LoadLE4(p + 18));
    const int32_t height = int32_t(LoadLE4(p + 22));
    const uint16_t planes = LoadLE2(p + 26);
    const uint16_t bits = LoadLE2(p + 28);
    const uint32_t compression = LoadLE4(p + 30);
    const uint32_t imageSize = LoadLE4(p + 34);
    uint32_t colours = LoadLE4(p + 46);
    if (fileSize != size) {
        error = "BMP size field says " + std::to_string(fileSize) + " bytes, the payload has " +
                std::to_string(size);
        return false;
    }
    if (infoSize != 40) {
        error = "BMP information header of " + std::to_string(infoSize) + " bytes, not 40";
        return false;
    }
    if (width <= 0 || height <= 0) {
        error = "BMP of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels (bottom-up rows with positive sizes expected)";
        return false;
    }
    if (planes != 1 || bits != 8 || compression != 0) {
        error = "BMP with " + std::to_string(planes) + " planes, " + std::to_string(bits) +
                " bits per pixel, compression " + std::to_string(compression) +
                " (1, 8, 0 expected)";
        return false;
    }
    if (colours == 0) {
        colours = 256;
    }
    if (colours > 256 || kBmpHeaderLength + uint64_t(colours) * 4 > pixelOffset) {
        error = "BMP palette of " + std::to_string(colours) +
                " colours does not fit before the pixel rows at " + std::to_string(pixelOffset);
        return false;
    }
    const uint64_t rowBytes = (uint64_t(width) + 3) / 4 * 4;
    const uint64_t pixelBytes = rowBytes * uint64_t(height);
    if (imageSize != 0 && imageSize != pixelBytes) {
        error = "BMP image size field says " + std::to_string(imageSize) + " bytes, " +
                std::to_string(width) + " x " + std::to_string(height) + " rows need " +
                std::to_string(pixelBytes);
        return false;
    }
    if (uint64_t(pixelOffset) + pixelBytes != size) {
        error = "BMP pixel rows at " + std::to_string(pixelOffset) + " of " +
                std::to_string(pixelBytes) + " bytes do not end with the payload of " +
                std::to_string(size) + " bytes";
        return false;
    }
    out.width = width;
    out.height = height;
    out.xPixelsPerMeter = LoadLE4(p + 38);
    out.yPixelsPerMeter = LoadLE4(p + 42);
    out.greyPalette = colours == 256;
    for (uint32_t i = 0; i < colours && out.greyPalette; ++i) {
        const uint8_t* entry = p + kBmpHeaderLength + i * 4;
        out.greyPalette = entry[0] == i && entry[1] == i && entry[2] == i;
    }
    out.pixels.resize(size_t(width) * size_t(height));
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(out.pixels.data() + size_t(row) * size_t(width),
                    p + pixelOffset + uint64_t(row) * rowBytes, size_t(width));
    }
    return true;
}

int SheetCollector::Fail(uint64_t offset, std::string message) {
    m_error = {offset, std::move(message)};
    return -1;
}

int SheetCollector::Feed(const Packet& packet) {
    int result = 0;
    if (m_ready) {
        m_handout = std::move(*m_ready);
        m_ready.reset();
        if (packet.Is("CNTRL", "START")) {
            m_handout->started = true;
            return 1;
        }
        result = 1;
    }
    static const char* const kPlanes[3] = {"YPLANE", "MPLANE", "CPLANE"};
    int plane = -1;
    for (int i = 0; i < 3; ++i) {
        if (packet.Is("IMAGE", kPlanes[i])) {
            plane = i;
        }
    }
    if (plane < 0) {
        if (m_planesSeen > 0) {
            return Fail(packet.offset, Name(packet) + " at offset " +
                                           std::to_string(packet.offset) +
                                           " inside the planes of the sheet at offset " +
                                           std::to_string(m_building.offset));
        }
        if (packet.Is("IMAGE", "MULTICUT")) {
            const auto text = packet.ShortText(8);
            if (!text || text->size() != 8 || !std::all_of(text->begin(), text->end(), [](char c) {
                    return c >= '0' && c <= '9';
                })) {
                return Fail(packet.offset + 32, "IMAGE/MULTICUT at offset " +
                                                    std::to_string(packet.offset) +
                                                    " does not carry 8 digits");
            }
            m_multicut = std::stoi(*text);
        }
        return result;
    }
    if (plane != m_planesSeen) {
        return Fail(packet.offset, Name(packet) + " at offset " + std::to_string(packet.offset) +
                                       " where IMAGE/" + kPlanes[m_planesSeen] + " was expected");
    }
    Plane decoded;
    std::string why;
    if (!DecodePlaneBmp(packet.payload, decoded, why)) {
        return Fail(packet.offset + 32,
                    Name(packet) + " at offset " + std::to_string(packet.offset) + ": " + why);
    }
    if (plane == 0) {
        m_building = Sheet();
        m_building.offset = packet.offset;
        m_building.multicutCode = m_multicut;
        m_building.yellow = std::move(decoded);
    } else {
        if (decoded.width != m_building.yellow.width ||
            decoded.height != m_building.yellow.height) {
            return Fail(packet.offset + 32,
                        Name(packet) + " at offset " + std::to_string(packet.offset) + " is " +
                            std::to_string(decoded.width) + " x " + std::to_string(decoded.height) +
                            ", its yellow plane " + std::to_string(m_building.yellow.width) +
                            " x " + std::to_string(m_building.yellow.height));
        }
        (plane == 1 ? m_building.magenta : m_building.cyan) = std::move(decoded);
    }
    if (++m_planesSeen == 3) {
        m_planesSeen = 0;
        m_building.number = ++m_count;
        m_ready = std::move(m_building);
        m_building = Sheet();
    }
    return result;
}

int SheetCollector::Finish() {
    if (m_ready) {
        m_handout = std::move(*m_ready);
        m_ready.reset();
        return 1;
    }
    if (m_planesSeen > 0) {
        return Fail(m_building.offset, "the stream ends inside the planes of the sheet at offset " +
                                           std::to_string(m_building.offset));
    }
    return 0;
}

Sheet SheetCollector::TakeSheet() {
    Sheet s;
    if (m_handout) {
        s = std::move(*m_handout);
        m_handout.reset();
    }
    return s;
}

namespace {

ParsedStream Parse(PacketReader& reader) {
    ParsedStream parsed;
    SheetCollector sheets;
    Packet packet;
    int r;
    while ((r = reader.Next(packet)) == 1) {
        const int s = sheets.Feed(packet);
        parsed.packets.push_back(std::move(packet));
        if (s == 1) {
            parsed.sheets.push_back(sheets.TakeSheet());
        }
        if (s < 0) {
            parsed.error = sheets.Error();
            return parsed;
        }
    }
    // At a fault too, a sheet whose planes are complete is kept.
    const int s = sheets.Finish();
    if (s == 1) {
        parsed.sheets.push_back(sheets.TakeSheet());
    }
    if (r < 0) {
        parsed.error = reader.Error();
    } else if (s < 0) {
        parsed.error = sheets.Error();
    }
    return parsed;
}

}  // namespace

ParsedStream ParseStream(std::span<const uint8_t> bytes) {
    PacketReader reader(bytes);
    return Parse(reader);
}

ParsedStream ParseFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ParsedStream parsed;
        parsed.error = StreamError{0, "cannot open " + path};
        return parsed;
    }
    PacketReader reader(file);
    ParsedStream parsed = Parse(reader);
    if (std::ferror(file)) {
        parsed.error = StreamError{reader.Offset(), "read error in " + path};
    }
    std::fclose(file);
    return parsed;
}

}  // namespace qzm::stream
