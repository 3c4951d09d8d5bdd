// Fuzz target: the launcher's handling of a queue's device URI, from the
// destination callback to the serial it takes out of the URI, the printer
// name it looks up in the printer list and the open marker it looks for.
// The printer list comes from the input and the window start is recorded,
// so no process is started and no print server is asked.
//
// Input: the device URI, then "\n" and printer-list lines "name\turi"; a
// list that starts with "!" stands for a list that is not available.
#include <cups/cups.h>

#include <QString>
#include <QStringList>

#include <cstdlib>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

using qzm::platform::PrinterEntry;
using qzm::statusutility::AppDelegate;
using qzm::statusutility::EnumContext;
using qzm::statusutility::LaunchResult;
using qzm::statusutility::LaunchServices;
using PrinterList = std::optional<std::vector<PrinterEntry>>;

// The list and the record of starts, shared with the delegate's services.
struct World {
    PrinterList list;
    int starts = 0;
    QStringList arguments;
};

World& TheWorld() {
    static World world;
    return world;
}

struct Setup {
    Setup() {
        root = qzm::fuzz::MakeProcessRoot();
        // A window is open for the printer with serial "OPEN".
        std::string marker = qzm::paths::kCacheFolder;
        marker += '/';
        marker += qzm::paths::kModelWord;
        marker += "_OPEN_UTIL";
        qzm::fuzz::WriteWholeFile(qzm::paths::Rooted(marker), "");
    }
    std::string root;
};

PrinterList ListOf(std::string_view text) {
    if (!text.empty() && text.front() == '!') {
        return std::nullopt;
    }
    std::vector<PrinterEntry> printers;
    for (std::string_view line : qzm::fuzz::Split(text, "\n", 64)) {
        const auto fields = qzm::fuzz::Split(line, "\t", 2);
        PrinterEntry printer;
        printer.name = std::string(fields[0]);
        printer.queueName = printer.name;
        if (fields.size() > 1) {
            printer.deviceUri = std::string(fields[1]);
        }
        printers.push_back(std::move(printer));
    }
    return printers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    static AppDelegate delegate(
        QString::fromStdString(setup.root + "/no-such-bundle"),
        LaunchServices{[] { return TheWorld().list; },
                       [](const QString&, const QStringList& arguments) {
                           ++TheWorld().starts;
                           TheWorld().arguments = arguments;
                           return true;
                       }});
    const auto parts = qzm::fuzz::Split(
        std::string_view(reinterpret_cast<const char*>(data), size), "\n", 2);
    const std::string uri(parts[0]);
    World& world = TheWorld();
    world.list = ListOf(parts.size() > 1 ? parts[1] : std::string_view("!"));
    world.starts = 0;
    world.arguments.clear();

    char name[] = "QZ-M480";
    cups_dest_t dest{};
    dest.name = name;
    dest.num_options = cupsAddOption("device-uri", uri.c_str(), 0, &dest.options);
    EnumContext context{"QZ-M480", &delegate, LaunchResult::kNotFound};
    const int goOn = qzm::statusutility::enum_cb(&context, 0, &dest);
    cupsFreeOptions(dest.num_options, dest.options);

    // Either the callback went on without a result, or it handled the queue;
    // the window starts exactly when the result says so, with the serial and
    // at most a printer name.
    const bool started = context.result == LaunchResult::kStarted;
    if ((goOn == 1) != (context.result == LaunchResult::kNotFound) ||
        started != (world.starts == 1) || world.starts > 1 ||
        (started && (world.arguments.size() < 1 || world.arguments.size() > 2))) {
        std::abort();
    }
    return 0;
}
