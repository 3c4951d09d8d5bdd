#include "EmulatorSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "EmulatedUsb.h"

namespace qzm::emu {

namespace {

// One request: what to do, on which printer, three numbers and some bytes.
enum Op : uint32_t {
    kList = 1,
    kOpenDevice,
    kCloseDevice,
    kOpenInterface,
    kCloseInterface,
    kConfiguration,
    kInterfaceNumber,
    kControl,
    kBulk,
};

struct Request {
    uint32_t op = 0;
    uint32_t printer = 0;
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t c = 0;
    std::vector<uint8_t> data;
};

struct Reply {
    int32_t result = usb::kUsbOk;
    int32_t status = usb::kUsbOk;
    uint32_t count = 0;
    std::vector<uint8_t> data;
};

// Requests never carry more than one bulk transfer of the transport.
constexpr uint32_t kLargestData = 16u << 20;

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t wrote = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendRequest(int fd, const Request& request) {
    const uint32_t head[6] = {request.op, request.printer,
                              request.a,  request.b,
                              request.c,  static_cast<uint32_t>(request.data.size())};
    return WriteAll(fd, head, sizeof head) &&
           WriteAll(fd, request.data.data(), request.data.size());
}

bool ReceiveRequest(int fd, Request* request) {
    uint32_t head[6];
    if (!ReadAll(fd, head, sizeof head) || head[5] > kLargestData) {
        return false;
    }
    request->op = head[0];
    request->printer = head[1];
    request->a = head[2];
    request->b = head[3];
    request->c = head[4];
    request->data.resize(head[5]);
    return ReadAll(fd, request->data.data(), request->data.size());
}

bool SendReply(int fd, const Reply& reply) {
    const uint32_t head[4] = {static_cast<uint32_t>(reply.result),
                              static_cast<uint32_t>(reply.status), reply.count,
                              static_cast<uint32_t>(reply.data.size())};
    return WriteAll(fd, head, sizeof head) && WriteAll(fd, reply.data.data(), reply.data.size());
}

bool ReceiveReply(int fd, Reply* reply) {
    uint32_t head[4];
    if (!ReadAll(fd, head, sizeof head) || head[3] > kLargestData) {
        return false;
    }
    reply->result = static_cast<int32_t>(head[0]);
    reply->status = static_cast<int32_t>(head[1]);
    reply->count = head[2];
    reply->data.resize(head[3]);
    return ReadAll(fd, reply->data.data(), reply->data.size());
}

// The completion of a server-side transfer: its status and byte count.
void KeepCompletion(void* refCon, int result, void* arg) {
    auto* reply = static_cast<Reply*>(refCon);
    reply->status = result;
    reply->count = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
}

// Carries out one request for one client; interfaces stay open per client.
Reply Handle(const Request& request, EmulatedPrinter& printer,
             std::unique_ptr<EmulatedInterface>& intf) {
    Reply reply;
    if (!intf) {
        intf = std::make_unique<EmulatedInterface>(printer.shared_from_this());
    }
    switch (request.op) {
        case kOpenDevice:
            reply.result = printer.OpenDevice();
            break;
        case kCloseDevice:
            break;
        case kOpenInterface:
            reply.result = intf->OpenSeize();
            break;
        case kCloseInterface:
            reply.result = intf->Close();
            break;
        case kConfiguration:
        case kInterfaceNumber: {
            uint8_t value = 0;
            reply.result = request.op == kConfiguration ? intf->GetConfigurationValue(&value)
                                                        : intf->GetInterfaceNumber(&value);
            reply.count = value;
            break;
        }
        case kControl: {
            usb::UsbControlRequest control;
            control.requestType = static_cast<uint8_t>(request.a & 0xFF);
            control.request = static_cast<uint8_t>((request.a >> 8) & 0xFF);
            control.value = static_cast<uint16_t>(request.b & 0xFFFF);
            control.index = static_cast<uint16_t>(request.b >> 16);
            control.length = static_cast<uint16_t>(request.c);
            reply.data.assign(control.length, 0);
            control.data = reply.data.data();
            reply.result = intf->ControlRequest(&control, 0);
            reply.count = control.transferred;
            reply.data.resize(std::min<size_t>(control.transferred, reply.data.size()));
            break;
        }
        case kBulk: {
            const auto pipe = static_cast<uint8_t>(request.a);
            std::vector<uint8_t> buffer =
                pipe == usb::kPipeBulkOut ? request.data : std::vector<uint8_t>(request.b, 0);
            reply.result =
                intf->StartBulkTransfer(pipe, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                        0, 0, KeepCompletion, &reply);
            if (reply.result == usb::kUsbOk) {
                intf->WaitForCompletion();
                if (pipe == usb::kPipeBulkIn) {
                    buffer.resize(std::min<size_t>(reply.count, buffer.size()));
                    reply.data = std::move(buffer);
                }
            }
            break;
        }
        default:
            reply.result = usb::kUsbNotSupported;
    }
    return reply;
}

}  // namespace

EmulatorServer::EmulatorServer(std::string socketPath,
                               std::vector<std::shared_ptr<EmulatedPrinter>> printers)
    : path_(std::move(socketPath)), printers_(std::move(printers)) {}

EmulatorServer::~EmulatorServer() {
    Stop();
}

bool EmulatorServer::Start() {
    sockaddr_un address{};
    if (path_.size() >= sizeof address.sun_path || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        return false;
    }
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    ::unlink(path_.c_str());
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path_.c_str(), 0666) != 0 || ::listen(listenFd_, 8) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void EmulatorServer::Stop() {
    if (stopPipe_[1] >= 0) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(stopPipe_[1], &stop, 1);
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(threadsMutex_);
        threads.swap(threads_);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(path_.c_str());
    }
    for (int& fd : stopPipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void EmulatorServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            std::lock_guard lock(threadsMutex_);
            threads_.emplace_back([this, fd] { Serve(fd); });
        }
    }
}

