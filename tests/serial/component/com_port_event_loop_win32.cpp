// The component tests' event loop on Windows: the test thread's own message
// queue, which the component's hidden window is served from. The component
// installs its window-message layer itself at the first open.
#include "com_port_test_support.h"

#include "serial/win32/windows_api.h"

#include <algorithm>
#include <chrono>

void EnsureEventLoop() {
    // A thread gets its message queue with its first look at it; the
    // workers' notices then have somewhere to go from the first open on.
    MSG m;
    ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // Sleeps until a message arrives, looking again now and then for a
        // condition that a worker changes without a message.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 5)),
                                    QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

void PumpPending() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}
