// The launcher against a private print server, with a stand-in window
// program that records the arguments it was started with.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../../Support/TempRoot.h"
#include "AppDelegate.h"
#include "PrivateCupsd.h"

namespace fs = std::filesystem;
using qzm::statusutility::AppDelegate;
using qzm::statusutility::LaunchResult;

namespace {

constexpr char kUri[] = "ovbackend://Orvane%20QZ-M480?serial=AB%2012";

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!cupsd_.Start()) {
            GTEST_SKIP() << "no private cupsd: " << cupsd_.Error();
        }
        resources_ = root_.Path() + "/Launcher.app/Contents/Resources";
        const fs::path program =
            resources_ + "/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480";
        fs::create_directories(program.parent_path());
        record_ = root_.Path() + "/started";
        // Writes its arguments one per line, then renames the file into
        // place so the test never reads half of it.
        std::ofstream(program) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                               << record_ << ".tmp'\nmv '" << record_ << ".tmp' '" << record_
                               << "'\n";
        fs::permissions(program, fs::perms::owner_all);
    }

    LaunchResult Launch(const std::string& queue) {
        AppDelegate delegate(QString::fromStdString(resources_));
        return delegate.applicationDidFinishLaunching(queue);
    }

    // The arguments the stand-in received, once it has run.
    std::vector<std::string> StartedWith() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(record_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::string> arguments;
        std::ifstream in(record_);
        for (std::string line; std::getline(in, line);) {
            arguments.push_back(line);
        }
        return arguments;
    }

    qzm::test::TempRoot root_;
    qzm::test::PrivateCupsd cupsd_;
    std::string resources_;
    std::string record_;
};

TEST_F(LauncherTest, StartsTheWindowWithSerialAndPrinterName) {
    ASSERT_TRUE(cupsd_.AddQueue("Other", "ovbackend://Orvane%20QZ-M480?serial=ZZ", "Other"));
    ASSERT_TRUE(cupsd_.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
    EXPECT_EQ(Launch("QZ_M480"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith(), (std::vector<std::string>{"AB%2012", "Orvane QZ-M480 desk"}));
}

TEST_F(LauncherTest, QueueNameMustMatchExactly) {
    ASSERT_TRUE(cupsd_.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
    EXPECT_EQ(Launch("qz_m480"), LaunchResult::kNotFound);
    EXPECT_EQ(Launch("QZ_M48"), LaunchResult::kNotFound);
    EXPECT_EQ(Launch(""), LaunchResult::kNotFound);
    AppDelegate delegate(QString::fromStdString(resources_));
    EXPECT_EQ(delegate.applicationDidFinishLaunching(std::nullopt), LaunchResult::kNoQueue);
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(LauncherTest, DeviceUriMustCarryEveryMark) {
    ASSERT_TRUE(cupsd_.AddBackend("otherbackend"));
    ASSERT_TRUE(cupsd_.AddQueue("NoModel", "ovbackend://Orvane%20QZ-M400?serial=A", "a"));
    ASSERT_TRUE(cupsd_.AddQueue("NoBrand", "ovbackend://Other%20QZ-M480?serial=A", "b"));
    ASSERT_TRUE(cupsd_.AddQueue("NoScheme", "otherbackend://Orvane%20QZ-M480?serial=A", "c"));
    ASSERT_TRUE(cupsd_.AddQueue("LowerCase", "ovbackend://orvane%20QZ-M480?serial=A", "d"));
    ASSERT_TRUE(cupsd_.AddQueue("NoSerial", "ovbackend://Orvane%20QZ-M480?sn=A", "e"));
    ASSERT_TRUE(cupsd_.AddQueue("EmptySerial", "ovbackend://Orvane%20QZ-M480?serial=", "f"));
    for (const char* queue :
         {"NoModel", "NoBrand", "NoScheme", "LowerCase", "NoSerial", "EmptySerial"}) {
        EXPECT_EQ(Launch(queue), LaunchResult::kNotFound) << queue;
    }
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(LauncherTest, SerialIsEverythingAfterTheFirstMark) {
    ASSERT_TRUE(cupsd_.AddQueue("Q", "ovbackend://Orvane%20QZ-M480?serial=AB&x=1&serial=C", "Q"));
    EXPECT_EQ(Launch("Q"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith(), (std::vector<std::string>{"AB&x=1&serial=C", "Q"}));
    fs::remove(record_);
    ASSERT_TRUE(cupsd_.AddQueue("One", "ovbackend://Orvane%20QZ-M480?serial=7", "One desk"));
    EXPECT_EQ(Launch("One"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith(), (std::vector<std::string>{"7", "One desk"}));
}

TEST_F(LauncherTest, LastPrinterWithTheSameUriNamesIt) {
    ASSERT_TRUE(cupsd_.AddQueue("QZ_A", kUri, "First desk"));
    ASSERT_TRUE(cupsd_.AddQueue("QZ_B", kUri, "Second desk"));
    EXPECT_EQ(Launch("QZ_A"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith(), (std::vector<std::string>{"AB%2012", "Second desk"}));
}

TEST_F(LauncherTest, OpenMarkerStartsNothing) {
    ASSERT_TRUE(cupsd_.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
    const std::string marker = root_ / "/Library/Caches/Orvane/QZ-M480/QZ-M480_AB%2012_UTIL";
    fs::create_directories(fs::path(marker).parent_path());
    std::ofstream{marker};
    EXPECT_EQ(Launch("QZ_M480"), LaunchResult::kAlreadyOpen);
    fs::remove(marker);
    EXPECT_EQ(Launch("QZ_M480"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith().size(), 2u);
}

TEST_F(LauncherTest, MissingWindowProgramIsReported) {
    ASSERT_TRUE(cupsd_.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
    fs::remove_all(resources_);
    EXPECT_EQ(Launch("QZ_M480"), LaunchResult::kStartFailed);
}

TEST_F(LauncherTest, NameTooLongForItsBufferIsNotPassed) {
    const std::string longName(255, 'n');
    ASSERT_TRUE(cupsd_.AddQueue("QZ_M480", kUri, longName));
    EXPECT_EQ(Launch("QZ_M480"), LaunchResult::kStarted);
    EXPECT_EQ(StartedWith(), (std::vector<std::string>{"AB%2012"}));
}

// The program itself, from its bundle in the build tree.
TEST(LauncherProgramTest, ReportsAWindowProgramItCannotStart) {
    qzm::test::TempRoot root;
    qzm::test::PrivateCupsd cupsd;
    if (!cupsd.Start()) {
        GTEST_SKIP() << "no private cupsd: " << cupsd.Error();
    }
    ASSERT_TRUE(cupsd.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
    // A copy of the launcher whose bundle holds no window program.
    const fs::path copy = root.Path() + "/L.app/Contents/MacOS/StatusUtilityQZ-M480";
    fs::create_directories(copy.parent_path());
    fs::copy_file(QZM480_STATUSUTILITY_PROGRAM, copy);
    const std::string errors = root.Path() + "/stderr";
    const std::string command = "'" + copy.string() + "' QZ_M480 2>'" + errors + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(errors);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("cannot start the status window"), std::string::npos) << text;

    EXPECT_EQ(std::system(("'" + copy.string() + "' NoSuchQueue").c_str()), 0);
    EXPECT_EQ(std::system(("'" + copy.string() + "'").c_str()), 0);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