void EmulatorServer::Serve(int fd) {
    std::map<uint32_t, std::unique_ptr<EmulatedInterface>> interfaces;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        Request request;
        if (!ReceiveRequest(fd, &request)) {
            break;
        }
        Reply reply;
        if (request.op == kList) {
            for (uint32_t i = 0; i < printers_.size(); ++i) {
                if (printers_[i]->Removed()) {
                    continue;
                }
                const PrinterState state = printers_[i]->State();
                const uint32_t entry[2] = {
                    i, static_cast<uint32_t>(state.vendorId << 16) | state.productId};
                const auto* bytes = reinterpret_cast<const uint8_t*>(entry);
                reply.data.insert(reply.data.end(), bytes, bytes + sizeof entry);
            }
        } else if (request.printer >= printers_.size()) {
            reply.result = usb::kUsbNoDevice;
        } else {
            reply = Handle(request, *printers_[request.printer], interfaces[request.printer]);
        }
        if (!SendReply(fd, reply)) {
            break;
        }
    }
    // A client that ends gives its interfaces back, like a process whose
    // USB handles the kernel closes.
    interfaces.clear();
    ::close(fd);
}

namespace {

// One connection to the server, shared by the bus and its devices.
class Connection {
  public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() { ::close(fd_); }

    // A connection that broke reads as a printer that has gone.
    Reply Call(const Request& request) {
        std::lock_guard lock(mutex_);
        Reply reply;
        if (broken_ || !SendRequest(fd_, request) || !ReceiveReply(fd_, &reply)) {
            broken_ = true;
            reply = Reply{};
            reply.result = usb::kUsbNoDevice;
        }
        return reply;
    }

  private:
    std::mutex mutex_;
    int fd_;
    bool broken_ = false;
};

class SocketInterface final : public usb::UsbInterface {
  public:
    SocketInterface(std::shared_ptr<Connection> connection, uint32_t printer)
        : connection_(std::move(connection)), printer_(printer) {}
    ~SocketInterface() override {
        if (open_) {
            Close();
        }
    }

    int OpenSeize() override {
        if (open_) {
            return usb::kUsbOk;
        }
        const int result = Simple(kOpenInterface);
        open_ = result == usb::kUsbOk;
        return result;
    }
    int Close() override {
        if (!open_) {
            return usb::kUsbError;
        }
        open_ = false;
        return Simple(kCloseInterface);
    }
    int GetConfigurationValue(uint8_t* value) override { return Value(kConfiguration, value); }
    int GetInterfaceNumber(uint8_t* number) override { return Value(kInterfaceNumber, number); }

    int ControlRequest(usb::UsbControlRequest* request, uint32_t) override {
        if (!request || (request->length > 0 && !request->data)) {
            return usb::kUsbError;
        }
        Request call{
            kControl,
            printer_,
            static_cast<uint32_t>(request->requestType) |
                (static_cast<uint32_t>(request->request) << 8),
            static_cast<uint32_t>(request->value) | (static_cast<uint32_t>(request->index) << 16),
            request->length,
            {}};
        const Reply reply = connection_->Call(call);
        const size_t count = std::min<size_t>(reply.data.size(), request->length);
        std::memcpy(request->data, reply.data.data(), count);
        request->transferred = static_cast<uint32_t>(count);
        return reply.result;
    }

