// Waits in the driver for modem-line changes (TIOCMIWAIT) on a thread of its
// own, and turns each change into a wake-up that poll() can wait on beside
// the device. A UART's modem lines then reach the event worker as they
// change, while an idle port costs no wake-ups at all.
//
// TIOCMIWAIT cannot be woken by closing the descriptor, so Stop interrupts
// it with a real-time signal whose handler does nothing. The signal is one
// the program leaves at its default: none that the program (or another
// library) handles or ignores is taken over; when none is free, no thread is
// started and the caller samples. Stop is bounded: should the program change
// the signal's disposition after the watch began, the signal is no longer
// sent (it would kill the process, be ignored, or restart the wait), and the
// thread is left to end at the next line change or hang-up.
//
// A real TIOCMIWAIT takes its snapshot of the counters when each wait
// begins; a change between two waits is caught by comparing the counters
// before each wait, as the kernel compares them.
#pragma once

#include <atomic>
#include <memory>
#include <pthread.h>
#include <thread>

#include "serial/posix/wake_event.h"

namespace sio {

class ModemLineWatch {
public:
    ModemLineWatch() = default;
    ~ModemLineWatch() { Stop(); }
    ModemLineWatch(const ModemLineWatch&) = delete;
    ModemLineWatch& operator=(const ModemLineWatch&) = delete;

    // Starts watching `fd`, which must stay open until Stop returns. False
    // when no signal, thread or wake-up could be had; the caller samples.
    bool Start(int fd);
    // Ends the thread within a bounded time; takes no lock of the caller's
    // and may run while other threads still poll fd().
    void Stop();

    // True while changes are reported; false once the driver refused the
    // wait (no TIOCMIWAIT) or failed, which is reported once as a wake-up.
    bool Watching() const { return running_ && state_ && !state_->failed; }
    // Readable after a change; Consume() takes it. Valid until the next Start.
    int fd() const { return state_ ? state_->wake.fd() : -1; }
    void Consume() {
        if (state_)
            state_->wake.Consume();
    }

    // The signal the watch interrupts its wait with, or 0 before any watch.
    static int WakeSignal();

private:
    // Shared with the thread, which may outlive a bounded Stop.
    struct State {
        WakeEvent wake;
        std::atomic<bool> stopping{false};
        std::atomic<bool> finished{false};
        std::atomic<bool> failed{false};
    };
    static void Run(const std::shared_ptr<State>& state, int fd);

    std::shared_ptr<State> state_;
    std::thread thread_;
    pthread_t handle_{};
    int signal_ = 0;
    std::atomic<bool> running_{false};
};

}  // namespace sio
