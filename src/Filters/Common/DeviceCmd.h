// The printer command packet, shared by the print filter and the status daemon.
//
// On the wire a packet is a 32-byte text header followed by an optional
// payload:
//   0   ESC 'P'
//   2   command name, 6 bytes, space padded
//   8   sub-command, 16 bytes, space padded
//   24  payload length, "%08d", or 8 spaces when there is no payload
//   32  payload bytes
// Nothing follows the payload. Unused header bytes are spaces, never zeros.
#pragma once

#include <cstdint>

// Result codes of the low-level operations.
enum : int {
    kResultOk = 0,
    kResultCannotStart = 1,
    kResultNoMemory = 2,
    kResultInvalid = 3,
};

// One command packet in a heap buffer owned by the object.
//
// The buffer holds m_length packet bytes and two trailing zero bytes that are
// never sent. An object whose build failed is empty (m_data null, m_length 0)
// and writing it writes nothing. Users release the buffer with Free() (or by
// freeing m_data) before the object goes out of scope; the destructor does it
// too, so an early return cannot leak.
class DeviceCmd {
public:
    static constexpr int kHeaderLength = 32;
    static constexpr int kMaxCommandLength = 6;
    static constexpr int kMaxSubCommandLength = 16;
    static constexpr int kMaxPayloadLength = 99999999;  // 8 decimal digits

    DeviceCmd() = default;
    // Starts empty and builds the packet; a failed build leaves it empty.
    DeviceCmd(const char* command, const char* subCommand, int32_t payloadLength,
              const void* payload);
    ~DeviceCmd();

    DeviceCmd(const DeviceCmd&) = delete;
    DeviceCmd& operator=(const DeviceCmd&) = delete;

    // Builds the packet, replacing any packet held. Returns 0, 2 (no memory)
    // or 3 (invalid argument); on 2 or 3 the object is left empty.
    int MakeCmd(const char* command, const char* subCommand, int32_t payloadLength,
                const void* payload);

    // Releases the buffer; the object is empty afterwards. Returns 0.
    int Free();

    uint8_t* m_data = nullptr;
    int32_t m_length = 0;

private:
    int Fail(int code);
};

// Stores the low 16 bits of value at address, least significant byte first.
void _StoreLE2(void* address, uint32_t value);

// Stores the 32 bits of value at address, least significant byte first.
void _StoreLE4(void* address, uint32_t value);

// Reads exactly width characters of text as a decimal number, the way atoi
// reads a NUL-terminated text (leading blanks and a sign allowed, stops at the
// first non-digit, 0 without digits). Width must be 0 to 511, else -1 is
// returned without reading. Values beyond the int range saturate.
int _TextToInt(const char* text, int width);
