// The main thread's event wait: handling what is pending, and sleeping until
// the next event or a moment on the monotonic clock, whichever is first.
#pragma once

#include <chrono>
#include <memory>

class TEventWait {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~TEventWait() = default;
    virtual Clock::time_point Now() = 0;
    // Handles the pending events; with none pending, sleeps until the next
    // event arrives or `wakeAt` comes, whichever is first.
    virtual void HandleEventsUntil(Clock::time_point wakeAt) = 0;
};

// The toolkit's own wait on the main thread's event queue, on the steady
// clock.
std::unique_ptr<TEventWait> MakeMainEventWait();

// Handles the events pending for the main thread and returns at once.
void ProcessPendingEvents();
