#include "app/reply_wait.h"

#include "app/toolkit/action_list.h"

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