    int StartBulkTransfer(uint8_t pipe, void* buffer, uint32_t size, uint32_t, uint32_t,
                          usb::UsbCompletion completion, void* refCon) override {
        if (completion_ || !open_ || !completion || (size > 0 && !buffer)) {
            return usb::kUsbError;
        }
        Request call{kBulk, printer_, pipe, size, 0, {}};
        if (pipe == usb::kPipeBulkOut) {
            const auto* bytes = static_cast<const uint8_t*>(buffer);
            call.data.assign(bytes, bytes + size);
        }
        const Reply reply = connection_->Call(call);
        if (reply.result != usb::kUsbOk) {
            return reply.result;
        }
        if (pipe == usb::kPipeBulkIn && !reply.data.empty()) {
            std::memcpy(buffer, reply.data.data(), std::min<size_t>(reply.data.size(), size));
        }
        completion_ = completion;
        refCon_ = refCon;
        status_ = reply.status;
        moved_ = reply.count;
        return usb::kUsbOk;
    }

    void WaitForCompletion() override {
        if (!completion_) {
            return;
        }
        const usb::UsbCompletion completion = completion_;
        completion_ = nullptr;
        completion(refCon_, status_, reinterpret_cast<void*>(static_cast<uintptr_t>(moved_)));
    }

  private:
    int Simple(uint32_t op) { return connection_->Call({op, printer_, 0, 0, 0, {}}).result; }
    int Value(uint32_t op, uint8_t* value) {
        if (!value) {
            return usb::kUsbError;
        }
        const Reply reply = connection_->Call({op, printer_, 0, 0, 0, {}});
        *value = static_cast<uint8_t>(reply.count);
        return reply.result;
    }

    std::shared_ptr<Connection> connection_;
    uint32_t printer_;
    bool open_ = false;
    usb::UsbCompletion completion_ = nullptr;
    void* refCon_ = nullptr;
    int status_ = 0;
    uint32_t moved_ = 0;
};

class SocketDevice final : public usb::UsbDevice {
  public:
    SocketDevice(std::shared_ptr<Connection> connection, uint32_t printer)
        : connection_(std::move(connection)), printer_(printer) {}

    int OpenSeize() override {
        const int result = connection_->Call({kOpenDevice, printer_, 0, 0, 0, {}}).result;
        open_ = result == usb::kUsbOk;
        return result;
    }
    int Close() override {
        if (!open_) {
            return usb::kUsbError;
        }
        open_ = false;
        return connection_->Call({kCloseDevice, printer_, 0, 0, 0, {}}).result;
    }
    int GetInterfaces(std::vector<std::unique_ptr<usb::UsbInterface>>* interfaces) override {
        if (!interfaces || !open_) {
            return usb::kUsbError;
        }
        interfaces->clear();
        interfaces->push_back(std::make_unique<SocketInterface>(connection_, printer_));
        return usb::kUsbOk;
    }

  private:
    std::shared_ptr<Connection> connection_;
    uint32_t printer_;
    bool open_ = false;
};

class SocketBus final : public usb::UsbBus {
  public:
    explicit SocketBus(std::string path) : path_(std::move(path)) {}

    int Start(uint16_t vendorId, uint16_t productId, usb::UsbEventHandler handler) override {
        sockaddr_un address{};
        if (path_.size() >= sizeof address.sun_path || !handler) {
            return usb::kUsbError;
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return usb::kUsbError;
        }
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return usb::kUsbError;
        }
        connection_ = std::make_shared<Connection>(fd);
        const Reply list = connection_->Call({kList, 0, 0, 0, 0, {}});
        if (list.result != usb::kUsbOk) {
            return list.result;
        }
        for (size_t at = 0; at + 8 <= list.data.size(); at += 8) {
            uint32_t entry[2];
            std::memcpy(entry, list.data.data() + at, sizeof entry);
            if (entry[1] != ((static_cast<uint32_t>(vendorId) << 16) | productId)) {
                continue;
            }
            usb::UsbEvent event;
            event.kind = usb::UsbEvent::Kind::kArrived;
            event.id = reinterpret_cast<usb::UsbDeviceId>(static_cast<uintptr_t>(entry[0]) + 1);
            event.device = std::make_unique<SocketDevice>(connection_, entry[0]);
            handler(std::move(event));
        }
        return usb::kUsbOk;
    }

    void Stop() override {}

    int HandleEvents(int timeoutMs) override {
        ::poll(nullptr, 0, timeoutMs);
        return usb::kUsbOk;
    }

  private:
    std::string path_;
    std::shared_ptr<Connection> connection_;
};

}  // namespace

std::unique_ptr<usb::UsbBus> CreateSocketBus(const std::string& socketPath) {
    return std::make_unique<SocketBus>(socketPath);
}

}  // namespace qzm::emu
