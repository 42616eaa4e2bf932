#include "serial/core/sync_event.h"

#include <algorithm>
#include <chrono>

namespace sio {

std::atomic<int> SyncEvent::live_{0};

SyncEvent::SyncEvent(ResetMode mode) : manual_(mode == ResetMode::Manual) { ++live_; }

SyncEvent::~SyncEvent() { --live_; }

void SyncEvent::Set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    // Each waiter re-checks the events it waits on, so waking all of them is
    // correct; there are never more than two or three.
    for (Waiter* waiter : waiters_) {
        std::lock_guard wl(waiter->mutex);
        waiter->woken = true;
        waiter->wake.notify_one();
    }
}

void SyncEvent::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool SyncEvent::ConsumeLocked() {
    if (!signalled_) return false;
    if (!manual_) signalled_ = false;
    return true;
}

bool SyncEvent::ConsumeOrEnlist(Waiter* waiter) {
    std::lock_guard lock(mutex_);
    if (ConsumeLocked()) return true;
    waiters_.push_back(waiter);
    return false;
}

void SyncEvent::Delist(Waiter* waiter) {
    std::lock_guard lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

bool SyncEvent::Wait(int timeoutMs) {
    return WaitEither(*this, *this, timeoutMs) == 0;
}

int SyncEvent::WaitEither(SyncEvent& first, SyncEvent& second, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const bool both = &first != &second;
    Waiter waiter;
    for (;;) {
        // Enlisting under each event's own lock, after checking it, means a
        // Set between the check and the sleep still wakes this waiter.
        if (first.ConsumeOrEnlist(&waiter)) return 0;
        if (both && second.ConsumeOrEnlist(&waiter)) {
            first.Delist(&waiter);
            return 1;
        }
        bool timedOut = false;
        {
            std::unique_lock wl(waiter.mutex);
            if (timeoutMs == kInfinite) {
                waiter.wake.wait(wl, [&] { return waiter.woken; });
            } else {
                timedOut = !waiter.wake.wait_until(wl, deadline, [&] { return waiter.woken; });
            }
            waiter.woken = false;
        }
        first.Delist(&waiter);
        if (both) second.Delist(&waiter);
        if (timedOut) {
            // A last look: a signal that raced with the time-out still counts.
            {
                std::lock_guard lock(first.mutex_);
                if (first.ConsumeLocked()) return 0;
            }
            if (both) {
                std::lock_guard lock(second.mutex_);
                if (second.ConsumeLocked()) return 1;
            }
            return -1;
        }
    }
}

}  // namespace sio
