// Fuzz target: the launcher's handling of a queue's device URI: the serial,
// the printer's name in the printer list, the open marker. Input: the URI,
// "\n", list lines "name\turi" ("!": no list). Starts are recorded, not run.
#include <cups/cups.h>

#include "AppDelegate.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

using qzm::statusutility::LaunchResult;

std::optional<std::vector<qzm::platform::PrinterEntry>> list;
std::vector<QStringList> starts;

// A window is open for the printer with serial "OPEN".
std::string MakeRoot() {
    const std::string root = qzm::fuzz::MakeProcessRoot();
    qzm::fuzz::WriteWholeFile(root + qzm::paths::kCacheFolder + "/QZ-M480_OPEN_UTIL", "");
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qzm::statusutility::AppDelegate delegate(QString::fromStdString(MakeRoot() + "/none"),
                                                    {[] { return list; },
                                                     [](const QString&, const QStringList& args) {
                                                         starts.push_back(args);
                                                         return true;
                                                     }});
    const auto parts = qzm::fuzz::Split(qzm::fuzz::Input(data, size).Rest(), "\n", 2);
    list.reset();
    if (parts.size() > 1 && !parts[1].starts_with('!')) {
        list.emplace();
        for (std::string_view line : qzm::fuzz::Split(parts[1], "\n", 64)) {
            const auto fields = qzm::fuzz::Split(line, "\t", 2);
            const std::string name(fields[0]);
            list->push_back({name, std::string(fields.size() > 1 ? fields[1] : ""), name});
        }
    }
    starts.clear();
    std::string name = "QZ-M480";
    cups_dest_t dest{name.data(), nullptr, 0, 0, nullptr};
    dest.num_options = cupsAddOption("device-uri", std::string(parts[0]).c_str(), 0, &dest.options);
    qzm::statusutility::EnumContext context{"QZ-M480", &delegate, LaunchResult::kNotFound};
    const int goOn = qzm::statusutility::enum_cb(&context, 0, &dest);
    cupsFreeOptions(dest.num_options, dest.options);
    // The callback goes on without a result or handles the queue; a window
    // starts when the result says so, with the serial and at most a name.
    const bool started = context.result == LaunchResult::kStarted;
    qzm::fuzz::Require((goOn == 1) == (context.result == LaunchResult::kNotFound) &&
                       starts.size() == (started ? 1U : 0U) &&
                       (!started || (!starts[0].empty() && starts[0].size() <= 2)));
    return 0;
}
