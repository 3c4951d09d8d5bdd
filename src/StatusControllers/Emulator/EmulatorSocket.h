// The emulated printer reached from another process, over a Unix socket.
//
// CUPS starts the backend as a process of its own, so a test that prints
// through CUPS serves its emulated printers on a socket (EmulatorServer, in
// the test's own process or in the qzm480-emulator program) and the test
// build of the backend reaches them through SocketBus, an implementation of
// the USB interface of src/Platform. The test keeps the printer objects and
// inspects what they received. Nothing of this is in the installed backend.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedPrinter.h"
#include "UsbBus.h"

namespace qzm::emu {

// Serves printers on a Unix socket; one thread per connected client. Each
// client sees the printers by their index in the list given here.
class EmulatorServer {
  public:
    EmulatorServer(std::string socketPath, std::vector<std::shared_ptr<EmulatedPrinter>> printers);
    ~EmulatorServer();
    EmulatorServer(const EmulatorServer&) = delete;
    EmulatorServer& operator=(const EmulatorServer&) = delete;

    // Binds the socket (mode 0666, so that a backend running as another
    // user reaches it) and starts serving. False when it cannot listen.
    bool Start();
    // Ends every connection and removes the socket.
    void Stop();

  private:
    void AcceptLoop();
    void Serve(int fd);

    std::string path_;
    std::vector<std::shared_ptr<EmulatedPrinter>> printers_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread acceptThread_;
    std::mutex threadsMutex_;
    std::vector<std::thread> threads_;
};

// The client side: a USB bus whose printers are those of a server. Every
// attached printer is reported at Start; later arrivals are not.
std::unique_ptr<usb::UsbBus> CreateSocketBus(const std::string& socketPath);

}  // namespace qzm::emu
