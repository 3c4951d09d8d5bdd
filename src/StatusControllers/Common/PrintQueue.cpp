#include "PrintQueue.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "Paths.h"
#include "PrinterList.h"

extern char** environ;

namespace {

constexpr char kQueueName[] = "Orvane_Imaging_Inc__M480";
constexpr char kNumberedQueueName[] = "Orvane_Imaging_Inc__M480_";
constexpr char kDescription[] = "Orvane Imaging Inc. M480";
constexpr char kDeviceUriStart[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";
constexpr char kSerialKey[] = "serial=";
constexpr size_t kLongestUri = 254;

constexpr char kLpadmin[] = "lpadmin";
// Where Debian keeps lpadmin, for a search path without the sbin folders.
constexpr char kLpadminPath[] = "/usr/sbin/lpadmin";

// One step at a time across all workers.
std::mutex gQueueStepMutex;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return Lower(text).find(Lower(part)) != std::string::npos;
}

// The leading integer of text; 0 when it does not begin with one.
int LeadingNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() ? value : 0;
}

// Starts program with arguments, input and output on /dev/null, and waits
// for it to end. No shell sees the arguments.
bool Spawn(const char* program, bool search, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kLpadmin));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int started = search
                            ? posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ)
                            : posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

// Runs lpadmin found through the search path, or at its Debian place.
void RunLpadmin(const std::vector<std::string>& arguments) {
    if (!Spawn(kLpadmin, true, arguments)) {
        Spawn(kLpadminPath, false, arguments);
    }
}

}  // namespace

int enum_cb(void* match, unsigned, cups_dest_t* dest) {
    auto* state = static_cast<PrintQueueMatch*>(match);
    if (!state || !state->serial || !dest) {
        return 1;
    }
    const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options);
    if (!uri) {
        return 1;
    }
    const std::string_view text = uri;
    if (text.find("M480") == std::string_view::npos ||
        text.find("Orvane") == std::string_view::npos ||
        text.find("ovbackend") == std::string_view::npos) {
        return 1;
    }
    const size_t key = text.find(kSerialKey);
    if (key == std::string_view::npos || key + sizeof kSerialKey - 1 >= text.size()) {
        return 1;
    }
    if (text.substr(key + sizeof kSerialKey - 1) == state->serial) {
        state->found = true;
    }
    return 1;
}

std::vector<std::string> _QueueArguments(int number, const std::string& serial) {
    std::string name = kQueueName;
    std::string description = kDescription;
    if (number > 0) {
        name = kNumberedQueueName + std::to_string(number);
        description += " " + std::to_string(number);
    }
    return {"-p",
            name,
            "-E",
            "-D",
            description,
            "-m",
            qzm::paths::kPpd,
            "-v",
            kDeviceUriStart + serial,
            "-o",
            "printer-is-shared=false"};
}

int _FirstFreeQueueNumber(std::vector<int> numbers) {
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] != static_cast<int>(i + 1)) {
            return static_cast<int>(i + 1);
        }
    }
    return static_cast<int>(numbers.size() + 1);
}

bool CheckAndMake_PrintQueue(const char* serial) {
    if (!serial) {
        return false;
    }
    // An empty serial (one too long for its field) could never be matched
    // to its queue again: every step would add another queue. Nothing to do.
    if (serial[0] == '\0') {
        return true;
    }
    std::lock_guard lock(gQueueStepMutex);
    const std::string text = serial;

    PrintQueueMatch match;
    match.serial = serial;
    cupsEnumDests(0, 0, nullptr, 0, 0, enum_cb, &match);
    if (match.found) {
        return true;
    }

    const std::optional<std::vector<qzm::platform::PrinterEntry>> printers =
        qzm::platform::GetPrinterList();
    if (!printers) {
        return false;
    }
    // A queue that already points at this printer some other way is taken
    // over by the base queue.
    for (const auto& printer : *printers) {
        const std::string& uri = printer.deviceUri;
        if (uri.empty() || uri.size() > kLongestUri) {
            continue;
        }
        if (!text.empty() && uri.find(text) != std::string::npos) {
            RunLpadmin(_QueueArguments(0, text));
            return true;
        }
    }

    std::vector<int> numbers;
    for (const auto& printer : *printers) {
        const std::string& name = printer.queueName;
        if (!ContainsNoCase(name, kQueueName)) {
            continue;
        }
        if (ContainsNoCase(name, kNumberedQueueName)) {
            numbers.push_back(LeadingNumber(std::string_view(name).substr(name.rfind('_') + 1)));
        } else {
            numbers.push_back(1);
        }
    }
    RunLpadmin(_QueueArguments(numbers.empty() ? 0 : _FirstFreeQueueNumber(numbers), text));
    return true;
}
