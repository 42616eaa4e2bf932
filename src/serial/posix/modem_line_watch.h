// Waits in the driver for modem-line changes (TIOCMIWAIT) on a thread of its
// own, and turns each change into a wake-up that poll() can wait on beside
// the device. A UART's modem lines then reach the event worker as they
// change, while an idle port costs no wake-ups at all.
//
// TIOCMIWAIT cannot be woken by closing the descriptor, so Stop interrupts
// it with a real-time signal (kWakeSignal) whose handler does nothing.
#pragma once

#include <atomic>
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
    // when no thread or wake-up could be had; the caller samples instead.
    bool Start(int fd);
    void Stop();

    // True while changes are reported; false once the driver refused the
    // wait (no TIOCMIWAIT) or failed, which is reported once as a wake-up.
    bool Watching() const { return running_ && !failed_; }
    // Readable after a change; Consume() takes it.
    int fd() const { return wake_.fd(); }
    void Consume() { wake_.Consume(); }

private:
    void Run(int fd);

    WakeEvent wake_;
    std::thread thread_;
    pthread_t handle_{};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
};

}  // namespace sio
