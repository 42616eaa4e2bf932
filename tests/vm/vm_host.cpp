// The host side of the virtual machine: starts QEMU with two host terminals
// as its serial backends (the 16550 and the FTDI adapter), shows the guest's
// console, plays the far end of both lines for the guest's test program, and
// exits with the guest program's exit status.
//
//   vm_host --work DIR --preload LIB [--timeout S] -- qemu-system-x86_64 ARGS...
//
// In ARGS, @UART@ and @FTDI@ stand for the two terminals' slave paths, and
// DIR/console.sock, DIR/control.sock and DIR/qmp.sock are the sockets QEMU
// connects to (its console, the guest's control port, its monitor). QEMU
// runs with LIB preloaded (tests/support/pty_modem_lines.c), which records
// what the guest did to its lines in DIR/modem.
//
// The control port carries the line peer's protocol (peer_protocol.h), one
// request a line, where a line is named by the device it stands for:
//   LINK <com> uart|ftdi   COM<com> is that line from now on; its bytes and
//                          record so far are dropped. Reply: OK <device>
//   SEND, RECV             as the line peer
//   HANGUP <com>           the FTDI adapter is unplugged (QMP device_del);
//                          the reply comes once QEMU reports it gone
//   PLUG <com>             the FTDI adapter is plugged in again (device_add)
//   LINES <com>            the guest's DTR and RTS. Reply: OK <TIOCM bits>
//   INPUTS <com> <bits>    the modem inputs the guest's UART sees (TIOCM bits);
//                          the reply comes once QEMU has read them
//   RECORD <com>           what the guest did to the line since LINK or the
//                          last RECORD ("lines", "tx", "set" events, one a
//                          line). Reply: DATA <n> + n bytes
//   QUIT
// The guest's init prints "vm-guest: exit <status>" on the console as its
// last word.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::cerr << "vm_host: " << what << ": " << std::strerror(errno) << "\n";
    std::exit(2);
}

int Listen(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ::unlink(path.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0)
        Fail("cannot listen on " + path);
    return fd;
}

// One terminal whose slave QEMU uses as the guest's serial line.
struct HostLine {
    std::string device;  // "uart" or "ftdi"
    int master = -1;
    std::string slave;
    std::string input;  // bytes from the guest not yet asked for
    std::string recordPath, inputsPath;
    std::streamoff recordRead = 0;

    void Open(const std::string& modemDir) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            Fail("no pseudo-terminal");
        slave = ::ptsname(master);
        // The far end is a byte pipe: no echo or line editing on either side.
        const int s = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(s, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(s, TCSANOW, &raw);
        ::close(s);
        const std::string number = slave.substr(slave.rfind('/') + 1);
        recordPath = modemDir + "/" + number + ".log";
        inputsPath = modemDir + "/" + number + ".in";
    }
    void Drain() {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            input.append(buffer, static_cast<std::size_t>(n));
    }
    // The last "<kind> <bits>" event of the record: DTR and RTS as the guest
    // last set them ("lines"), the inputs QEMU last read ("in").
    int Last(const std::string& kind) const {
        std::ifstream in(recordPath);
        int bits = 0;
        for (std::string event; std::getline(in, event);)
            if (event.rfind(kind + " ", 0) == 0)
                bits = std::atoi(event.c_str() + kind.size() + 1);
        return bits;
    }
    // The record's part not yet handed out.
    std::string NewRecord() {
        std::ifstream in(recordPath, std::ios::binary);
        in.seekg(recordRead);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        recordRead += static_cast<std::streamoff>(text.size());
        return text;
    }
};

class Host {
public:
    Host(std::string work, std::string preload, int timeoutSeconds)
        : work_(std::move(work)), preload_(std::move(preload)),
          deadline_(Clock::now() + std::chrono::seconds(timeoutSeconds)) {
        ::mkdir((work_ + "/modem").c_str(), 0755);
        lines_[0].device = "uart";
        lines_[1].device = "ftdi";
        for (HostLine& line : lines_)
            line.Open(work_ + "/modem");
    }

    int Run(std::vector<std::string> qemu) {
        const int consoleListen = Listen(work_ + "/console.sock");
        const int controlListen = Listen(work_ + "/control.sock");
        const int qmpListen = Listen(work_ + "/qmp.sock");
        for (std::string& arg : qemu) {
            Replace(arg, "@UART@", lines_[0].slave);
            Replace(arg, "@FTDI@", lines_[1].slave);
        }
        Start(qemu);
        // QEMU connects to each socket while it starts.
        console_ = Accept(consoleListen);
        control_ = Accept(controlListen);
        qmp_ = Accept(qmpListen);
        Send(qmp_, "{\"execute\":\"qmp_capabilities\"}\n");
        Serve();
        if (MillisecondsLeft() == 0)
            ::kill(qemu_, SIGKILL);
        int status = 0;
        ::waitpid(qemu_, &status, 0);
        qemu_ = -1;
        if (!guestExit_) {
            std::cerr << "vm_host: the guest ended without an exit status (QEMU "
                      << (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "killed") << ")\n";
            return 1;
        }
        return *guestExit_;
    }

