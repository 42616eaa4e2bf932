#include "serial/posix/modem_line_watch.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>

namespace sio {

namespace {

void IgnoreWake(int) {}

std::mutex g_signalLock;  // guards the choice of g_wakeSignal
std::atomic<int> g_wakeSignal{0};

bool HandledByUs(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == IgnoreWake &&
           !(current.sa_flags & SA_SIGINFO);
}

// A real-time signal this program leaves at its default, with our handler
// installed (no SA_RESTART: the wait must end); 0 when every one is taken.
int ChooseWakeSignal() {
    std::lock_guard held(g_signalLock);
    int chosen = g_wakeSignal;
    if (chosen != 0 && HandledByUs(chosen))
        return chosen;
    // From the top of the range down: libraries that use real-time signals
    // mostly take the first ones.
    for (int signal = SIGRTMAX - 1; signal > SIGRTMIN + 1; --signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0)
            continue;
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = IgnoreWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        if (::sigaction(signal, &action, nullptr) != 0)
            continue;
        g_wakeSignal = signal;
        return signal;
    }
    return 0;
}

constexpr unsigned long kLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;

// How long Stop waits for the thread to leave the driver.
constexpr auto kStopBound = std::chrono::milliseconds(50);

bool LinesMoved(const serial_icounter_struct& a, const serial_icounter_struct& b) {
    return a.cts != b.cts || a.dsr != b.dsr || a.dcd != b.dcd || a.rng != b.rng;
}

}  // namespace

int ModemLineWatch::WakeSignal() { return g_wakeSignal; }

bool ModemLineWatch::Start(int fd) {
    Stop();
    signal_ = ChooseWakeSignal();
    if (signal_ == 0)
        return false;
    auto state = std::make_shared<State>();
    if (state->wake.Create() != 0)
        return false;
    int signal = signal_;
    try {
        thread_ = std::thread([state, fd, signal] {
            // The signal must reach this thread even if the program blocks it.
            sigset_t wake;
            sigemptyset(&wake);
            sigaddset(&wake, signal);
            pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
            Run(state, fd);
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    handle_ = thread_.native_handle();
    running_ = true;
    return true;
}

void ModemLineWatch::Run(const std::shared_ptr<State>& state, int fd) {
    serial_icounter_struct seen{};
    bool counted = ::ioctl(fd, TIOCGICOUNT, &seen) == 0;
    while (!state->stopping) {
        // A change after the last wait ended and before the next begins is
        // in the counters, not in the next wait's snapshot.
        serial_icounter_struct now{};
        if (counted && ::ioctl(fd, TIOCGICOUNT, &now) == 0 && LinesMoved(seen, now)) {
            seen = now;
            state->wake.Signal();
        }
        if (::ioctl(fd, TIOCMIWAIT, kLines) == 0 || errno == EINTR)
            continue;
        // No such wait in this driver, or the device is gone: the event
        // worker samples from now on.
        state->failed = true;
        if (!state->stopping)
            state->wake.Signal();
        break;
    }
    state->finished = true;
}

void ModemLineWatch::Stop() {
    if (!running_.exchange(false))
        return;
    state_->stopping = true;
    // A signal sent just before the thread enters its wait is lost, so it is
    // sent again until the thread has left, while the handler is still ours.
    auto deadline = std::chrono::steady_clock::now() + kStopBound;
    while (!state_->finished && std::chrono::steady_clock::now() < deadline) {
        if (HandledByUs(signal_))
            pthread_kill(handle_, signal_);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (state_->finished)
        thread_.join();
    else
        thread_.detach();  // it ends at the next line change or hang-up
}

}  // namespace sio
