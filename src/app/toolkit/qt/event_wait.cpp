// The main thread's event wait on Qt's event loop.
#include "app/toolkit/event_wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

namespace {

class MainEventWait : public TEventWait {
public:
    MainEventWait() {
        alarm_.setSingleShot(true);
        alarm_.setTimerType(Qt::PreciseTimer);
    }

    Clock::time_point Now() override { return Clock::now(); }

    void HandleEventsUntil(Clock::time_point wakeAt) override {
        using std::chrono::milliseconds;
        const Clock::duration remaining = wakeAt - Clock::now();
        if (remaining < milliseconds(1)) {
            // The event loop's timers count whole milliseconds: the last
            // fraction is slept out, and an event that comes meanwhile
            // waits less than a millisecond.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_until(wakeAt);
            return;
        }
        // Rounded down, so the alarm never rings late; what is left over is
        // the fraction above.
        alarm_.start(std::chrono::duration_cast<milliseconds>(remaining));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        alarm_.stop();
    }

private:
    QTimer alarm_;
};

}  // namespace

std::unique_ptr<TEventWait> MakeMainEventWait() { return std::make_unique<MainEventWait>(); }

void ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
