// The launcher, and its program, against a private print server, with a
// stand-in window program that records the arguments it was started with.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>

#include "../../Support/TempRoot.h"
#include "AppDelegate.h"
#include "Eventually.h"
#include "PrivateCupsd.h"
#include "Staging.h"

namespace fs = std::filesystem;
using qzm::statusutility::AppDelegate;
using qzm::statusutility::LaunchResult;
using Lines = std::vector<std::string>;

namespace {

constexpr char kUri[] = "ovbackend://Orvane%20QZ-M480?serial=AB%2012";

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!cupsd_.Start())
            GTEST_SKIP() << "no private cupsd: " << cupsd_.Error();
        const fs::path program =
            resources_ + "/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480";
        fs::create_directories(program.parent_path());
        // Writes its arguments one per line, then renames the file into
        // place so the test never reads half of it.
        std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << record_ << ".tmp'\nmv '"
                               << record_ << ".tmp' '" << record_ << "'\n";
        fs::permissions(program, fs::perms::owner_all);
    }

    // Empty services stand for the defaults: the print system and a detached start.
    LaunchResult Launch(const std::optional<std::string>& queue) {
        return AppDelegate(QString::fromStdString(resources_), {nullptr, nullptr})
            .applicationDidFinishLaunching(queue);
    }

    // The arguments the stand-in received, once it has run.
    Lines StartedWith() {
        qzm::test::Eventually([&] { return fs::exists(record_); });
        Lines arguments;
        std::ifstream in(record_);
        for (std::string line; std::getline(in, line);)
            arguments.push_back(line);
        fs::remove(record_);
        return arguments;
    }

    qzm::test::TempRoot root_;
    qzm::test::PrivateCupsd cupsd_;
    const std::string resources_ = root_.Path() + "/Launcher.app/Contents/Resources";
    const std::string record_ = root_.Path() + "/started";
};

// Only the named queue of this model is served; the window gets the serial
// (everything after the first mark) and the name of the last queue on the
// device. Device URIs and names are taken in 255-byte buffers.
TEST_F(LauncherTest, StartsTheWindowForTheNamedQueueOfThisModel) {
    const std::string uri = "ovbackend://Orvane%20QZ-M480?serial=";
    const std::string fits(254 - uri.size(), 'f'), over(255 - uri.size(), 'o');
    ASSERT_TRUE(cupsd_.AddBackend("otherbackend"));
    const std::string queues[][3] = {{"QZ_A", kUri, "First desk"},
                                     {"QZ_B", kUri, "Second desk"},
                                     {"Q", uri + "AB&x=1&serial=C", "Q"},
                                     {"Fits", uri + fits, std::string(254, 'n')},
                                     {"Over", uri + over, "Over"},
                                     {"Long", uri + "7", std::string(255, 'n')},
                                     {"NoModel", "ovbackend://Orvane%20QZ-M400?serial=A", "N"},
                                     {"NoBrand", "ovbackend://Other%20QZ-M480?serial=A", "N"},
                                     {"NoScheme", "otherbackend://Orvane%20QZ-M480?serial=A", "N"},
                                     {"LowerCase", "ovbackend://orvane%20QZ-M480?serial=A", "N"},
                                     {"NoSerial", "ovbackend://Orvane%20QZ-M480?sn=A", "N"},
                                     {"EmptySerial", uri, "N"}};
    for (const auto& [name, device, info] : queues)
        ASSERT_TRUE(cupsd_.AddQueue(name, device, info)) << name;
    const std::pair<const char*, Lines> started[] = {{"QZ_A", {"AB%2012", "Second desk"}},
                                                     {"Q", {"AB&x=1&serial=C", "Q"}},
                                                     {"Fits", {fits, std::string(254, 'n')}},
                                                     {"Over", {over}},
                                                     {"Long", {"7"}}};
    for (const auto& [name, arguments] : started) {
        EXPECT_EQ(Launch(name), LaunchResult::kStarted) << name;
        EXPECT_EQ(StartedWith(), arguments) << name;
    }
    for (const char* name : {"NoModel", "NoBrand", "NoScheme", "LowerCase", "NoSerial",
                             "EmptySerial", "qz_a", "QZ_", ""})
        EXPECT_EQ(Launch(name), LaunchResult::kNotFound) << name;
    EXPECT_EQ(Launch(std::nullopt), LaunchResult::kNoQueue);
    EXPECT_FALSE(fs::exists(record_));
    // A window open for the serial: nothing started.
    fs::create_directories(root_ / "/Library/Caches/Orvane/QZ-M480");
    std::ofstream{root_ / "/Library/Caches/Orvane/QZ-M480/QZ-M480_7_UTIL"};
    EXPECT_EQ(Launch("Long"), LaunchResult::kAlreadyOpen);
    fs::remove_all(resources_);
    EXPECT_EQ(Launch("QZ_A"), LaunchResult::kStartFailed);

    // The program itself, copied out of its bundle in the build tree so that
    // no window program lies beside it, reports that.
    const fs::path copy = root_.Path() + "/L.app/Contents/MacOS/StatusUtilityQZ-M480";
    fs::create_directories(copy.parent_path());
    fs::copy_file(QZM480_STATUSUTILITY_PROGRAM, copy);
    const std::string program = qzm::test::ShellQuote(copy.string());
    std::string output;
    EXPECT_EQ(qzm::test::RunShell(program + " QZ_A", &output), 1) << output;
    EXPECT_NE(output.find("cannot start the status window"), std::string::npos) << output;
    EXPECT_EQ(qzm::test::RunShell(program + " NoSuchQueue"), 0);
    EXPECT_EQ(qzm::test::RunShell(program), 0);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
