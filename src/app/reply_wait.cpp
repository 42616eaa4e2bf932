#include "app/reply_wait.h"

#include "app/action_list.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

bool WaitForReply(TActionList& actions, ReplyClock::time_point sentAt,
                  const std::function<bool()>& accept) {
    const TActionList::Pause noIdleUpdates(actions);
    // The tick bounds each sleep: with no event to wake it, the thread still
    // comes round within 1 ms to test the gate and the deadline.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(std::chrono::milliseconds(1));

    const ReplyClock::time_point gate = sentAt + kReplyGate;
    const ReplyClock::time_point deadline = sentAt + kReplyTimeout;
    while (ReplyClock::now() < deadline) {
        // Handles what is pending; sleeps until the next event when nothing is.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (ReplyClock::now() > gate && accept()) return true;
    }
    return false;
}
