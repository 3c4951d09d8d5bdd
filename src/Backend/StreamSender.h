// Sends a job's command stream to the printer, unchanged.
//
// The stream is cut at its packet boundaries (the 32-byte header names the
// payload length), and each packet goes out the way the daemon writes a
// command: below 512 bytes in one transfer; while 512 or more remain, pieces
// of at most 65536 bytes that leave at least 256 for later. Unlike the
// daemon's queries, a print job cannot lose a byte: a transfer that times
// out while the printer is busy is continued from the bytes it moved. A
// stream that is not made of packets is sent as it comes, by the same rule
// per block read.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "UsbBus.h"

enum class SendResult {
    kDone,         // everything sent
    kCancelled,    // stopped between two transfers on request
    kPrinterGone,  // the printer went away or stopped taking data
    kInputError,   // the stream could not be read
};

class StreamSender {
  public:
    struct Hooks {
        // Asked between transfers; true stops the job.
        std::function<bool()> cancelled;
        // Called after each "CNTRL" "START" packet (the end of a sheet),
        // between packets; anything but kDone stops the job with it.
        std::function<SendResult()> sheetSent;
        // Called once each time the printer stops taking data for a while.
        std::function<void()> waiting;
    };

    StreamSender(qzm::usb::UsbInterface* interface, Hooks hooks)
        : interface_(interface), hooks_(std::move(hooks)) {}

    // Reads fd to its end and sends what it carries; bytes kept back by
    // Feed or an earlier Send are dropped first. A last packet cut short
    // by the end of the stream is held back: the printer would take the next
    // job's first bytes for its missing payload.
    SendResult Send(int fd);

    // Sends one block of bytes as one command.
    SendResult SendBlock(const uint8_t* data, size_t length);

    // Takes the next bytes of a stream that arrives in pieces of any size
    // and sends every packet completed so far, as Send does; the start of a
    // packet not yet complete is kept for the next call.
    SendResult Feed(const uint8_t* data, size_t length);
    // Bytes of an incomplete packet kept back by Feed.
    size_t Held() const { return pending_.size(); }

    uint64_t BytesSent() const { return sent_; }

  private:
    bool Cancelled() const { return hooks_.cancelled && hooks_.cancelled(); }

    // Sends the whole packets at the front of pending_ and drops them.
    SendResult SendPending();

    qzm::usb::UsbInterface* interface_;
    Hooks hooks_;
    uint64_t sent_ = 0;
    std::vector<uint8_t> pending_;  // bytes received, not sent yet
    bool packets_ = true;           // false once the stream is not made of packets
};
