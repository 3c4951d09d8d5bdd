// Reading a printer command stream back: packet framing, plane images and
// printed sheets. Used by the stream inspector and by the tests of the filter.
//
// A packet is ESC 'P', a 6-byte command name, a 16-byte sub-command (both
// left-aligned and padded with spaces), a length field of 8 decimal digits or
// 8 spaces, and that many payload bytes. Everything read is untrusted: every
// field is checked and a fault is reported with its byte offset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qzm::stream {

// One packet as read from the stream.
struct Packet {
    uint64_t offset = 0;     // byte offset of its ESC in the stream
    std::string command;     // without the padding spaces
    std::string subCommand;  // without the padding spaces; empty when blank
    bool hasLength = false;  // false when the length field is 8 spaces
    std::vector<uint8_t> payload;

    bool Is(const char* cmd, const char* sub) const { return command == cmd && subCommand == sub; }
    // The payload as text when it is short and printable (at most maxLength).
    std::optional<std::string> ShortText(size_t maxLength = 40) const;
};

// A fault in the stream and where it lies.
struct StreamError {
    uint64_t offset = 0;
    std::string message;
};

// Reads packets one after the other from a file or from memory.
class PacketReader {
  public:
    explicit PacketReader(std::FILE* in);                   // not closed by the reader
    explicit PacketReader(std::span<const uint8_t> bytes);  // must outlive the reader

    // 1: a packet was read into out; 0: clean end of the stream; -1: a fault,
    // see Error(). After a fault or the end, further calls give the same.
    int Next(Packet& out);
    const StreamError& Error() const { return m_error; }
    uint64_t Offset() const { return m_offset; }

  private:
    size_t Read(uint8_t* into, size_t count);
    int Fail(uint64_t offset, std::string message);

    std::FILE* m_file = nullptr;
    std::span<const uint8_t> m_bytes;
    uint64_t m_offset = 0;
    int m_state = 1;
    StreamError m_error;
};

// One 8-bit plane image taken from a plane packet's BMP payload.
struct Plane {
    int width = 0;
    int height = 0;
    uint32_t xPixelsPerMeter = 0;
    uint32_t yPixelsPerMeter = 0;
    bool greyPalette = false;     // palette entry i is i, i, i
    std::vector<uint8_t> pixels;  // height rows of width bytes, in the payload's row order

    // Row i as stored in the payload (row 0 is the bottom of the picture).
    const uint8_t* StoredRow(int i) const { return pixels.data() + size_t(i) * size_t(width); }
    // Row y of the picture counted from its top (the payload's last row first).
    const uint8_t* PictureRow(int y) const { return StoredRow(height - 1 - y); }
};

// Checks an 8-bit uncompressed bottom-up BMP against its payload length and
// copies its pixels out. On a fault returns false with the reason in error.
bool DecodePlaneBmp(std::span<const uint8_t> payload, Plane& out, std::string& error);

// One printed sheet: the three plane packets "IMAGE"/"YPLANE", "MPLANE",
// "CPLANE" in this order.
struct Sheet {
    int number = 0;         // 1 for the first sheet of the stream
    uint64_t offset = 0;    // offset of its "YPLANE" packet
    int multicutCode = -1;  // payload of the last "IMAGE"/"MULTICUT" before it
    bool started = false;   // a "CNTRL"/"START" packet follows the planes
    Plane yellow, magenta, cyan;
};

// Assembles sheets from the packets of a stream, in order.
class SheetCollector {
  public:
    // Takes the next packet. Returns 1 when a sheet is ready (TakeSheet), 0
    // otherwise, -1 on a fault (a plane out of order, a bad BMP, planes of
    // different sizes), see Error().
    int Feed(const Packet& packet);
    // At the end of the stream: 1 when a last sheet is ready, 0 when nothing
    // is pending, -1 when the planes of a sheet are incomplete.
    int Finish();
    Sheet TakeSheet();
    const StreamError& Error() const { return m_error; }

  private:
    int Fail(uint64_t offset, std::string message);

    int m_multicut = -1;
    int m_count = 0;
    int m_planesSeen = 0;  // 0..3 of the sheet being assembled
    Sheet m_building;
    std::optional<Sheet> m_ready;    // complete planes, waiting for its start
    std::optional<Sheet> m_handout;  // returned by TakeSheet
    StreamError m_error;
};

// A whole stream read at once (for tests and small streams).
struct ParsedStream {
    std::vector<Packet> packets;
    std::vector<Sheet> sheets;
    std::optional<StreamError> error;  // the first fault, if any
};
ParsedStream ParseStream(std::span<const uint8_t> bytes);
// Reads a file; an unreadable file is reported as a fault at offset 0.
ParsedStream ParseFile(const std::string& path);

}  // namespace qzm::stream
