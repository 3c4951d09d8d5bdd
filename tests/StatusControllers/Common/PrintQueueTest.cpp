// Print-queue registration against a private CUPS scheduler and the real
// lpadmin, reached through a stand-in first in the search path: what CUPS
// holds afterwards is compared whole.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "PrintQueue.h"
#include "PrivateCupsd.h"

namespace {

namespace fs = std::filesystem;
using Queues = std::map<std::string, std::string>;  // name -> device URI

const std::string kUri = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";
const std::string kBase = "Orvane_Imaging_Inc__M480";

class PrintQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cupsd_.AddModel("Library/Printers/PPDs/Contents/Resources/QZ-M480.gz", QZM480_PPD_GZ);
        if (!cupsd_.Start()) {
            GTEST_SKIP() << "no private CUPS scheduler here: " << cupsd_.Error();
        }
        cupsd_.AddBackend("socket");
        const fs::path bin = fs::path(cupsd_.Folder()) / "bin";
        fs::create_directories(bin);
        std::ofstream(bin / "lpadmin")
            << "#!/bin/sh\ntouch \"$0.used\"\nexec /usr/sbin/lpadmin \"$@\"\n";
        fs::permissions(bin / "lpadmin", fs::perms::owner_all);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (bin.string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }

    // The queues CUPS knows, and the options of each.
    std::map<std::string, std::map<std::string, std::string>> Options() {
        std::map<std::string, std::map<std::string, std::string>> queues;
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i) {
            for (int o = 0; o < dests[i].num_options; ++o) {
                queues[dests[i].name][dests[i].options[o].name] = dests[i].options[o].value;
            }
        }
        cupsFreeDests(count, dests);
        return queues;
    }
    Queues Uris() {
        Queues uris;
        for (const auto& [name, options] : Options()) {
            uris[name] = options.at("device-uri");
        }
        return uris;
    }
    void Reset(const Queues& existing) {
        for (const auto& [name, uri] : Uris()) {
            cupsd_.DeleteQueue(name);
        }
        for (const auto& [name, uri] : existing) {
            ASSERT_TRUE(cupsd_.AddQueue(name, uri)) << name;
        }
    }

    qzm::test::PrivateCupsd cupsd_;
    std::string oldPath_;
};

// A printer's queue is found by its URI whatever its name; a new one takes
// the first free number, or redefines the base queue when another queue
// already leads to the printer. Serials reach lpadmin as one argument, with
// no shell between: nothing runs in the working folder. Each queue made is
// a private one with the package's PPD, made by the lpadmin found in PATH.
TEST_F(PrintQueueTest, ANewQueueTakesTheFirstFreeNumberOrRedefinesTheBaseQueue) {
    const fs::path cwd = fs::current_path();
    const fs::path work = fs::path(cupsd_.Folder()) / "cwd";
    fs::create_directories(work);
    fs::current_path(work);
    const struct {
        Queues existing;
        std::string serial;
        int number;  // -1: no new queue
    } cases[] = {
        {{{kBase, "QZ0001"}}, "QZ0001", -1},
        {{{kBase, "QZ0002"}, {"Studio", "QZ0001"}}, "QZ0001", -1},
        {{{"Office", "socket://printer.example/x"}, {"Studio", "QZ0001"}}, "QZ0001", -1},
        {{{kBase, "A"}, {kBase + "_2", "B"}}, "QZ0001", 3},
        {{{kBase + "_2", "B"}}, "QZ0001", 1},
        {{{kBase, "A"}, {"orvane_imaging_inc__m480_3", "C"}, {kBase + "_4", "D"}}, "QZ0001", 2},
        {{{"Office", "A"}}, "QZ0001", 0},
        {{{kBase + "_2", "QZ0001X"}}, "QZ0001", 0},  // a URI with the serial and more
        {{{"Office", "socket://printer.example/QZ0001"}}, "QZ0001", 0},
        // A URI longer than 254 bytes is not taken for the printer's.
        {{{kBase, "A"}, {"Office", "socket://printer.example/" + std::string(224, 'x') + "QZ0001"}},
         "QZ0001",
         2},
        {{}, "$(touch%20x)", 0},
        {{{kBase, "A"}}, "`id`'\"&|;touch%20x", 2},
    };
    for (const auto& c : cases) {
        Queues existing;
        for (const auto& [name, uri] : c.existing) {
            existing[name] = uri.find(':') == std::string::npos ? kUri + uri : uri;
        }
        Reset(existing);
        EXPECT_TRUE(CheckAndMake_PrintQueue(c.serial.c_str()));
        const std::string n = std::to_string(c.number);
        const std::string name = c.number > 0 ? kBase + "_" + n : kBase;
        if (c.number >= 0) {
            existing[name] = kUri + c.serial;
        }
        EXPECT_EQ(Uris(), existing) << c.serial << " " << c.number;
        if (c.number >= 0) {
            auto options = Options()[name];
            EXPECT_EQ(options["printer-info"],
                      "Orvane Imaging Inc. M480" + (c.number > 0 ? " " + n : ""));
            EXPECT_EQ(options["printer-is-shared"], "false");
            EXPECT_EQ(options["printer-is-accepting-jobs"], "true");
            EXPECT_EQ(options["printer-make-and-model"], "Orvane QZ-M480");
        }
    }
    EXPECT_TRUE(fs::is_empty(work));
    fs::current_path(cwd);
    EXPECT_TRUE(fs::exists(fs::path(cupsd_.Folder()) / "bin/lpadmin.used")) << "not found in PATH";

    // A serial too long for its field reads as empty: a queue for it would
    // be found by no later step, so each step would add one more.
    const Queues before = Uris();
    EXPECT_TRUE(CheckAndMake_PrintQueue(""));
    {
        qzm::test::UnreachableCupsServer unreachable;
        EXPECT_FALSE(CheckAndMake_PrintQueue("QZ0003"));
    }
    EXPECT_EQ(Uris(), before);
}

}  // namespace
