// The main thread's event wait on its message queue: pending messages are
// handled, then the thread sleeps in MsgWaitForMultipleObjectsEx until a
// message arrives or the moment comes.
#include "app/toolkit/event_wait.h"

#include "app/toolkit/win32/application.h"

#include <thread>

namespace {

class MainEventWait : public TEventWait {
public:
    Clock::time_point Now() override { return Clock::now(); }

    void HandleEventsUntil(Clock::time_point wakeAt) override {
        using std::chrono::milliseconds;
        if (w32tk::PumpPendingMessages()) return;
        const Clock::duration remaining = wakeAt - Clock::now();
        if (remaining <= Clock::duration::zero()) return;
        // Whole milliseconds, rounded down so the wait never ends late; the
        // last fraction is slept out.
        const auto whole = std::chrono::duration_cast<milliseconds>(remaining);
        if (whole.count() == 0) {
            std::this_thread::sleep_until(wakeAt);
            return;
        }
        // MWMO_INPUTAVAILABLE: a message already queued but not yet looked
        // at wakes it too.
        const DWORD woken = MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(whole.count()),
                                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0) w32tk::PumpPendingMessages();
    }
};

}  // namespace

std::unique_ptr<TEventWait> MakeMainEventWait() { return std::make_unique<MainEventWait>(); }

void ProcessPendingEvents() { w32tk::PumpPendingMessages(); }
