#include "StreamSender.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "UsbTransport.h"

namespace {

constexpr size_t kOnePieceBelow = 512;
constexpr size_t kKeepForLater = 256;
constexpr size_t kLargestPiece = 65536;
constexpr size_t kReadBlock = 1 << 16;
// How often a wait for the stream looks at the cancel flag.
constexpr int kReadPollMs = 100;
constexpr size_t kHeaderLength = 32;
constexpr size_t kLengthField = 24;
constexpr size_t kLengthDigits = 8;
// Failures other than time-outs in a row before the printer counts as gone.
constexpr int kFailureLimit = 5;
constexpr auto kFailurePause = std::chrono::milliseconds(200);
// Time-outs without progress in a row before the printer counts as waiting.
constexpr int kStallsBeforeWaiting = 2;

struct Completion {
    int status = qzm::usb::kUsbError;
    uint32_t moved = 0;
};

void KeepCompletion(void* refCon, int result, void* arg) {
    auto* completion = static_cast<Completion*>(refCon);
    completion->status = result;
    completion->moved = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
}

// The payload length of a packet header: 8 blanks (none) or 8 digits; -1
// when the bytes are not a packet header.
long PayloadLength(const uint8_t* header) {
    if (header[0] != 0x1B || header[1] != 'P') {
        return -1;
    }
    const uint8_t* field = header + kLengthField;
    if (std::all_of(field, field + kLengthDigits, [](uint8_t c) { return c == ' '; })) {
        return 0;
    }
    long length = 0;
    for (size_t i = 0; i < kLengthDigits; ++i) {
        if (field[i] < '0' || field[i] > '9') {
            return -1;
        }
        length = length * 10 + (field[i] - '0');
    }
    return length;
}

bool IsSheetEnd(const uint8_t* header) {
    static constexpr char kStart[] = "CNTRL START           ";
    return std::memcmp(header + 2, kStart, sizeof kStart - 1) == 0;
}

}  // namespace

SendResult StreamSender::SendBlock(const uint8_t* data, size_t length) {
    size_t offset = 0;
    int failures = 0;
    int stalls = 0;
    while (offset < length) {
        if (Cancelled()) {
            return SendResult::kCancelled;
        }
        const size_t remaining = length - offset;
        size_t piece = remaining < kOnePieceBelow ? remaining : remaining - kKeepForLater;
        piece = std::min(piece, kLargestPiece);
        Completion completion;
        const int started = interface_->StartBulkTransfer(
            outPipeRef, const_cast<uint8_t*>(data + offset), static_cast<uint32_t>(piece),
            kWriteTimeoutMs, kWriteTimeoutMs, KeepCompletion, &completion);
        if (started == qzm::usb::kUsbOk) {
            interface_->WaitForCompletion();
        } else {
            completion.status = started;
        }
        const size_t moved = std::min<size_t>(completion.moved, piece);
        offset += moved;
        sent_ += moved;
        switch (completion.status) {
            case qzm::usb::kUsbOk:
                failures = 0;
                stalls = 0;
                break;
            case qzm::usb::kUsbTimedOut:
                // A busy printer holds data back; go on where it stopped.
                failures = 0;
                stalls = moved > 0 ? 0 : stalls + 1;
                if (stalls == kStallsBeforeWaiting && hooks_.waiting) {
                    hooks_.waiting();
                }
                break;
            case qzm::usb::kUsbNoDevice:
                return SendResult::kPrinterGone;
            default:
                if (++failures >= kFailureLimit) {
                    return SendResult::kPrinterGone;
                }
                std::this_thread::sleep_for(kFailurePause);
        }
    }
    return SendResult::kDone;
}

SendResult StreamSender::SendPending() {
    size_t start = 0;  // first byte of pending_ not yet sent
    SendResult result = SendResult::kDone;
    while (packets_ && pending_.size() - start >= kHeaderLength) {
        const long payload = PayloadLength(pending_.data() + start);
        if (payload < 0) {
            packets_ = false;  // not our packets: send the rest as it comes
            break;
        }
        const size_t whole = kHeaderLength + static_cast<size_t>(payload);
        if (pending_.size() - start < whole) {
            break;
        }
        result = SendBlock(pending_.data() + start, whole);
        if (result != SendResult::kDone) {
            break;
        }
        const bool sheetEnd = IsSheetEnd(pending_.data() + start);
        start += whole;
        if (sheetEnd && hooks_.sheetSent) {
            result = hooks_.sheetSent();
            if (result != SendResult::kDone) {
                break;
            }
        }
    }
    if (result == SendResult::kDone && !packets_ && pending_.size() > start) {
        result = SendBlock(pending_.data() + start, pending_.size() - start);
        start = pending_.size();
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(start));
    return result;
}

SendResult StreamSender::Feed(const uint8_t* data, size_t length) {
    pending_.insert(pending_.end(), data, data + length);
    return SendPending();
}

SendResult StreamSender::Send(int fd) {
    // Each stream starts afresh: a packet cut short by the end of an earlier
    // one is dropped.
    pending_.clear();
    packets_ = true;
    bool atEnd = false;
    while (!atEnd) {
        if (Cancelled()) {
            return SendResult::kCancelled;
        }
        // Waiting in poll rather than read: a cancel that arrives just before
        // the wait is still seen within a moment.
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, kReadPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        const size_t had = pending_.size();
        pending_.resize(had + kReadBlock);
        const ssize_t got = ::read(fd, pending_.data() + had, kReadBlock);
        pending_.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SendResult::kInputError;
        }
        atEnd = got == 0;
        const SendResult result = SendPending();
        if (result != SendResult::kDone) {
            return result;
        }
    }
    return SendResult::kDone;
}
