// Print-queue registration against a private CUPS scheduler. lpadmin is
// reached through a recording stand-in first in the search path, which hands
// every call on to the real lpadmin, so the test sees both the exact argument
// vector and what CUPS made of it.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../../Support/TempRoot.h"
#include "CacheFolder.h"
#include "DeviceMonitor.h"
#include "EmulatedUsb.h"
#include "PrintQueue.h"
#include "PrivateCupsd.h"

namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

constexpr char kPpdName[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
const std::string kUri = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";
const std::string kBase = "Orvane_Imaging_Inc__M480";

Arguments Expected(int number, const std::string& serial = "QZ0001") {
    const std::string n = std::to_string(number);
    return {"-p", number ? kBase + "_" + n : kBase, "-E",
            "-D", "Orvane Imaging Inc. M480" + (number ? " " + n : ""),
            "-m", "/" + std::string(kPpdName), "-v", kUri + serial,
            "-o", "printer-is-shared=false"};
}

class PrintQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cupsd_.AddModel(kPpdName, QZM480_PPD_GZ);
        if (!cupsd_.Start()) {
            GTEST_SKIP() << "no private CUPS scheduler here: " << cupsd_.Error();
        }
        cupsd_.AddBackend("socket");
        const fs::path bin = fs::path(cupsd_.Folder()) / "recording-bin";
        fs::create_directories(bin);
        log_ = (bin / "calls").string();
        std::ofstream(bin / "lpadmin") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                          "done >> '"
                                       << log_ << "'\necho -- >> '" << log_
                                       << "'\necho noise\nexec /usr/sbin/lpadmin \"$@\"\n";
        fs::permissions(bin / "lpadmin", fs::perms::owner_all);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (bin.string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }

    // Every lpadmin call so far, each as its argument vector; then forgets them.
    std::vector<Arguments> Calls() {
        std::vector<Arguments> calls(1);
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            if (line == "--") {
                calls.emplace_back();
            } else {
                calls.back().push_back(line);
            }
        }
        calls.pop_back();
        fs::remove(log_);
        return calls;
    }

    // The queues CUPS knows: name -> option -> value.
    std::map<std::string, std::map<std::string, std::string>> Queues() {
        cupsSetServer(cupsd_.Socket().c_str());
        std::map<std::string, std::map<std::string, std::string>> queues;
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i) {
            auto& options = queues[dests[i].name];
            for (int o = 0; o < dests[i].num_options; ++o) {
                options[dests[i].options[o].name] = dests[i].options[o].value;
            }
        }
        cupsFreeDests(count, dests);
        return queues;
    }
    void Reset(const std::vector<std::pair<std::string, std::string>>& existing) {
        for (const auto& [name, options] : Queues()) {
            cupsd_.DeleteQueue(name);
        }
        for (const auto& [name, uri] : existing) {
            ASSERT_TRUE(cupsd_.AddQueue(name, uri)) << name;
        }
        Calls();
    }

    qzm::test::PrivateCupsd cupsd_;
    std::string log_;
    std::string oldPath_;
};

TEST_F(PrintQueueTest, TheBaseQueueIsCreatedOnceWithThePackagePpd) {
    EXPECT_TRUE(CheckAndMake_PrintQueue("QZ0001"));
    ASSERT_EQ(Calls(), std::vector<Arguments>{Expected(0)});
    const auto options = Queues()[kBase];
    EXPECT_EQ(options.at("printer-info"), "Orvane Imaging Inc. M480");
    EXPECT_EQ(options.at("device-uri"), kUri + "QZ0001");
    EXPECT_EQ(options.at("printer-is-shared"), "false");
    EXPECT_EQ(options.at("printer-is-accepting-jobs"), "true");
    EXPECT_EQ(options.at("printer-make-and-model"), "Orvane QZ-M480");
    std::stringstream ppd;
    ppd << std::ifstream(fs::path(cupsd_.Folder()) / "ppd" / (kBase + ".ppd")).rdbuf();
    EXPECT_NE(ppd.str().find("*ModelName: \"Orvane QZ-M480\""), std::string::npos);

    // Known from now on, whatever the queue's name: nothing runs.
    EXPECT_TRUE(CheckAndMake_PrintQueue("QZ0001"));
    Reset({{kBase, kUri + "QZ0002"}, {"Studio", kUri + "QZ0001"}});
    EXPECT_TRUE(CheckAndMake_PrintQueue("QZ0001"));
    // A serial too long for its field reads as empty: a queue for it would
    // be found by no later step, so each step would add one more.
    EXPECT_TRUE(CheckAndMake_PrintQueue(""));
    EXPECT_TRUE(Calls().empty());
    {
        qzm::test::UnreachableCupsServer unreachable;
        EXPECT_FALSE(CheckAndMake_PrintQueue("QZ0003"));
    }
    EXPECT_TRUE(Calls().empty());
}

