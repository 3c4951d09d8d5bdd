// Print-queue registration against a private CUPS scheduler. lpadmin is
// reached through a recording stand-in first in the search path, which hands
// every call on to the real lpadmin, so the test sees both the exact argument
// vector and what CUPS made of it.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PrintQueue.h"
#include "PrivateCupsd.h"

namespace {

namespace fs = std::filesystem;

constexpr char kPpdName[] = "Library/Printers/PPDs/Contents/Resources/QZ-M480.gz";
constexpr char kUri[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";
constexpr char kSerial[] = "QZ0001";

using Arguments = std::vector<std::string>;

Arguments Expected(const std::string& name, const std::string& description,
                   const std::string& serial) {
    return {"-p",
            name,
            "-E",
            "-D",
            description,
            "-m",
            "/" + std::string(kPpdName),
            "-v",
            kUri + serial,
            "-o",
            "printer-is-shared=false"};
}

// One queue as CUPS reports it.
struct Queue {
    std::map<std::string, std::string> options;
    std::string ppd;  // the PPD that CUPS keeps for it
};

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
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        ::setenv("PATH", (bin.string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        if (!oldPath_.empty()) {
            ::setenv("PATH", oldPath_.c_str(), 1);
        }
    }

    // Every lpadmin call so far, each as its argument vector.
    std::vector<Arguments> Calls() const {
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
        return calls;
    }

    void AddQueues(const std::vector<std::pair<std::string, std::string>>& queues) {
        for (const auto& [name, uri] : queues) {
            ASSERT_TRUE(cupsd_.AddQueue(name, uri)) << name;
        }
    }

    // The queues CUPS knows, by name.
    std::map<std::string, Queue> Queues() {
        cupsSetServer(cupsd_.Socket().c_str());
        std::map<std::string, Queue> queues;
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i) {
            Queue& queue = queues[dests[i].name];
            for (int o = 0; o < dests[i].num_options; ++o) {
                queue.options[dests[i].options[o].name] = dests[i].options[o].value;
            }
            std::stringstream text;
            text << std::ifstream(fs::path(cupsd_.Folder()) / "ppd" /
                                  (dests[i].name + std::string(".ppd")))
                        .rdbuf();
            queue.ppd = text.str();
        }
        cupsFreeDests(count, dests);
        return queues;
    }

    qzm::test::PrivateCupsd cupsd_;
    std::string log_;
    std::string oldPath_;
};

TEST_F(PrintQueueTest, TheQueueOfTheSerialIsRecognisedAndNothingRuns) {
    AddQueues({{"Orvane_Imaging_Inc__M480", kUri + std::string("QZ0002")},
               {"Studio", kUri + std::string(kSerial)}});
    EXPECT_TRUE(CheckAndMake_PrintQueue(kSerial));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(PrintQueueTest, TheBaseQueueIsCreatedWhenThereIsNone) {
    EXPECT_TRUE(CheckAndMake_PrintQueue(kSerial));
    ASSERT_EQ(Calls(), std::vector<Arguments>{Expected("Orvane_Imaging_Inc__M480",
                                                       "Orvane Imaging Inc. M480", kSerial)});

    const auto queues = Queues();
    ASSERT_EQ(queues.count("Orvane_Imaging_Inc__M480"), 1u);
    const Queue& queue = queues.at("Orvane_Imaging_Inc__M480");
    EXPECT_EQ(queue.options.at("printer-info"), "Orvane Imaging Inc. M480");
    EXPECT_EQ(queue.options.at("device-uri"), kUri + std::string(kSerial));
    EXPECT_EQ(queue.options.at("printer-is-shared"), "false");
    EXPECT_EQ(queue.options.at("printer-is-accepting-jobs"), "true");
    EXPECT_EQ(queue.options.at("printer-make-and-model"), "Orvane QZ-M480");
    EXPECT_NE(queue.ppd.find("*ModelName: \"Orvane QZ-M480\""), std::string::npos)
        << "the queue does not carry the package PPD";

    // Known from now on: a second step runs nothing.
    EXPECT_TRUE(CheckAndMake_PrintQueue(kSerial));
    EXPECT_EQ(Calls().size(), 1u);
}

// Existing queues (name and the serial in their URI) and the queue made.
struct StepCase {
    const char* label;
    std::vector<std::pair<std::string, std::string>> existing;
    int number;  // 0: the base queue
};

TEST_F(PrintQueueTest, ANewQueueTakesTheFirstFreeNumberOrRedefinesTheBaseQueue) {
    const std::string base = "Orvane_Imaging_Inc__M480";
    const std::vector<StepCase> cases = {
        {"1 and 2 give 3", {{base, "A"}, {base + "_2", "B"}}, 3},
        {"only 2 gives 1", {{base + "_2", "B"}}, 1},
        {"1, 3 and 4 give 2, names without case",
         {{base, "A"}, {"orvane_imaging_inc__m480_3", "C"}, {base + "_4", "D"}},
         2},
        {"other queues only give the base queue", {{"Office", "A"}}, 0},
        {"a URI with the serial and more", {{base + "_2", "QZ0001X"}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (const auto& [name, queue] : Queues()) {
            cupsd_.DeleteQueue(name);
        }
        fs::remove(log_);
        for (const auto& [name, serial] : c.existing) {
            AddQueues({{name, kUri + serial}});
        }
        const std::string n = std::to_string(c.number);
        const std::string name = c.number ? base + "_" + n : base;
        const std::string description =
            std::string("Orvane Imaging Inc. M480") + (c.number ? " " + n : "");

        EXPECT_TRUE(CheckAndMake_PrintQueue(kSerial));
        EXPECT_EQ(Calls(), std::vector<Arguments>{Expected(name, description, kSerial)});
        const auto queues = Queues();
        ASSERT_EQ(queues.count(name), 1u);
        EXPECT_EQ(queues.at(name).options.at("printer-info"), description);
        EXPECT_EQ(queues.at(name).options.at("device-uri"), kUri + std::string(kSerial));
    }
}

TEST_F(PrintQueueTest, AQueueOnAnotherBackendWithTheSerialGetsTheBaseQueueRedefined) {
    AddQueues({{"Office", "socket://printer.example/QZ0001"}});
    EXPECT_TRUE(CheckAndMake_PrintQueue(kSerial));
    EXPECT_EQ(Calls(), std::vector<Arguments>{Expected("Orvane_Imaging_Inc__M480",
                                                       "Orvane Imaging Inc. M480", kSerial)});
}

TEST_F(PrintQueueTest, ASerialReachesLpadminAsOneArgumentWithoutAShell) {
    const std::string serial = "QZ;touch%20x`id`$(id)&|'\"";
    EXPECT_TRUE(CheckAndMake_PrintQueue(serial.c_str()));
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], Expected("Orvane_Imaging_Inc__M480", "Orvane Imaging Inc. M480", serial));
    EXPECT_FALSE(fs::exists("x"));
}

TEST_F(PrintQueueTest, AnEmptySerialMakesNoQueue) {
    // A serial too long for its field reads as empty; a queue for it would be
    // found by no later step, so each step would add one more.
    AddQueues({{"Orvane_Imaging_Inc__M480", kUri + std::string("QZ0002")}});
    EXPECT_TRUE(CheckAndMake_PrintQueue(""));
    EXPECT_TRUE(CheckAndMake_PrintQueue(""));
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Queues().size(), 1u);
}

TEST_F(PrintQueueTest, NoSchedulerGivesFalseAndNothingRuns) {
    {
        qzm::test::UnreachableCupsServer unreachable;
        EXPECT_FALSE(CheckAndMake_PrintQueue(kSerial));
    }
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
