// A printer plugged in and out a hundred times, at different moments of its
// worker's life: afterwards no worker and no thread is left, the file says
// disconnected, and (in the sanitizer build) nothing has leaked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "../Support/TempRoot.h"
#include "CacheFolder.h"
#include "DeviceMonitor.h"
#include "EmulatedUsb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kCycles = 100;
constexpr auto kPatience = 10s;

size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

bool Pump(DeviceMonitor& monitor, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        monitor.RunOnce(2);
    }
    return true;
}

TEST(PlugCycleAttackTest, AHundredPlugCyclesLeaveNoWorkerBehind) {
    qzm::test::TempRoot root;
    CheckAndMake_CacheFolder();
    const std::string info = root / "/Library/Caches/Orvane/QZ-M480/QZ-M480_QZ0001.log";
    qzm::emu::EmulatedBus bus;
    MonitorSettings settings;
    settings.cycle = 2ms;
    settings.serialRetry = 2ms;
    settings.registerQueue = [](const char*) { return true; };
    auto printer = qzm::emu::EmulatedPrinter::Create();
    const size_t threadsBefore = ThreadCount();
    {
        DeviceMonitor monitor(bus, settings);
        ASSERT_EQ(monitor.Start(0x1343, 0x0480), 0);
        for (int i = 0; i < kCycles; ++i) {
            bus.Attach(printer);
            ASSERT_TRUE(Pump(monitor, [&] { return monitor.WorkerCount() == 1; })) << i;
            // Unplug at once, once the file is written, or a few cycles on.
            if (i % 3 == 1) {
                fs::remove(info);
                ASSERT_TRUE(Pump(monitor, [&] { return fs::exists(info); })) << i;
            } else if (i % 3 == 2) {
                for (int k = 0; k < 3; ++k) {
                    monitor.RunOnce(2);
                }
            }
            bus.Detach(printer);
            ASSERT_TRUE(Pump(monitor, [&] { return monitor.WorkerCount() == 0; })) << i;
        }
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
    std::stringstream text;
    text << std::ifstream(info).rdbuf();
    EXPECT_NE(text.str().find("PRINTER_STATUS=\"99999\""), std::string::npos) << text.str();
}

}  // namespace
