#include "EmulatedPrinter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "EmulatedUsb.h"

namespace qzm::emu {
namespace {

constexpr size_t kHeaderLength = 32;

std::string Field(const uint8_t* bytes, size_t width) {
    std::string text(reinterpret_cast<const char*>(bytes), width);
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The length field: 8 digits, or 8 blanks for no payload. -1 when malformed.
long PayloadLength(const uint8_t* field) {
    bool blank = true;
    bool digits = true;
    for (size_t i = 0; i < 8; ++i) {
        blank = blank && field[i] == ' ';
        digits = digits && field[i] >= '0' && field[i] <= '9';
    }
    if (blank) {
        return 0;
    }
    return digits ? std::strtol(std::string(reinterpret_cast<const char*>(field), 8).c_str(),
                                nullptr, 10)
                  : -1;
}

enum class Query { kNone, kAnswered, kUnknown };

// Whether a packet is a query, and the text it is answered with.
Query QueryText(const PrinterState& state, const Packet& packet, std::string* text) {
    const std::string& sub = packet.subCommand;
    if (packet.command == "STATUS" && sub.empty()) {
        char status[16];
        std::snprintf(status, sizeof status, "%05d", state.status);
        *text = std::string(status) + "\r\n";
        text->resize(std::max<size_t>(text->size(), 8), '\0');
        return Query::kAnswered;
    }
    if (packet.command == "MNT_RD" && sub == "COUNTER_LIFE") {
        *text = state.lifeCounter + "\r\n";
        return Query::kAnswered;
    }
    if (packet.command != "INFO") {
        return Query::kNone;
    }
    static const std::pair<const char*, std::string PrinterState::*> kInfo[] = {
        {"SERIAL_NUMBER", &PrinterState::serial},
        {"FVER", &PrinterState::firmware},
        {"MEDIA", &PrinterState::mediaSize},
        {"MQTY_DEFAULT", &PrinterState::mediaInitial},
        {"MQTY", &PrinterState::mediaRemain},
        {"RQTY", &PrinterState::mediaRemainHalf},
        {"MEDIA_CLASS_RFID", &PrinterState::mediaClass},
    };
    for (const auto& [name, member] : kInfo) {
        if (sub == name) {
            *text = state.*member + "\r\n";
            return Query::kAnswered;
        }
    }
    return Query::kUnknown;  // an unknown "INFO" is never answered
}

}  // namespace

std::shared_ptr<EmulatedPrinter> EmulatedPrinter::Create(PrinterState state) {
    return std::shared_ptr<EmulatedPrinter>(new EmulatedPrinter(std::move(state)));
}

PrinterState EmulatedPrinter::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void EmulatedPrinter::SetState(const PrinterState& state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

void EmulatedPrinter::SetFault(Fault fault, const std::string& command,
                               const std::string& subCommand) {
    std::lock_guard lock(mutex_);
    faults_[{command, subCommand}] = fault;
}

void EmulatedPrinter::SetRawAnswer(const std::string& command, const std::string& subCommand,
                                   const std::string& bytes) {
    std::lock_guard lock(mutex_);
    rawAnswers_[{command, subCommand}] = bytes;
}

void EmulatedPrinter::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    rawAnswers_.clear();
    stallArmed_ = false;
    removeArmed_ = false;
}

void EmulatedPrinter::Remove() {
    {
        std::lock_guard lock(mutex_);
        RemoveLocked();
    }
    NotifyRemoval();
}

void EmulatedPrinter::Plug() {
    std::lock_guard lock(mutex_);
    removed_ = false;
    removalPending_ = false;
    openInterfaces_ = 0;
    inbox_.clear();
    outbox_.clear();
}

bool EmulatedPrinter::Removed() const {
    std::lock_guard lock(mutex_);
    return removed_;
}

std::vector<Transfer> EmulatedPrinter::Transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void EmulatedPrinter::ClearTransfers() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
}

std::vector<Packet> EmulatedPrinter::Packets() const {
    std::lock_guard lock(mutex_);
    return packets_;
}

std::vector<std::vector<Packet>> EmulatedPrinter::Sheets() const {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<Packet>> sheets = sheets_;
    if (!currentSheet_.empty()) {
        sheets.push_back(currentSheet_);
    }
    return sheets;
}

bool EmulatedPrinter::InterfaceOpen() const {
    std::lock_guard lock(mutex_);
    return openInterfaces_ > 0;
}

std::unique_ptr<usb::UsbDevice> EmulatedPrinter::CreateDevice() {
    return std::make_unique<EmulatedDevice>(shared_from_this());
}

std::unique_ptr<usb::UsbInterface> EmulatedPrinter::CreateInterface() {
    return std::make_unique<EmulatedInterface>(shared_from_this());
}

int EmulatedPrinter::OpenDevice() {
    std::lock_guard lock(mutex_);
    if (removed_) {
        return usb::kUsbNoDevice;
    }
    return state_.deviceOpenFails ? usb::kUsbBusy : usb::kUsbOk;
}

int EmulatedPrinter::OpenInterface() {
    std::lock_guard lock(mutex_);
    if (removed_) {
        return usb::kUsbNoDevice;
    }
    if (state_.interfaceOpenFails) {
        return usb::kUsbBusy;
    }
    ++openInterfaces_;
    return usb::kUsbOk;
}

void EmulatedPrinter::CloseInterface() {
    std::lock_guard lock(mutex_);
    if (openInterfaces_ > 0) {
        --openInterfaces_;
    }
}

int EmulatedPrinter::StartTransfer(uint8_t pipe, void* buffer, uint32_t size, int* status,
                                   uint32_t* moved) {
    {
        std::lock_guard lock(mutex_);
        if (removed_) {
            return usb::kUsbNoDevice;
        }
        if (pipe != usb::kPipeBulkOut && pipe != usb::kPipeBulkIn) {
            return usb::kUsbError;
        }
        Transfer record;
        record.pipe = pipe;
        record.length = size;
        if (pipe == usb::kPipeBulkOut) {
            record.kind = Transfer::Kind::kBulkOut;
            Receive(static_cast<const uint8_t*>(buffer), size);
            record.transferred = size;
            record.status = usb::kUsbOk;
        } else if (stallArmed_) {
            record.kind = Transfer::Kind::kBulkIn;
            stallArmed_ = false;
            record.status = usb::kUsbStall;
        } else if (removeArmed_ && outbox_.empty()) {
            record.kind = Transfer::Kind::kBulkIn;
            RemoveLocked();
            record.status = usb::kUsbNoDevice;
        } else {
            record.kind = Transfer::Kind::kBulkIn;
            const size_t count = std::min<size_t>(size, outbox_.size());
            std::copy_n(outbox_.begin(), count, static_cast<uint8_t*>(buffer));
            outbox_.erase(outbox_.begin(), outbox_.begin() + count);
            record.transferred = static_cast<uint32_t>(count);
            record.status = count == size ? usb::kUsbOk : usb::kUsbTimedOut;
        }
        transfers_.push_back(record);
        *status = record.status;
        *moved = record.transferred;
    }
    NotifyRemoval();
    return usb::kUsbOk;
}

int EmulatedPrinter::ControlRequest(usb::UsbControlRequest* request) {
    std::lock_guard lock(mutex_);
    if (removed_) {
        return usb::kUsbNoDevice;
    }
    Transfer record;
    record.kind = Transfer::Kind::kControl;
    record.length = request->length;
    record.value = request->value;
    record.index = request->index;
    request->transferred = 0;
    // GET_DEVICE_ID of the printer class: a 2-byte big-endian length that
    // counts itself, then the device ID.
    if (request->requestType != 0xA1 || request->request != 0 || state_.deviceIdFails ||
        (request->length > 0 && !request->data)) {
        record.status = usb::kUsbStall;
        transfers_.push_back(record);
        return usb::kUsbStall;
    }
    std::string reply;
    if (state_.deviceIdReply) {
        reply = *state_.deviceIdReply;
    } else {
        const size_t total = state_.deviceId.size() + 2;
        reply.push_back(static_cast<char>((total >> 8) & 0xFF));
        reply.push_back(static_cast<char>(total & 0xFF));
        reply += state_.deviceId;
    }
    const size_t count = std::min<size_t>(reply.size(), request->length);
    std::memcpy(request->data, reply.data(), count);
    request->transferred = static_cast<uint32_t>(count);
    record.transferred = request->transferred;
    transfers_.push_back(record);
    return usb::kUsbOk;
}

void EmulatedPrinter::SetRemovalListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    removalListener_ = std::move(listener);
}

