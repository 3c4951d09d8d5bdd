// Fuzz target: what the backend takes from a printer and from CUPS. An
// emulated printer answers with the input's serial, media answers, status
// and device-ID reply; the backend reads them as it does for discovery and
// between sheets, turns them into CUPS status lines and the job's
// print-status file, and matches the queue's device URI.
//
// Input: a status selector (2 bytes), then the serial, media size, initial
// count, remaining count, device-ID reply and device URI, separated by NUL.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "DeviceUri.h"
#include "EmulatedPrinter.h"
#include "FuzzSupport.h"
#include "Paths.h"
#include "PrintStatusFile.h"
#include "PrinterAccess.h"
#include "StatusQueries.h"
#include "StatusReport.h"

namespace {

constexpr char kJobId[] = "42";

// Status codes the printer uses, so that short inputs reach each of them.
constexpr int kCodes[] = {0,    900,  1000, 1010, 1100, 1200, 1300, 1400,
                          1500, 1600, 2000, 2500, 3000, 3001, 99999, -1};

bool Printable(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

std::string Ask(int64_t (*query)(qzm::usb::UsbInterface*, char*, size_t),
                qzm::usb::UsbInterface* interface) {
    char text[kQueryFieldSize];
    return query(interface, text, sizeof text) < 0 ? std::string() : std::string(text);
}

std::string From(const std::string& text, size_t count) {
    return text.size() > count ? text.substr(count) : std::string();
}

// Every status line is one line of a kind CUPS reads from a backend.
void CheckStatusLines(const std::string& lines) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("STATE: ", 0) != 0 && line.rfind("ATTR: ", 0) != 0 &&
            line.rfind("INFO: ", 0) != 0) {
            std::abort();
        }
    }
}

// The print-status file holds its heading, one MEDIA_SIZE line and an empty
// line.
void CheckPrintStatusFile(const std::string& mediaAnswer) {
    PrintStatusFile file(kJobId);
    if (!file.Write(mediaAnswer)) {
        std::abort();
    }
    const std::string path = qzm::paths::Rooted(qzm::paths::kCacheFolder) + "/" +
                             _PrintStatusFileName(kJobId);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string head = "#MEDIA_INFORMATION\nMEDIA_SIZE=\"";
    const std::string tail = "\"\n\n";
    if (text != _PrintStatusText(mediaAnswer) || text.size() < head.size() + tail.size() ||
        text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0 ||
        std::count(text.begin(), text.end(), '\n') != 3) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    (void)root;
    qzm::fuzz::Input input(data, size);
    const uint8_t pick = input.Byte();
    const uint8_t low = input.Byte();
    const auto parts = qzm::fuzz::Split(input.Rest(), std::string_view("\0", 1), 6);
    auto part = [&parts](size_t i) { return i < parts.size() ? std::string(parts[i]) : std::string(); };

    qzm::emu::PrinterState state;
    state.status = pick < 128 ? kCodes[pick % std::size(kCodes)] : ((pick << 8) | low) % 100000;
    state.serial = part(0);
    state.mediaSize = part(1);
    state.mediaInitial = part(2);
    state.mediaRemain = part(3);
    if (parts.size() > 4) {
        state.deviceIdReply = part(4);
    }
    auto emulated = qzm::emu::EmulatedPrinter::Create(state);

    OpenedPrinter printer(emulated->CreateDevice());
    if (printer.Open() != qzm::usb::kUsbOk) {
        std::abort();
    }
    std::string serial;
    if (printer.ReadSerial(&serial)) {
        // The serial names files and queues: one plain name, and the URI
        // made from it gives it back.
        std::string back;
        if (!Printable(serial) || serial.find('/') != std::string::npos || serial == "." ||
            serial == ".." || !_SerialFromDeviceUri(_MakeDeviceUri(serial), &back) ||
            back != serial) {
            std::abort();
        }
    }
    const std::string id = printer.ReadDeviceId();
    const size_t replySize = state.deviceIdReply ? state.deviceIdReply->size()
                                                 : state.deviceId.size() + 2;
    if (!Printable(id) || (!id.empty() && id.size() + 2 > replySize)) {
        std::abort();
    }

    qzm::usb::UsbInterface* interface = printer.Interface();
    const int answered = GetStatus(interface);
    const int status = answered == kStatusUnknown ? kStatusOffline : answered;
    const std::string media = Ask(GetMediaSize, interface);
    const std::string initial = Ask(GetMediaInitial, interface);
    const std::string remain = Ask(GetMediaRemain, interface);
    const int level = _MarkerLevel(status, From(media, 2), From(initial, 4), From(remain, 4));
    if (level < -1 || level > 100) {
        std::abort();
    }

    char* buffer = nullptr;
    size_t length = 0;
    std::FILE* out = ::open_memstream(&buffer, &length);
    {
        StatusReporter report(out);
        report.Reset();
        report.ReportStatus(status, "Printing.");
        report.ReportMarker(level);
        report.ClearReasons();
    }
    std::fclose(out);
    CheckStatusLines(std::string(buffer, length));
    std::free(buffer);

    CheckPrintStatusFile(media);

    std::string fromUri;
    const std::string uri = part(5);
    if (_SerialFromDeviceUri(uri, &fromUri) && _MakeDeviceUri(fromUri) != uri) {
        std::abort();
    }
    return 0;
}
