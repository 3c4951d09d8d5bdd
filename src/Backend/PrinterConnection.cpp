#include "PrinterConnection.h"

#include "StatusQueries.h"

namespace qzm::backend {

namespace {

std::string AskText(int64_t (*query)(usb::UsbInterface*, char*, size_t),
                    usb::UsbInterface* interface) {
    char text[kQueryFieldSize];
    return query(interface, text, sizeof text) < 0 ? std::string() : std::string(text);
}

std::string Skip(const std::string& text, size_t count) {
    return text.size() > count ? text.substr(count) : std::string();
}

}  // namespace

Connection FindPrinter(const BusFactory& factory, const std::string& serial, bool* busy) {
    Connection found;
    found.bus = factory ? factory() : nullptr;
    if (!found.bus) {
        return found;
    }
    for (auto& device : _AttachedPrinters(*found.bus)) {
        auto printer = std::make_unique<OpenedPrinter>(std::move(device));
        const int opened = printer->Open();
        if (opened == usb::kUsbBusy) {
            *busy = true;
        }
        std::string text;
        if (opened == usb::kUsbOk && printer->ReadSerial(&text) && text == serial) {
            found.printer = std::move(printer);
            break;
        }
    }
    return found;
}

Reading ReadPrinter(usb::UsbInterface* interface) {
    Reading reading;
    const int status = GetStatus(interface);
    reading.status = status == kStatusUnknown ? kStatusOffline : status;
    reading.media = AskText(GetMediaSize, interface);
    reading.initial = AskText(GetMediaInitial, interface);
    reading.remain = AskText(GetMediaRemain, interface);
    return reading;
}

std::string MediaCode(const Reading& reading) {
    return Skip(reading.media, 2);
}

int ReadingLevel(const Reading& reading) {
    return _MarkerLevel(reading.status, MediaCode(reading), Skip(reading.initial, 4),
                        Skip(reading.remain, 4));
}

}  // namespace qzm::backend
