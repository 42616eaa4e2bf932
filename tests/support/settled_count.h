// Counts taken after the threads a test ended have really gone.
#pragma once

// Angle brackets: the include path, not this folder, picks the platform's
// counts (tests/support/win32 comes first in a Windows build).
#include <proc_entries.h>

#include <chrono>
#include <thread>

namespace sio::test {

// A joined thread can still be listed for a moment: the kernel wakes the
// joiner when the thread clears its id, before it removes the thread from
// /proc/self/task (Windows' thread snapshot lags the same way). And a close
// may leave the modem-line watch to end by itself, with its wake-up
// descriptor, a moment later: its stop is bounded in time, and a busy host
// (or one holding a virtual machine's processor back) overruns the bound.
// Waits up to 10 s for the count to come back down to the baseline and
// returns it, so a thread or descriptor that stays shows and a slow release
// does not. A count may also come back lower than a baseline taken while an
// earlier case's watch was still ending: callers check "no more than".
inline int CountOnceSettled(const char* what, int baseline) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int count = CountProcEntries(what);
    while (count > baseline && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = CountProcEntries(what);
    }
    return count;
}

}  // namespace sio::test
