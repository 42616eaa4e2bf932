// A second process that holds a terminal as another serial program would:
// for tests that show a port in use is left alone. Only the holder itself
// can tell whether its settings and its unread input survived, so it looks
// when the test lets it go and answers in its exit status.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "serial/posix/unique_fd.h"

namespace sio::test {

class HoldingProcess {
public:
    // Runs `body` in a forked child. The body calls `hold` once it holds
    // what it holds; that tells the test and returns when the test calls
    // Finish. The body's result is the child's exit status. Only
    // async-signal-safe work belongs in a body: the test may run threads.
    using Body = std::function<int(const std::function<void()>& hold)>;

    explicit HoldingProcess(const Body& body) {
        int ready[2];
        int release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            auto hold = [&] {
                (void)!::write(ready[1], "h", 1);
                char end;
                while (::read(release[0], &end, 1) < 0 && errno == EINTR) {
                }
            };
            ::_exit(body(hold));
        }
        ::close(ready[1]);
        ::close(release[0]);
        UniqueFd readyEnd(ready[0]);
        release_.reset(release[1]);
        char seen;
        ssize_t n;
        while ((n = ::read(readyEnd.get(), &seen, 1)) < 0 && errno == EINTR) {
        }
        ready_ = pid_ > 0 && n == 1;
    }
    ~HoldingProcess() {
        if (pid_ > 0)
            Kill();
    }
    HoldingProcess(const HoldingProcess&) = delete;
    HoldingProcess& operator=(const HoldingProcess&) = delete;

    // True once the body called `hold`.
    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }

    // Lets the holder go on and waits for it: its exit status, or 128 plus
    // the signal that ended it.
    int Finish() {
        // A byte, not the pipe's end: holders forked later hold copies of
        // this end too.
        (void)!::write(release_.get(), "f", 1);
        release_.reset();
        return Reap();
    }
    // Ends the holder as a crash would: nothing it holds is cleaned up.
    void Kill() {
        (void)::kill(pid_, SIGKILL);
        (void)Reap();
    }

private:
    int Reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid_ = -1;
    bool ready_ = false;
    UniqueFd release_;
};

// How the holder marks the terminal in use.
enum class Hold { LockFile, Flock, Exclusive };

// The lock file the LockFile holder writes, in the form serial programs
// use: the PID right-aligned in ten characters and a newline.
inline std::string LockFileText(pid_t pid) {
    std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + "\n";
}

// A holder of `terminal`, whose far end is `master`: it keeps the terminal
// cooked (ICANON, ECHO) with one line of input it has not read (6 bytes)
// and marks it in use `how` (LockFile: by writing `lockFile`). Its exit
// status: 0 when settings and input are as it left them, 1 settings
// changed, 2 input changed, 10 and up when it could not set itself up.
inline HoldingProcess::Body HoldTerminal(const std::string& terminal, int master, Hold how,
                                         const std::string& lockFile) {
    return [=](const std::function<void()>& hold) {
        int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
            return 10;
        tio.c_lflag |= ICANON | ECHO;
        if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::write(master, "hello\n", 6) != 6)
            return 11;
        pollfd line{fd, POLLIN, 0};  // the line is complete: the reader may take it
        if (::poll(&line, 1, 10000) != 1)
            return 12;
        if (how == Hold::LockFile) {
            char text[16];
            int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            int lock = ::open(lockFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (lock < 0 || ::write(lock, text, static_cast<size_t>(length)) != length)
                return 13;
            ::close(lock);
        } else if (how == Hold::Flock ? ::flock(fd, LOCK_EX | LOCK_NB) != 0 : ::ioctl(fd, TIOCEXCL) != 0) {
            return 14;
        }
        hold();
        int waiting = -1;
        if (::tcgetattr(fd, &tio) != 0 || (tio.c_lflag & (ICANON | ECHO)) != (ICANON | ECHO))
            return 1;
        if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting != 6)
            return 2;
        return 0;
    };
}

}  // namespace sio::test
