// writer-sim: a simulated master-card writer device for the program to talk
// to without hardware. See Usage() in command_line.cpp for the options.
#include "command_line.h"
#include "serial/posix/unique_fd.h"
#include "writer_simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace {

std::mutex output_lock;

// One line at a time and flushed, so a script waiting for "ready" or a test
// reading the exchanges sees each line as it happens. A closed standard
// output must not stop the device, so write errors are ignored.
void PrintLine(const std::string& line) {
    std::lock_guard lock(output_lock);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// True when standard input has reached its end (or cannot be read at all).
bool StdinEnded() {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) return false;
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const writersim::CommandLine cl = writersim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
        std::cout << writersim::Usage();
        return 0;
    }
    if (!cl.error.empty()) {
        std::cerr << "writer-sim: " << cl.error << "\nTry 'writer-sim --help'.\n";
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    // Blocked before the device's thread exists, so the thread inherits the
    // mask and the signals arrive only through the signalfd below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (const int err = ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); err != 0) {
        std::cerr << "writer-sim: pthread_sigmask: " << std::strerror(err) << "\n";
        return 1;
    }
    sio::UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signals) {
        std::cerr << "writer-sim: signalfd: " << std::strerror(errno) << "\n";
        return 1;
    }

    writersim::WriterSimulator simulator(cl.options, PrintLine);
    try {
        simulator.Start();
    } catch (const std::exception& e) {
        std::cerr << "writer-sim: " << e.what() << "\n";
        return 1;
    }
    PrintLine("device " + simulator.SlavePath());
    if (!simulator.LinkPath().empty()) {
        PrintLine("linked COM" + std::to_string(cl.options.com) + " as " + simulator.LinkPath());
    }
    PrintLine("ready");

    pollfd fds[2] = {{signals.get(), POLLIN, 0}, {cl.exit_on_stdin_eof ? STDIN_FILENO : -1, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            PrintLine(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            const ssize_t n = ::read(signals.get(), &info, sizeof info);
            const bool term = n == static_cast<ssize_t>(sizeof info) && info.ssi_signo == SIGTERM;
            PrintLine(std::string("stopping on ") + (term ? "SIGTERM" : "SIGINT"));
            break;
        }
        if (fds[1].revents != 0 && StdinEnded()) {
            PrintLine("stopping: standard input closed");
            break;
        }
    }
    simulator.Stop();
    PrintLine("stopped");
    return 0;
}