// Collects packets from the bytes written; bytes that cannot start a packet
// are skipped up to the next ESC "P".
void EmulatedPrinter::Receive(const uint8_t* data, uint32_t size) {
    inbox_.insert(inbox_.end(), data, data + size);
    size_t used = 0;
    while (inbox_.size() - used >= 2) {
        const uint8_t* at = inbox_.data() + used;
        if (at[0] != 0x1B || at[1] != 'P') {
            ++used;
            continue;
        }
        if (inbox_.size() - used < kHeaderLength) {
            break;
        }
        const long length = PayloadLength(at + 24);
        if (length < 0) {
            used += 2;
            continue;
        }
        if (inbox_.size() - used < kHeaderLength + static_cast<size_t>(length)) {
            break;
        }
        Packet packet;
        packet.command = Field(at + 2, 6);
        packet.subCommand = Field(at + 8, 16);
        packet.payload.assign(at + kHeaderLength, at + kHeaderLength + length);
        used += kHeaderLength + length;
        HandlePacket(std::move(packet));
    }
    inbox_.erase(inbox_.begin(), inbox_.begin() + used);
}

void EmulatedPrinter::HandlePacket(Packet packet) {
    packets_.push_back(packet);
    std::string text;
    const Query query = QueryText(state_, packet, &text);
    if (query == Query::kAnswered) {
        Answer(packet, text);
    }
    if (query != Query::kNone) {
        return;
    }
    const bool start = packet.command == "CNTRL" && packet.subCommand == "START";
    currentSheet_.push_back(std::move(packet));
    if (start) {
        sheets_.push_back(std::move(currentSheet_));
        currentSheet_.clear();
    }
}

