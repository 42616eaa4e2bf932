#include "serial/posix/modem_line_watch.h"

#include <asm/termbits.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>

namespace sio {

namespace {

// A real-time signal nothing else in the program uses; it only makes the
// blocked TIOCMIWAIT return EINTR.
int WakeSignal() { return SIGRTMIN + 7; }

void IgnoreWake(int) {}

bool InstallWakeHandler() {
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = IgnoreWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the wait must end
        installed = ::sigaction(WakeSignal(), &action, nullptr) == 0;
    });
    return installed;
}

constexpr unsigned long kLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;

}  // namespace

bool ModemLineWatch::Start(int fd) {
    Stop();
    if (!InstallWakeHandler() || wake_.Create() != 0)
        return false;
    stopping_ = false;
    finished_ = false;
    failed_ = false;
    try {
        thread_ = std::thread([this, fd] { Run(fd); });
    } catch (const std::system_error&) {
        wake_.Destroy();
        return false;
    }
    handle_ = thread_.native_handle();
    running_ = true;
    return true;
}

void ModemLineWatch::Run(int fd) {
    // The signal must reach this thread even if the program blocks it.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, WakeSignal());
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    while (!stopping_) {
        if (::ioctl(fd, TIOCMIWAIT, kLines) == 0) {
            wake_.Signal();
            continue;
        }
        if (errno == EINTR)
            continue;
        // No such wait in this driver, or the device is gone: the event
        // worker samples from now on.
        failed_ = true;
        wake_.Signal();
        break;
    }
    finished_ = true;
}

void ModemLineWatch::Stop() {
    if (!running_.exchange(false))
        return;
    stopping_ = true;
    // A signal sent just before the thread enters its wait is lost, so it is
    // sent again until the thread has left.
    while (!finished_) {
        pthread_kill(handle_, WakeSignal());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    thread_.join();
    wake_.Destroy();
}

}  // namespace sio