    ~Host() {
        if (qemu_ > 0) {
            ::kill(qemu_, SIGKILL);
            ::waitpid(qemu_, nullptr, 0);
        }
    }

private:
    static void Replace(std::string& text, const std::string& from, const std::string& to) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), to);
    }

    void Start(const std::vector<std::string>& args) {
        qemu_ = ::fork();
        if (qemu_ < 0)
            Fail("fork");
        if (qemu_ == 0) {
            // QEMU goes with this process, whatever ends it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::setenv("LD_PRELOAD", preload_.c_str(), 1);
            ::setenv("PTY_MODEM_DIR", (work_ + "/modem").c_str(), 1);
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::perror(argv[0]);
            ::_exit(127);
        }
    }

    int Accept(int listener) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, MillisecondsLeft()) != 1)
            Fail("QEMU did not connect");
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
        return fd;
    }

    int MillisecondsLeft() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    static void Send(int fd, const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR)
                return;
            if (n > 0)
                done += static_cast<std::size_t>(n);
        }
    }

    // Until QEMU closes its console, i.e. exits.
    void Serve() {
        for (;;) {
            if (MillisecondsLeft() == 0) {
                std::cerr << "vm_host: the guest did not finish in time\n";
                return;
            }
            int wait = MillisecondsLeft();
            if (pendingReceive_) {
                const auto quietEnd = pendingReceive_->lastByte + std::chrono::milliseconds(pendingReceive_->quiet);
                wait = std::min<int>(wait, std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                 quietEnd - Clock::now()).count()));
            }
            pollfd fds[] = {{console_, POLLIN, 0},
                            {control_, POLLIN, 0},
                            {qmp_, POLLIN, 0},
                            {lines_[0].master, POLLIN, 0},
                            {lines_[1].master, POLLIN, 0}};
            if (pendingInputs_)
                wait = std::min(wait, 2);  // the record is a file: looked at again shortly
            ::poll(fds, 5, wait);
            if (fds[0].revents && !ShowConsole())
                return;
            if (fds[2].revents)
                ReadMonitor();
            for (int i = 0; i < 2; ++i)
                if (fds[3 + i].revents & POLLIN) {
                    const std::size_t before = lines_[i].input.size();
                    lines_[i].Drain();
                    if (pendingReceive_ && lines_[i].input.size() != before)
                        pendingReceive_->lastByte = Clock::now();
                }
            if (fds[1].revents & POLLIN)
                ReadControl();
            else if (fds[1].revents)
                control_ = -1;  // the guest's control port is gone; the console tells the rest
            FinishReceive();
            FinishInputs();
        }
    }

    bool ShowConsole() {
        char buffer[4096];
        const ssize_t n = ::read(console_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        std::cout.write(buffer, n).flush();
        consoleLine_.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = consoleLine_.find('\n')) != std::string::npos;) {
            const std::string line = consoleLine_.substr(0, end);
            consoleLine_.erase(0, end + 1);
            const std::size_t at = line.find("vm-guest: exit ");
            if (at != std::string::npos)
                guestExit_ = std::atoi(line.c_str() + at + 15);
        }
        return true;
    }

    void ReadMonitor() {
        char buffer[4096];
        const ssize_t n = ::read(qmp_, buffer, sizeof buffer);
        if (n <= 0) {
            qmp_ = -1;
            return;
        }
        monitor_.append(buffer, static_cast<std::size_t>(n));
        if (!awaited_.empty() && (monitor_.find(awaited_) != std::string::npos ||
                                  monitor_.find("\"error\"") != std::string::npos)) {
            awaited_.clear();
            Send(control_, monitor_.find("\"error\"") == std::string::npos ? "OK\n" : "ERR monitor\n");
            while (Idle() && Handle()) {
            }
        }
    }

    void ReadControl() {
        char buffer[65536];
        const ssize_t n = ::read(control_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        request_.append(buffer, static_cast<std::size_t>(n));
        while (Idle() && Handle()) {
        }
    }

    HostLine* LineOf(int com) {
        const auto it = coms_.find(com);
        return it == coms_.end() ? nullptr : &lines_[it->second];
    }

    // One whole request from request_, if there is one; false if not yet.
    bool Handle() {
        const std::size_t end = request_.find('\n');
        if (end == std::string::npos)
            return false;
        std::istringstream words(request_.substr(0, end));
        std::string verb;
        int com = 0;
        words >> verb >> com;
        std::size_t consumed = end + 1;
        HostLine* line = LineOf(com);
        std::string reply = "ERR unknown line\n";
        if (verb == "LINK") {
            std::string device;
            words >> device;
            for (int i = 0; i < 2; ++i)
                if (lines_[i].device == device) {
                    coms_[com] = i;
                    lines_[i].Drain();
                    lines_[i].input.clear();
                    lines_[i].NewRecord();
                    reply = "OK /dev/" + device + "\n";
                }
        } else if (verb == "SEND") {
            std::size_t size = 0;
            words >> size;
            if (request_.size() < consumed + size)
                return false;
            if (line) {
                Send(line->master, request_.substr(consumed, size));
                reply = "OK\n";
            }
            consumed += size;
        } else if (verb == "RECV" && line) {
            Receive pending{line, 0, 0, Clock::now()};
            words >> pending.size >> pending.quiet;
            pendingReceive_ = pending;
            reply.clear();
        } else if (verb == "HANGUP" && line && line->device == "ftdi" && qmp_ >= 0) {
            AskMonitor("{\"execute\":\"device_del\",\"arguments\":{\"id\":\"ftdi\"}}", "\"DEVICE_DELETED\"");
            reply.clear();
        } else if (verb == "PLUG" && line && line->device == "ftdi" && qmp_ >= 0) {
            AskMonitor("{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"id\":\"ftdi\","
                       "\"chardev\":\"ftdiline\",\"bus\":\"xhci.0\"}}",
                       "\"return\"");
            reply.clear();
        } else if (verb == "LINES" && line) {
            reply = "OK " + std::to_string(line->Last("lines")) + "\n";
        } else if (verb == "INPUTS" && line) {
            int bits = 0;
            words >> bits;
            std::ofstream(line->inputsPath + ".new") << bits << "\n";
            // Renamed into place, so QEMU never reads half a file.
            ::rename((line->inputsPath + ".new").c_str(), line->inputsPath.c_str());
            pendingInputs_ = Inputs{line, bits};
            reply.clear();
        } else if (verb == "RECORD" && line) {
            const std::string record = line->NewRecord();
            reply = "DATA " + std::to_string(record.size()) + "\n" + record;
        } else if (verb == "QUIT") {
            reply = "OK\n";
        }
        request_.erase(0, consumed);
        if (!reply.empty())
            Send(control_, reply);
        return true;
    }

    // The reply to the guest waits for `awaited` from the monitor (an event,
    // or the command's return); an error comes back as ERR.
    void AskMonitor(const std::string& command, const std::string& awaited) {
        monitor_.clear();
        awaited_ = awaited;
        Send(qmp_, command + "\n");
    }

    // QEMU reads the inputs at its next poll of the line (every 10 ms).
    void FinishInputs() {
        if (!pendingInputs_ || pendingInputs_->line->Last("in") != pendingInputs_->bits)
            return;
        pendingInputs_.reset();
        Send(control_, "OK\n");
        while (Idle() && Handle()) {
        }
    }

    bool Idle() const { return !pendingReceive_ && !pendingInputs_ && awaited_.empty(); }

    void FinishReceive() {
        if (!pendingReceive_)
            return;
        Receive& r = *pendingReceive_;
        std::string& input = r.line->input;
        const bool quiet = Clock::now() >= r.lastByte + std::chrono::milliseconds(r.quiet);
        if (input.size() < r.size && !quiet)
            return;
        const std::string bytes = input.substr(0, r.size);
        input.erase(0, bytes.size());
        pendingReceive_.reset();
        Send(control_, "DATA " + std::to_string(bytes.size()) + "\n" + bytes);
        while (Idle() && Handle()) {
        }
    }

    struct Inputs {
        HostLine* line;
        int bits;
    };

    struct Receive {
        HostLine* line;
        std::size_t size;
        int quiet;
        Clock::time_point lastByte;
    };

    std::string work_, preload_;
    Clock::time_point deadline_;
    HostLine lines_[2];
    std::map<int, int> coms_;  // COM number -> lines_ index
    pid_t qemu_ = -1;
    int console_ = -1, control_ = -1, qmp_ = -1;
    std::string consoleLine_, request_, monitor_;
    std::optional<Receive> pendingReceive_;
    std::optional<Inputs> pendingInputs_;
    std::string awaited_;  // what the monitor must say before the guest hears back
    std::optional<int> guestExit_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string work, preload;
    int timeout = 240;
    std::vector<std::string> qemu;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--work" && i + 1 < argc) work = argv[++i];
        else if (arg == "--preload" && i + 1 < argc) preload = argv[++i];
        else if (arg == "--timeout" && i + 1 < argc) timeout = std::atoi(argv[++i]);
        else if (arg == "--") {
            qemu.assign(argv + i + 1, argv + argc);
            break;
        }
    }
    if (work.empty() || preload.empty() || qemu.empty()) {
        std::cerr << "usage: vm_host --work DIR --preload LIB [--timeout S] -- QEMU ARGS...\n";
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Host host(work, preload, timeout);
    return host.Run(qemu);
}
