// com.orvane.UninstallHelperQZM480: run as root by pkexec for the
// uninstaller. Reads one request line on standard input, removes the
// package and answers with one reply line on standard output.
#include <csignal>
#include <iostream>

#include "UninstallHelper.h"

int main() {
    // The reply is the last thing written; a client that went away must not
    // turn a finished removal into a crash.
    std::signal(SIGPIPE, SIG_IGN);
    return qzm::uninstall::HandleRequest(std::cin, std::cout, qzm::uninstall::kUnloadProgram);
}
