// Fuzz target: what the backend takes from a printer and from CUPS. Input:
// one or two status bytes, then the media size, initial count, remaining
// count, device-ID reply and device URI, separated by NUL.
#include "DeviceUri.h"
#include "EmulatedPrinter.h"
#include "FuzzSupport.h"
#include "InfoFile.h"
#include "Paths.h"
#include "PrintStatusFile.h"
#include "PrinterAccess.h"
#include "StatusReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qzm::fuzz::Require;
    // Status codes the printer uses, so that short inputs reach each of them.
    static constexpr int kCodes[] = {0,    900,  1000, 1010, 1100, 1200, 1300,  1400,
                                     1500, 1600, 2000, 2500, 3000, 3001, 99999, -1};
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    qzm::fuzz::Input input(data, size);
    const uint8_t pick = input.Byte();
    const int status =
        pick < 128 ? kCodes[pick % std::size(kCodes)] : ((pick << 8) | input.Byte()) % 100000;
    auto parts = qzm::fuzz::Split(input.Rest(), std::string_view("\0", 1), 5);
    qzm::emu::PrinterState state;
    if (parts.size() > 3) {
        state.deviceIdReply = parts[3];
    }
    parts.resize(5);

    // A device ID lies inside the reply and holds no control character.
    OpenedPrinter printer(qzm::emu::EmulatedPrinter::Create(state)->CreateDevice());
    Require(printer.Open() == qzm::usb::kUsbOk);
    const std::string id = printer.ReadDeviceId();
    Require(std::none_of(id.begin(), id.end(),
                         [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; }) &&
            (id.empty() ||
             id.size() + 2 <= state.deviceIdReply.value_or(state.deviceId + "  ").size()));

    const int level = _MarkerLevel(status, _SkipPrefix(parts[0], 2), _SkipPrefix(parts[1], 4),
                                   _SkipPrefix(parts[2], 4));
    Require(level >= -1 && level <= 100);
    // The print-status file: its heading, one MEDIA_SIZE line, an empty line.
    PrintStatusFile file("42");
    Require(file.Write(parts[0]));
    std::ifstream in(qzm::paths::Rooted(qzm::paths::kCacheFolder) + "/Print_42.log");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    Require(text.starts_with("#MEDIA_INFORMATION\nMEDIA_SIZE=\"") && text.ends_with("\"\n\n") &&
            std::count(text.begin(), text.end(), '\n') == 3);

    // The serial taken from a queue's device URI gives that URI back.
    std::string serial;
    Require(!_SerialFromDeviceUri(parts[4], &serial) || _MakeDeviceUri(serial) == parts[4]);
    return 0;
}
