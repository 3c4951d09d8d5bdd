// An emulated QZ-M480 for tests, behind the USB interface of src/Platform.
//
// It reads the command packets sent to its bulk-out pipe, answers the status
// queries on its bulk-in pipe (8 decimal digits of length, then the data),
// answers the printer-class device-ID request, keeps every packet of a print
// job, and misbehaves on request. Transfers complete at once: one that finds
// nothing to read completes with kUsbTimedOut and moves no byte, so a test
// never waits for a time-out. Every transfer is recorded.
//
// Typical use:
//   auto printer = qzm::emu::EmulatedPrinter::Create(state);
//   auto intf = printer->CreateInterface();   // or CreateDevice(), or a bus
//   intf->OpenSeize(); ... GetStatus(intf.get()) ...
//   printer->Transfers(), printer->Sheets()
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "UsbBus.h"

namespace qzm::emu {

// What the printer reports. Texts are answered as they stand, followed by a
// carriage return and a line feed.
struct PrinterState {
    uint16_t vendorId = 0x1343;
    uint16_t productId = 0x0480;
    int status = 0;                                                // "STATUS", as "%05d"
    std::string serial = "QZ0001";                                 // "INFO" "SERIAL_NUMBER"
    std::string firmware = "1.00";                                 // "INFO" "FVER"
    std::string mediaSize = "01200";                               // "INFO" "MEDIA"
    std::string mediaInitial = "00000400";                         // "INFO" "MQTY_DEFAULT"
    std::string mediaRemain = "00000123";                          // "INFO" "MQTY"
    std::string mediaRemainHalf = "00000000";                      // "INFO" "RQTY"
    std::string mediaClass = "00";                                 // "INFO" "MEDIA_CLASS_RFID"
    std::string lifeCounter = "0000042";                           // "MNT_RD" "COUNTER_LIFE"
    std::string deviceId = "MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;";  // IEEE 1284
    // When set, the exact reply to the device-ID request (length prefix
    // included), cut to the length asked for, in place of one made from
    // deviceId.
    std::optional<std::string> deviceIdReply;
    uint8_t configurationValue = 1;
    uint8_t interfaceNumber = 0;
    bool deviceOpenFails = false;     // the device cannot be opened
    bool interfaceOpenFails = false;  // the interface cannot be opened
    bool deviceIdFails = false;       // the device-ID request stalls
};

// Ways to misbehave when answering a query.
enum class Fault {
    kNone,
    kNoAnswer,             // nothing is sent: the read times out
    kBadHeader,            // the last header byte is "A" instead of a digit
    kLongerThanAnnounced,  // the header announces half of the data sent
    kGarbage,              // 16 bytes that are not an answer at all
    kStall,                // the next read stalls; the answer is dropped
    kRemoveMidTransfer,    // the header arrives, then the printer is unplugged
};

// One transfer as the printer saw it.
struct Transfer {
    enum class Kind { kBulkOut, kBulkIn, kControl };
    Kind kind = Kind::kBulkOut;
    uint8_t pipe = 0;          // 1 bulk out, 2 bulk in, 0 control
    uint32_t length = 0;       // bytes asked for
    uint32_t transferred = 0;  // bytes moved
    int status = 0;            // completion status (qzm::usb::kUsb...)
    uint16_t value = 0;        // control requests: wValue
    uint16_t index = 0;        // control requests: wIndex
};

// One command packet as received.
struct Packet {
    std::string command;     // without padding
    std::string subCommand;  // without padding; empty when blank
    std::vector<uint8_t> payload;
};

class EmulatedPrinter : public std::enable_shared_from_this<EmulatedPrinter> {
  public:
    static std::shared_ptr<EmulatedPrinter> Create(PrinterState state = {});

    PrinterState State() const;
    void SetState(const PrinterState& state);

    // Every answer to this query misbehaves until ClearFaults(); an empty
    // command means every query.
    void SetFault(Fault fault, const std::string& command = {}, const std::string& subCommand = {});
    // The next answer to this query is exactly these bytes (header included).
    void SetRawAnswer(const std::string& command, const std::string& subCommand,
                      const std::string& bytes);
    void ClearFaults();

    // Unplugs the printer: every later open, transfer or request fails, and an
    // attached bus reports the removal. Plug() undoes it (Attach does too).
    void Remove();
    void Plug();
    bool Removed() const;

    std::vector<Transfer> Transfers() const;
    void ClearTransfers();
    // Every packet received, queries included.
    std::vector<Packet> Packets() const;
    // The print-job packets, one group per sheet, each closed by "CNTRL"
    // "START"; packets after the last start are not in a group yet.
    std::vector<std::vector<Packet>> Sheets() const;
    bool InterfaceOpen() const;

    // The device object that a bus hands out on arrival.
    std::unique_ptr<usb::UsbDevice> CreateDevice();
    // The printer's interface, for tests of the transport.
    std::unique_ptr<usb::UsbInterface> CreateInterface();
    usb::UsbDeviceId Id() const { return this; }

    // Used by the emulated device, interface and bus.
    int OpenDevice();
    int OpenInterface();
    void CloseInterface();
    int StartTransfer(uint8_t pipe, void* buffer, uint32_t size, int* status, uint32_t* moved);
    int ControlRequest(usb::UsbControlRequest* request);
    void SetRemovalListener(std::function<void()> listener);

  private:
    explicit EmulatedPrinter(PrinterState state) : state_(std::move(state)) {}

    void Receive(const uint8_t* data, uint32_t size);
    void HandlePacket(Packet packet);
    void Answer(const Packet& packet, const std::string& data);
    void RemoveLocked();
    void NotifyRemoval();

    mutable std::mutex mutex_;
    PrinterState state_;
    std::map<std::pair<std::string, std::string>, Fault> faults_;
    std::map<std::pair<std::string, std::string>, std::string> rawAnswers_;
    std::vector<uint8_t> inbox_;   // bytes received, not yet a whole packet
    std::vector<uint8_t> outbox_;  // answer bytes waiting for reads
    bool stallArmed_ = false;
    bool removeArmed_ = false;
    bool removalPending_ = false;
    bool removed_ = false;
    int openInterfaces_ = 0;
    std::vector<Transfer> transfers_;
    std::vector<Packet> packets_;
    std::vector<std::vector<Packet>> sheets_;
    std::vector<Packet> currentSheet_;
    std::function<void()> removalListener_;
};

}  // namespace qzm::emu
