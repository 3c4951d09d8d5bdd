// Polling for a condition that another thread or process brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qzm::test {

// Polls the condition until it holds (true) or the generous limit passes
// (false); never a measure of speed.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::seconds limit = std::chrono::seconds(30),
                       std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !condition();) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(every);
    }
    return true;
}

}  // namespace qzm::test
