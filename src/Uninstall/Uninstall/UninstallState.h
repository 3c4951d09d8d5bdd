// State shared between the uninstaller's main thread and its worker.
//
// The worker stores g_Ret first and clears g_process after it (release);
// the main thread reads g_Ret only after it has seen g_process false
// (acquire), so it always reads the outcome of the request that just ended.
#pragma once

#include <atomic>
#include <cstdint>

// True while a removal request is outstanding.
extern std::atomic<bool> g_process;
// Outcome of the last request: 0 success, -1 failure, 1 authorization or
// helper start not obtained.
extern std::atomic<int32_t> g_Ret;

// The helper's name: its polkit action and installed executable carry it.
inline constexpr char helperName[] = "com.orvane.UninstallHelperQZM480";