TEST_F(PrintQueueTest, ANewQueueTakesTheFirstFreeNumberOrRedefinesTheBaseQueue) {
    const struct {
        std::vector<std::pair<std::string, std::string>> existing;
        int number;
    } cases[] = {
        {{{kBase, "A"}, {kBase + "_2", "B"}}, 3},
        {{{kBase + "_2", "B"}}, 1},
        {{{kBase, "A"}, {"orvane_imaging_inc__m480_3", "C"}, {kBase + "_4", "D"}}, 2},
        {{{"Office", "A"}}, 0},
        {{{kBase + "_2", "QZ0001X"}}, 0},  // a URI with the serial and more
        {{{"Office", "socket://printer.example/QZ0001"}}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::string, std::string>> existing;
        for (const auto& [name, uri] : c.existing) {
            existing.emplace_back(name, uri.find(':') == std::string::npos ? kUri + uri : uri);
        }
        Reset(existing);
        EXPECT_TRUE(CheckAndMake_PrintQueue("QZ0001"));
        const Arguments expected = Expected(c.number);
        EXPECT_EQ(Calls(), std::vector<Arguments>{expected}) << c.number;
        const auto options = Queues()[expected[1]];
        EXPECT_EQ(options.at("printer-info"), expected[4]);
        EXPECT_EQ(options.at("device-uri"), kUri + "QZ0001");
    }
}

// Hostile serials through the monitor and its real queue step: no shell sees
// them, the ones that cannot be names make no queue, each other one makes
// exactly its own queue, whose URI ends in the serial as it stands.
TEST_F(PrintQueueTest, HostileSerialsReachLpadminAsOneArgumentAndMakeNoStrayQueue) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const fs::path cwd = fs::current_path();
    fs::create_directories(root.Path() + "/cwd");
    fs::current_path(root.Path() + "/cwd");  // where a shell command would leave traces
    const std::map<std::string, std::string> named = {
        {"a;touch x", "a;touch%20x"}, {"$(touch x)", "$(touch%20x)"}, {"`id`'\"&|", "`id`'\"&|"}};
    const std::string unnamed[] = {"../../etc/x", "a;touch /tmp/x", std::string(200, 'S'), "AB\nCD"};

    qzm::emu::EmulatedBus bus;
    MonitorSettings settings;
    settings.cycle = settings.serialRetry = std::chrono::milliseconds(20);
    settings.registerQueue = CheckAndMake_PrintQueue;
    DeviceMonitor monitor(bus, settings);
    ASSERT_EQ(monitor.Start(0x1343, 0x0480), 0);
    std::vector<std::shared_ptr<qzm::emu::EmulatedPrinter>> printers;
    for (const auto& serial : {named.begin()->first, std::next(named.begin())->first,
                               std::prev(named.end())->first, unnamed[0], unnamed[1], unnamed[2],
                               unnamed[3]}) {
        qzm::emu::PrinterState state;
        state.serial = serial;
        printers.push_back(qzm::emu::EmulatedPrinter::Create(state));
        bus.Attach(printers.back());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Queues().size() < named.size() && std::chrono::steady_clock::now() < deadline) {
        monitor.RunOnce(20);
    }
    for (int k = 0; k < 20; ++k) {
        monitor.RunOnce(20);
    }
    std::map<std::string, std::string> uris;
    for (const auto& [queue, options] : Queues()) {
        EXPECT_EQ(queue.rfind(kBase, 0), 0u) << queue;
        uris[options.at("device-uri")] = queue;
    }
    EXPECT_EQ(uris.size(), named.size());
    for (const auto& [serial, escaped] : named) {
        EXPECT_EQ(uris.count(kUri + escaped), 1u) << serial;
    }
    const auto calls = Calls();
    EXPECT_EQ(calls.size(), named.size());
    for (const auto& call : calls) {
        EXPECT_EQ(call.size(), 11u);
    }
    EXPECT_TRUE(fs::is_empty(root.Path() + "/cwd"));
    EXPECT_FALSE(fs::exists("/tmp/x"));
    fs::current_path(cwd);
}

}  // namespace