void EmulatedPrinter::Answer(const Packet& packet, const std::string& data) {
    const std::pair<std::string, std::string> key{packet.command, packet.subCommand};
    if (auto raw = rawAnswers_.find(key); raw != rawAnswers_.end()) {
        outbox_.insert(outbox_.end(), raw->second.begin(), raw->second.end());
        rawAnswers_.erase(raw);
        return;
    }
    Fault fault = Fault::kNone;
    if (auto found = faults_.find(key); found != faults_.end()) {
        fault = found->second;
    } else if (auto all = faults_.find({}); all != faults_.end()) {
        fault = all->second;
    }
    char header[24];
    std::snprintf(header, sizeof header, "%08zu", data.size());
    std::string bytes = std::string(header, 8) + data;
    switch (fault) {
        case Fault::kNone:
            break;
        case Fault::kNoAnswer:
            return;
        case Fault::kBadHeader:
            bytes[7] = 'A';
            break;
        case Fault::kLongerThanAnnounced:
            std::snprintf(header, sizeof header, "%08zu", std::max<size_t>(data.size() / 2, 1));
            bytes.replace(0, 8, header, 8);
            break;
        case Fault::kGarbage:
            bytes = std::string("\xFF\xFEgarbage\x80\x81\x1B?!#*&", 16);
            break;
        case Fault::kStall:
            stallArmed_ = true;
            return;
        case Fault::kRemoveMidTransfer:
            bytes.resize(8);
            removeArmed_ = true;
            break;
    }
    outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
}

void EmulatedPrinter::RemoveLocked() {
    if (!removed_) {
        removed_ = true;
        removalPending_ = true;
        removeArmed_ = false;
        outbox_.clear();
    }
}

// Tells the bus about a removal, outside the printer's lock.
void EmulatedPrinter::NotifyRemoval() {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        if (!removalPending_) {
            return;
        }
        removalPending_ = false;
        listener = removalListener_;
    }
    if (listener) {
        listener();
    }
}

}  // namespace qzm::emu
