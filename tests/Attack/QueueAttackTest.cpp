// Hostile serial numbers through the daemon's monitor and its real queue
// step, against a private CUPS scheduler: no shell ever sees them, the ones
// that cannot be names make no queue, and each other one makes exactly its
// own queue, whose device URI ends in the serial as it stands.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "../Support/TempRoot.h"
#include "AttackSupport.h"
#include "CacheFolder.h"
#include "DeviceMonitor.h"
#include "EmulatedUsb.h"
#include "PrintQueue.h"
#include "PrivateCupsd.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPpdName[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
constexpr char kUri[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";

// Queue name -> device URI, as CUPS lists them.
std::map<std::string, std::string> Queues() {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::map<std::string, std::string> queues;
    for (int i = 0; i < count; ++i) {
        const char* uri = cupsGetOption("device-uri", dests[i].num_options, dests[i].options);
        queues[dests[i].name] = uri ? uri : "";
    }
    cupsFreeDests(count, dests);
    return queues;
}

TEST(QueueAttackTest, HostileSerialsMakeNoShellCommandAndNoStrayQueue) {
    qzm::test::TempRoot root;
    qzm::test::PrivateCupsd cupsd;
    cupsd.AddModel(kPpdName, QZM480_PPD_GZ);
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private CUPS scheduler here: " << cupsd.Error();
    }
    CheckAndMake_CacheFolder();
    qzm::test::WorkingFolder cwd(root.Path() + "/cwd");

    // Printers that may have a queue, with the escaped serial of their URI.
    const std::map<std::string, std::string> named = {
        {"a;touch pwned", "a;touch%20pwned"},
        {"$(touch pwned)", "$(touch%20pwned)"},
        {"`touch pwned`", "`touch%20pwned`"},
        {"$(id)", "$(id)"},
    };
    // Printers that must not get one.
    const std::string unnamed[] = {"../../etc/x", "a;touch /tmp/pwned", std::string(200, 'S'),
                                   "AB\nCD"};

    qzm::emu::EmulatedBus bus;
    MonitorSettings settings;
    settings.cycle = 20ms;
    settings.serialRetry = 20ms;
    settings.registerQueue = CheckAndMake_PrintQueue;
    DeviceMonitor monitor(bus, settings);
    ASSERT_EQ(monitor.Start(0x1343, 0x0480), 0);
    std::vector<std::shared_ptr<qzm::emu::EmulatedPrinter>> printers;
    auto plug = [&](const std::string& serial) {
        qzm::emu::PrinterState state;
        state.serial = serial;
        printers.push_back(qzm::emu::EmulatedPrinter::Create(state));
        bus.Attach(printers.back());
    };
    for (const auto& entry : named) {
        plug(entry.first);
    }
    for (const auto& serial : unnamed) {
        plug(serial);
    }
    // Every printer with a name gets its queue within the patience.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Queues().size() < named.size() && std::chrono::steady_clock::now() < deadline) {
        monitor.RunOnce(20);
    }
    for (int k = 0; k < 20; ++k) {
        monitor.RunOnce(20);
    }

    std::map<std::string, std::string> uris;
    for (const auto& [queue, uri] : Queues()) {
        EXPECT_EQ(queue.rfind("Orvane_Imaging_Inc__M480", 0), 0u) << queue;
        uris[uri] = queue;
    }
    EXPECT_EQ(uris.size(), named.size());
    for (const auto& [serial, escaped] : named) {
        EXPECT_EQ(uris.count(kUri + escaped), 1u) << serial;
    }
    EXPECT_TRUE(fs::is_empty(root.Path() + "/cwd"));
    EXPECT_FALSE(fs::exists("/tmp/pwned"));
}

}  // namespace
