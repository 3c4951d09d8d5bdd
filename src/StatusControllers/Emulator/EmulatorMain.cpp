// qzm480-emulator: one emulated QZ-M480 on a Unix socket, for trying the test
// build of the backend by hand.
//
//   qzm480-emulator SOCKET [STATUS [SERIAL]]
//
// It serves until SIGINT or SIGTERM, then prints how many packets and sheets
// the printer received.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "EmulatorSocket.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void Stop(int) {
    gStop = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "Usage: %s SOCKET [STATUS [SERIAL]]\n", argv[0]);
        return 2;
    }
    qzm::emu::PrinterState state;
    if (argc > 2) {
        state.status = std::atoi(argv[2]);
    }
    if (argc > 3) {
        state.serial = argv[3];
    }
    auto printer = qzm::emu::EmulatedPrinter::Create(state);
    qzm::emu::EmulatorServer server(argv[1], {printer});
    if (!server.Start()) {
        std::fprintf(stderr, "%s: cannot listen on %s\n", argv[0], argv[1]);
        return 1;
    }
    std::signal(SIGINT, Stop);
    std::signal(SIGTERM, Stop);
    while (!gStop) {
        ::pause();
    }
    server.Stop();
    std::printf("%zu packets, %zu sheets\n", printer->Packets().size(), printer->Sheets().size());
    return 0;
}
