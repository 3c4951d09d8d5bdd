// Fuzz target: the launcher's handling of a queue's device URI, from the
// destination callback to the serial it takes out of the URI and the open
// marker it looks for. No window program exists, so nothing is started.
#include <cups/cups.h>

#include <cstdlib>
#include <string>

#include "AppDelegate.h"
#include "FuzzSupport.h"

namespace {

using qzm::statusutility::AppDelegate;
using qzm::statusutility::EnumContext;
using qzm::statusutility::LaunchResult;

struct Setup {
    Setup() {
        root = qzm::fuzz::MakeProcessRoot();
        // No print server answers here: the printer list is not available.
        ::setenv("CUPS_SERVER", (root + "/no-cupsd.sock").c_str(), 1);
    }
    std::string root;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    static AppDelegate delegate(QString::fromStdString(setup.root + "/no-such-bundle"));
    const std::string uri(reinterpret_cast<const char*>(data), size);

    char name[] = "QZ-M480";
    cups_dest_t dest{};
    dest.name = name;
    dest.num_options = cupsAddOption("device-uri", uri.c_str(), 0, &dest.options);
    EnumContext context{"QZ-M480", &delegate, LaunchResult::kNotFound};
    const int goOn = qzm::statusutility::enum_cb(&context, 0, &dest);
    cupsFreeOptions(dest.num_options, dest.options);

    // Either the callback went on without a result, or it handled the queue.
    if ((goOn == 1) != (context.result == LaunchResult::kNotFound) ||
        context.result == LaunchResult::kStarted) {
        std::abort();
    }
    return 0;
}
