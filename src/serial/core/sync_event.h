// A waitable event in the manner of the operating-system events the design
// relies on: auto-reset (a successful wait consumes the signal) or
// manual-reset (stays signalled until reset), with waits on one event or on
// either of two, bounded by a time-out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace sio {

inline constexpr int kInfinite = -1;

class SyncEvent {
public:
    enum class ResetMode { Auto, Manual };

    explicit SyncEvent(ResetMode mode);
    ~SyncEvent();
    SyncEvent(const SyncEvent&) = delete;
    SyncEvent& operator=(const SyncEvent&) = delete;

    void Set();
    void Reset();

    // True when the event was (or became) signalled within timeoutMs
    // (kInfinite: no time-out). An auto-reset event is consumed by the wait.
    bool Wait(int timeoutMs);

    // Consumes the signal if there is one, without waiting.
    bool TryWait() { return Wait(0); }

    // Waits until either event is signalled. Returns 0 or 1 for the event
    // that released the wait (the first one wins when both are), or -1 on
    // time-out.
    static int WaitEither(SyncEvent& first, SyncEvent& second, int timeoutMs);

    // Events alive in the process; lets tests prove that nothing leaks.
    static int LiveCount() { return live_.load(); }

private:
    struct Waiter {
        std::mutex mutex;
        std::condition_variable wake;
        bool woken = false;
    };

    bool ConsumeLocked();
    bool ConsumeOrEnlist(Waiter* waiter);
    void Delist(Waiter* waiter);

    std::mutex mutex_;  // guards signalled_ and waiters_
    const bool manual_;
    bool signalled_ = false;
    std::vector<Waiter*> waiters_;

    static std::atomic<int> live_;
};

}  // namespace sio
