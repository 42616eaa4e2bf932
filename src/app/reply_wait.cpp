#include "app/reply_wait.h"

#include "app/action_list.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

EventLoopReplyClock::EventLoopReplyClock() : alarm_(std::make_unique<QTimer>()) {
    alarm_->setSingleShot(true);
    alarm_->setTimerType(Qt::PreciseTimer);
}

EventLoopReplyClock::~EventLoopReplyClock() = default;

void EventLoopReplyClock::HandleEventsUntil(ReplyClock::time_point wakeAt) {
    using std::chrono::milliseconds;
    const ReplyClock::duration remaining = wakeAt - ReplyClock::now();
    if (remaining < milliseconds(1)) {
        // The event loop's timers count whole milliseconds: the last
        // fraction is slept out, and an event that comes meanwhile waits
        // less than a millisecond.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_until(wakeAt);
        return;
    }
    // Rounded down, so the alarm never rings late; what is left over is the
    // fraction above.
    alarm_->start(std::chrono::duration_cast<milliseconds>(remaining));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    alarm_->stop();
}

bool WaitForReply(TActionList& actions, ReplyWaitClock& clock, ReplyClock::time_point sentAt,
                  const std::function<bool()>& accept) {
    const TActionList::Pause noIdleUpdates(actions);
    const ReplyClock::time_point gate = sentAt + kReplyGate;
    const ReplyClock::time_point deadline = sentAt + kReplyTimeout;
    // The reply is looked at only strictly after the gate: the first
    // instant the clock can tell apart from it.
    const ReplyClock::time_point firstLook = gate + ReplyClock::duration(1);
    while (clock.Now() < deadline) {
        clock.HandleEventsUntil(clock.Now() < firstLook ? firstLook : deadline);
        if (clock.Now() > gate && accept()) return true;
    }
    return false;
}
