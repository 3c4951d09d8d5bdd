// The queue chooser of the status menu entry: which queues it offers, and
// that it starts the launcher beside it with the queue name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Eventually.h"
#include "PrivateCupsd.h"
#include "QueueChooser.h"
#include "Staging.h"

namespace fs = std::filesystem;
using namespace qzm::statuschooser;

namespace {

constexpr char kUri[] = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=A1%20B2";

// This model's queues with a serial are offered, labelled by name and queue.
TEST(QueueChooser, OffersTheQueuesTheLauncherAccepts) {
    for (const char* uri :
         {"ovbackend://Orvane%20Imaging%20Inc./M480?serial=",
          "ovbackend://Orvane%20Imaging%20Inc./M480", "usb://Orvane/M480?serial=A1",
          "ovbackend://orvane/m480?serial=A1", "ovbackend://Orvane/M400?serial=A1", ""})
        EXPECT_FALSE(IsModelDeviceUri(uri)) << uri;
    const auto queues = ModelQueues({{"Shop", kUri, "Orvane_Imaging_Inc__M480"},
                                     {"Office", "ipp://office/ipp/print", "Office"},
                                     {"", std::string(kUri) + "3", "Orvane_M480_2"},
                                     {"Orvane_M480_3", std::string(kUri) + "4", "Orvane_M480_3"}});
    ASSERT_EQ(queues.size(), 3u);
    EXPECT_EQ(QueueLabel(queues[0]), "Shop (Orvane_Imaging_Inc__M480)");
    EXPECT_EQ(QueueLabel(queues[1]), "Orvane_M480_2");
    EXPECT_EQ(QueueLabel(queues[2]), "Orvane_M480_3");
}

// With one QZ-M480 queue on the print server, the chooser asks nothing and
// starts the launcher that lies beside it with that queue's name.
TEST(QueueChooser, StartsTheLauncherBesideItForTheOnlyQueue) {
    qzm::test::PrivateCupsd cupsd;
    if (!cupsd.Start())
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    ASSERT_TRUE(cupsd.AddQueue("Orvane_Imaging_Inc__M480", kUri, "Photo corner"));
    ASSERT_TRUE(cupsd.AddQueue("Other", "ovbackend://Other/Printer?serial=9"));
    const fs::path folder = fs::path(cupsd.Folder()) / "MacOS";
    const std::string record = (folder / "launched").string();
    fs::create_directories(folder);
    fs::copy_file(QZM480_STATUSCHOOSER_PROGRAM, folder / "StatusChooserQZ-M480");
    std::ofstream(folder / "StatusUtilityQZ-M480")
        << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > " << record << ".tmp\nmv " << record
        << ".tmp " << record << "\n";
    fs::permissions(folder / "StatusUtilityQZ-M480", fs::perms::owner_all);

    ASSERT_EQ(qzm::test::RunShell("QT_QPA_PLATFORM=offscreen " + folder.string() +
                                  "/StatusChooserQZ-M480"),
              0);
    // The launcher runs detached: wait for its record.
    qzm::test::Eventually([&] { return fs::exists(record); });
    std::ifstream in(record);
    std::string launched;
    std::getline(in, launched);
    EXPECT_EQ(launched, "1|Orvane_Imaging_Inc__M480");
}

}  // namespace
