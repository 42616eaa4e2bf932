#include "uart_emulator.h"

#include "serial/posix/pseudo_terminal.h"

#include <asm/termbits.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace uartemu {

namespace {

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using CloseFn = int (*)(int);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using PollFn = int (*)(pollfd*, nfds_t, int);
using IoctlFn = int (*)(int, unsigned long, ...);
using ReadlinkFn = ssize_t (*)(const char*, char*, size_t);

template <typename Fn>
Fn Real(const char* name) {
    void* symbol = ::dlsym(RTLD_NEXT, name);
    if (!symbol)
        ::abort();  // nothing sensible can run without the C library's call
    return reinterpret_cast<Fn>(symbol);
}

// The C library's calls, looked up once when the library is loaded, before
// any thread of the program runs.
struct RealCalls {
    OpenFn open = Real<OpenFn>("open");
    OpenFn open64 = Real<OpenFn>("open64");
    OpenAtFn openat = Real<OpenAtFn>("openat");
    OpenAtFn openat64 = Real<OpenAtFn>("openat64");
    CloseFn close = Real<CloseFn>("close");
    WriteFn write = Real<WriteFn>("write");
    PollFn poll = Real<PollFn>("poll");
    IoctlFn ioctl = Real<IoctlFn>("ioctl");
    ReadlinkFn readlink = Real<ReadlinkFn>("readlink");
};

// Constructed on first use too: a call may come from another library's
// initializer before this one's.
const RealCalls& Calls() {
    static const RealCalls calls;
    return calls;
}
[[maybe_unused]] const RealCalls& g_callsAtLoad = Calls();

OpenFn RealOpen() { return Calls().open; }
OpenFn RealOpen64() { return Calls().open64; }
OpenAtFn RealOpenAt() { return Calls().openat; }
OpenAtFn RealOpenAt64() { return Calls().openat64; }
CloseFn RealClose() { return Calls().close; }
WriteFn RealWrite() { return Calls().write; }
PollFn RealPoll() { return Calls().poll; }
IoctlFn RealIoctl() { return Calls().ioctl; }
ReadlinkFn RealReadlink() { return Calls().readlink; }

// The kernel's jiffy at HZ 250: the step of every driver sleep modelled here.
constexpr std::int64_t kTickNanoseconds = 4'000'000;

struct StandardRate {
    std::uint32_t rate;
    unsigned code;
};

constexpr StandardRate kRates[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::uint32_t BaudOf(const termios2& tio) {
    unsigned code = tio.c_cflag & CBAUD;
    if (code != BOTHER)
        for (const StandardRate& r : kRates)
            if (r.code == code)
                return r.rate;
    return tio.c_ospeed;
}

// Fills the frame fields of `event` from the settings.
void DescribeFrame(const termios2& tio, Event& event) {
    event.baud = BaudOf(tio);
    event.cflag = tio.c_cflag;
    switch (tio.c_cflag & CSIZE) {
    case CS5: event.dataBits = 5; break;
    case CS6: event.dataBits = 6; break;
    case CS7: event.dataBits = 7; break;
    default: event.dataBits = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        event.parity = 'N';
    else if (tio.c_cflag & CMSPAR)
        event.parity = (tio.c_cflag & PARODD) ? 'M' : 'S';
    else
        event.parity = (tio.c_cflag & PARODD) ? 'O' : 'E';
    // A UART sends one and a half stop bits for CSTOPB with five data bits.
    event.stopHalfBits = !(tio.c_cflag & CSTOPB) ? 2 : (event.dataBits == 5 ? 3 : 4);
}

std::int64_t CharacterNanoseconds(const Event& frame) {
    std::int64_t halfBits = 2 * (1 + frame.dataBits + (frame.parity != 'N' ? 1 : 0)) + frame.stopHalfBits;
    std::int64_t baud = std::max<std::uint32_t>(frame.baud, 1);
    return halfBits * 500'000'000LL / baud;
}

void SleepUntil(std::int64_t deadline) {
    timespec at{static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// What several processes see alike: the open count and TIOCEXCL live with
// the terminal, not with one descriptor.
struct Shared {
    std::atomic<int> opens{0};
    std::atomic<bool> exclusive{false};
};

constexpr int kMaxFd = 65536;

}  // namespace

struct Port::State {
    PortOptions options;
    int master = -1;
    int slave = -1;  // the transmitter's own descriptor
    std::string path;
    dev_t device = 0;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    struct Queued {
        std::uint8_t value;
        std::int64_t at;
    };
    std::deque<Queued> queue;
    bool shifting = false;
    std::int64_t lineFreeAt = 0;
    // When the transmitter last went busy and last went empty: what a
    // status packet sent at a given moment would have said.
    std::int64_t busySince = 0;
    std::int64_t emptySince = 0;
    termios2 tio{};
    int modem = 0;
    serial_icounter_struct counters{};
    bool rs485 = false;
    serial_rs485 rs485Config{};
    std::vector<Event> record;
    std::size_t bytesSent = 0;
    int roomFd = -1;
    int modemFd = -1;  // readable after an input line moved
    bool roomSignalled = false;
    bool vanished = false;
    bool stopping = false;
    int modemWaiters = 0;  // threads inside TIOCMIWAIT
    int modemWaitsBegun = 0;
    std::map<unsigned long, int> failures;
    unsigned long counterReads = 0;
    Shared* shared = nullptr;
    std::thread transmitter;

    // Called with `lock` held.
    void SignalModem() {
        std::uint64_t value = 1;
        (void)RealWrite()(modemFd, &value, sizeof value);
    }

    std::size_t Capacity() const { return options.transmitQueue + options.chipBuffer; }

    // What TIOCOUTQ counts: the driver's own queue, not what the chip holds
    // (uart_chars_in_buffer counts the circular buffer, not the FIFO;
    // usb_serial_generic_chars_in_buffer counts its fifo and the transfers
    // in flight, not what the adapter has acknowledged).
    int QueuedInDriver() const {
        std::size_t inDriver = queue.size() - std::min(queue.size(), options.chipBuffer);
        return static_cast<int>(inDriver) + (options.queueCountsShifter && shifting ? 1 : 0);
    }

    // The chip's status as its last packet before now reported it.
    bool EmptyAsLastReported() const {
        std::int64_t period = std::int64_t{options.lineStatusPeriodMicroseconds} * 1000;
        std::int64_t packet = Now() / period * period;
        if (TransmitterEmpty())
            return emptySince <= packet;
        return busySince > packet;
    }

    // A driver's interruptible sleep until `done`: a signal handled by this
    // thread ends it with EINTR, as schedule_timeout_interruptible followed
    // by signal_pending does. Called with `held` locked; 0 or an errno.
    template <typename Done>
    int SleepInterruptibly(std::unique_lock<std::mutex>& held, std::int64_t step, Done done) {
        while (!vanished && !done()) {
            held.unlock();
            timespec pause{0, static_cast<long>(step)};
            int result = ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
            held.lock();
            if (result == EINTR)
                return EINTR;
        }
        return vanished ? EIO : 0;
    }

    // TCSBRK's drain as the driver does it; 0 or an errno.
    int Drain(std::unique_lock<std::mutex>& held) {
        constexpr std::int64_t kCheck = 200'000;
        switch (options.drain) {
        case Drain::LastStopBit:
            return SleepInterruptibly(held, kCheck, [&] { return TransmitterEmpty(); });
        case Drain::DriverQueueOnly:
            // usb_serial_generic_wait_until_sent without tx_empty: only the
            // driver's queue is waited for, the adapter's buffer is not.
            return SleepInterruptibly(held, kCheck, [&] { return QueuedInDriver() == 0; });
        case Drain::PolledAtTick:
            // tty_wait_until_sent waits for the driver's queue, then
            // uart_wait_until_sent (or usb_serial_generic_wait_until_sent
            // with ftdi_tx_empty, cp210x_tx_empty) looks at the chip and
            // sleeps a jiffy between looks.
            if (int error = SleepInterruptibly(held, kCheck, [&] { return QueuedInDriver() == 0; }))
                return error;
            return SleepInterruptibly(held, kTickNanoseconds, [&] { return TransmitterEmpty(); });
        }
        return 0;
    }

    void UpdateRoom() {
        bool room = vanished || queue.size() < Capacity();
        std::uint64_t value = 1;
        if (room && !roomSignalled)
            roomSignalled = RealWrite()(roomFd, &value, sizeof value) == sizeof value;
        else if (!room && roomSignalled)
            roomSignalled = !(::read(roomFd, &value, sizeof value) == sizeof value);
    }

    // Called with `lock` held.
    void SetOutput(int line, bool raised, bool byDriver) {
        if (((modem & line) != 0) == raised)
            return;
        modem = raised ? (modem | line) : (modem & ~line);
        Event event{};
        if (line == TIOCM_RTS)
            event.kind = raised ? EventKind::RtsUp : EventKind::RtsDown;
        else
            event.kind = raised ? EventKind::DtrUp : EventKind::DtrDown;
        event.start = event.end = Now();
        event.byDriver = byDriver;
        record.push_back(event);
        changed.notify_all();
    }

    bool TransmitterEmpty() const { return queue.empty() && !shifting; }

    void Transmit() {
        std::unique_lock held(lock);
        for (;;) {
            changed.wait(held, [&] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            if (vanished) {
                queue.clear();
                continue;
            }
            bool driverRts = rs485 && (rs485Config.flags & SER_RS485_RTS_ON_SEND);
            bool rises = driverRts && !(modem & TIOCM_RTS);
            if (rises)
                SetOutput(TIOCM_RTS, true, true);
            Queued next = queue.front();
            queue.pop_front();
            shifting = true;
            UpdateRoom();
            Event byte{};
            byte.kind = EventKind::Byte;
            byte.value = next.value;
            DescribeFrame(tio, byte);
            byte.start = std::max(lineFreeAt, next.at);
            if (rises)
                byte.start = std::max(byte.start, Now());
            byte.end = byte.start + CharacterNanoseconds(byte);
            lineFreeAt = byte.end;
            held.unlock();
            SleepUntil(byte.end);
            (void)RealWrite()(slave, &byte.value, 1);
            held.lock();
            byte.shown = Now();
            record.push_back(byte);
            ++bytesSent;
            shifting = false;
            if (queue.empty())
                emptySince = byte.end;
            if (driverRts && queue.empty())
                SetOutput(TIOCM_RTS, false, true);
            changed.notify_all();
        }
    }
};

namespace {

std::mutex& Registry() {
    static std::mutex registry;
    return registry;
}
std::vector<Port::State*>& Ports() {
    static std::vector<Port::State*> ports;
    return ports;
}
std::atomic<Port::State*> g_byFd[kMaxFd];
std::atomic<int> g_portCount{0};

Port::State* Lookup(int fd) {
    if (fd < 0 || fd >= kMaxFd || g_portCount.load(std::memory_order_relaxed) == 0)
        return nullptr;
    return g_byFd[fd].load();
}

// A child made by fork() finds the emulator's locks free.
void LockAll() {
    Registry().lock();
    for (Port::State* port : Ports())
        port->lock.lock();
}
void UnlockAll() {
    for (Port::State* port : Ports())
        port->lock.unlock();
    Registry().unlock();
}
[[maybe_unused]] const int g_forkHandlers = ::pthread_atfork(LockAll, UnlockAll, UnlockAll);

// After the real open: takes the descriptor into the emulator when it names
// one of its ports. -1 with errno when the emulated driver refuses it.
int Adopt(int fd) {
    if (fd < 0 || fd >= kMaxFd || g_portCount.load() == 0)
        return fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return fd;
    Port::State* port = nullptr;
    {
        std::lock_guard registry(Registry());
        for (Port::State* candidate : Ports())
            if (candidate->device == info.st_rdev)
                port = candidate;
    }
    if (!port)
        return fd;
    if (port->shared->exclusive.load() && !port->options.privileged) {
        RealClose()(fd);
        errno = EBUSY;
        return -1;
    }
    if (port->shared->opens.fetch_add(1) == 0) {
        std::lock_guard held(port->lock);
        // Opening a terminal raises DTR and RTS, as the serial core does.
        if (BaudOf(port->tio) != 0) {
            port->SetOutput(TIOCM_DTR, true, false);
            port->SetOutput(TIOCM_RTS, true, false);
        }
    }
    g_byFd[fd].store(port);
    return fd;
}

void Release(Port::State* port) {
    if (port->shared->opens.fetch_sub(1) != 1)
        return;
    std::lock_guard held(port->lock);
    // The last close ends the terminal's session: TIOCEXCL goes, unsent
    // bytes are dropped and HUPCL lowers the modem lines.
    port->shared->exclusive = false;
    port->queue.clear();
    port->UpdateRoom();
    if (port->tio.c_cflag & HUPCL) {
        port->SetOutput(TIOCM_DTR, false, false);
        port->SetOutput(TIOCM_RTS, false, false);
    }
    port->changed.notify_all();
}

int Fail(int error) {
    errno = error;
    return -1;
}

int EmulatedIoctl(Port::State* port, int fd, unsigned long request, void* arg) {
    std::unique_lock held(port->lock);
    auto failure = port->failures.find(request);
    if (failure != port->failures.end()) {
        int error = failure->second;
        port->failures.erase(failure);
        return Fail(error);
    }
    if (port->vanished)
        return Fail(EIO);
    switch (request) {
    case TIOCMGET:
        *static_cast<int*>(arg) = port->modem;
        return 0;
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET: {
        int bits = *static_cast<int*>(arg);
        for (int line : {TIOCM_RTS, TIOCM_DTR}) {
            if (request == TIOCMSET)
                port->SetOutput(line, (bits & line) != 0, false);
            else if (bits & line)
                port->SetOutput(line, request == TIOCMBIS, false);
        }
        return 0;
    }
    case TIOCGICOUNT: {
        // usb-serial's serial_get_icount without the driver's get_icount.
        if (!port->options.counters)
            return Fail(ENOTTY);
        serial_icounter_struct copy = port->counters;
        bool slow = (++port->counterReads % 2) == 0;
        held.unlock();
        if (slow && port->options.counterReadDelayMicroseconds > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(port->options.counterReadDelayMicroseconds));
        *static_cast<serial_icounter_struct*>(arg) = copy;
        return 0;
    }
    case TIOCMIWAIT: {
        // usb-serial's serial_ioctl without the driver's tiocmiwait.
        if (!port->options.modemWait)
            return Fail(ENOTTY);
        unsigned long lines = reinterpret_cast<unsigned long>(arg);
        serial_icounter_struct before = port->counters;
        auto moved = [&] {
            const serial_icounter_struct& now = port->counters;
            return port->vanished || port->stopping || ((lines & TIOCM_CTS) && now.cts != before.cts) ||
                   ((lines & TIOCM_DSR) && now.dsr != before.dsr) ||
                   ((lines & TIOCM_CAR) && now.dcd != before.dcd) ||
                   ((lines & TIOCM_RNG) && now.rng != before.rng);
        };
        // As the driver's wait, a signal ends it with EINTR. The port is
        // not destroyed while a thread waits here.
        ++port->modemWaiters;
        ++port->modemWaitsBegun;
        port->changed.notify_all();
        int error = 0;
        while (!moved()) {
            held.unlock();
            pollfd change{port->modemFd, POLLIN, 0};
            int ready = RealPoll()(&change, 1, -1);
            int pollError = errno;
            std::uint64_t value = 0;
            if (ready > 0)
                (void)::read(port->modemFd, &value, sizeof value);
            held.lock();
            if (ready < 0) {
                error = pollError;
                break;
            }
        }
        if (error == 0 && (port->vanished || port->stopping))
            error = EIO;
        --port->modemWaiters;
        port->changed.notify_all();
        return error ? Fail(error) : 0;
    }
    case TIOCOUTQ:
        *static_cast<int*>(arg) = port->QueuedInDriver();
        return 0;
    case TIOCSERGETLSR:
        switch (port->options.lineStatus) {
        case LineStatus::Live:  // uart_get_lsr_info: the chip's own TEMT
            *static_cast<unsigned*>(arg) = port->TransmitterEmpty() ? TIOCSER_TEMT : 0;
            return 0;
        case LineStatus::Cached:  // ftdi_process_packet keeps TEMT from each status packet
            *static_cast<unsigned*>(arg) = port->EmptyAsLastReported() ? TIOCSER_TEMT : 0;
            return 0;
        case LineStatus::Refused:
            return Fail(ENOTTY);
        }
        return Fail(ENOTTY);
    case TCSBRK:
    case TCSBRKP: {
        // Both drain first; a break itself is not modelled. tty_ioctl's
        // drain sleeps interruptibly and a signal ends it with EINTR, which
        // is not restarted.
        int error = port->Drain(held);
        return error ? Fail(error) : 0;
    }
    case TIOCGEXCL:  // tty_ioctl answers it for every driver
        *static_cast<int*>(arg) = port->shared->exclusive.load() ? 1 : 0;
        return 0;
    case TCFLSH: {
        long which = reinterpret_cast<long>(arg);
        if (which == TCOFLUSH || which == TCIOFLUSH) {
            port->queue.clear();
            port->UpdateRoom();
            port->changed.notify_all();
        }
        held.unlock();
        return RealIoctl()(fd, request, arg);
    }
    case TCGETS2:
        *static_cast<termios2*>(arg) = port->tio;
        return 0;
    case TCSETSW2:
    case TCSETSF2:
        if (int error = port->Drain(held))
            return Fail(error);
        [[fallthrough]];
    case TCSETS2: {
        // ftdi_sio refuses six data bits (five on chips without its CS5
        // quirk): the call fails with EINVAL and the line keeps its size.
        const tcflag_t size = static_cast<const termios2*>(arg)->c_cflag & CSIZE;
        if (port->options.revertsShortCharacters && (size == CS6 || (size == CS5 && !port->options.takesFiveDataBits)))
            return Fail(EINVAL);
        port->tio = *static_cast<const termios2*>(arg);
        Event event{};
        event.kind = EventKind::Termios;
        event.start = event.end = Now();
        DescribeFrame(port->tio, event);
        port->record.push_back(event);
        // The terminal below takes the same settings so its line discipline
        // is raw too; it keeps only what a pseudo-terminal can.
        held.unlock();
        (void)RealIoctl()(fd, TCSETS2, arg);
        return 0;
    }
    case TIOCSRS485: {
        if (!port->options.acceptRs485)
            return Fail(ENOTTY);
        port->rs485Config = *static_cast<const serial_rs485*>(arg);
        port->rs485 = (port->rs485Config.flags & SER_RS485_ENABLED) != 0;
        if (port->rs485 && (port->rs485Config.flags & SER_RS485_RTS_ON_SEND))
            port->SetOutput(TIOCM_RTS, false, true);  // idle: receiving
        return 0;
    }
    case TIOCGRS485:
        if (!port->options.acceptRs485 && !port->options.answersRs485Query)
            return Fail(ENOTTY);
        *static_cast<serial_rs485*>(arg) = port->rs485Config;
        return 0;
    case TIOCEXCL:
        port->shared->exclusive = true;
        return 0;
    case TIOCNXCL:
        port->shared->exclusive = false;
        return 0;
    default:
        held.unlock();
        return RealIoctl()(fd, request, arg);
    }
}

}  // namespace

std::int64_t Now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

Port::Port(const PortOptions& options) : state_(new State) {
    State& s = *state_;
    s.options = options;
    sio::PseudoTerminal pty = sio::OpenPseudoTerminal();
    s.path = pty.slavePath;
    s.master = pty.master.release();
    s.slave = RealOpen()(s.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (s.slave < 0 || ::fstat(s.slave, &info) != 0)
        throw std::runtime_error("no slave side");
    s.device = info.st_rdev;
    if (RealIoctl()(s.slave, TCGETS2, &s.tio) != 0)
        throw std::runtime_error("no termios2");
    void* shared = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        throw std::runtime_error("no shared memory");
    s.shared = new (shared) Shared;
    s.roomFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    s.modemFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.roomFd < 0 || s.modemFd < 0)
        throw std::runtime_error("no eventfd");
    {
        std::lock_guard held(s.lock);
        s.UpdateRoom();
    }
    s.transmitter = std::thread([&s] { s.Transmit(); });
    std::lock_guard registry(Registry());
    Ports().push_back(state_);
    ++g_portCount;
}

Port::~Port() {
    {
        std::lock_guard registry(Registry());
        Ports().erase(std::find(Ports().begin(), Ports().end(), state_));
        for (auto& entry : g_byFd) {
            State* expected = state_;
            entry.compare_exchange_strong(expected, nullptr);
        }
        --g_portCount;
    }
    {
        std::unique_lock held(state_->lock);
        state_->stopping = true;
        state_->SignalModem();
        state_->changed.notify_all();
        state_->changed.wait(held, [&] { return state_->modemWaiters == 0; });
    }
    state_->transmitter.join();
    RealClose()(state_->roomFd);
    RealClose()(state_->modemFd);
    RealClose()(state_->slave);
    if (state_->master >= 0)
        RealClose()(state_->master);
    ::munmap(state_->shared, sizeof(Shared));
    delete state_;
}

const std::string& Port::Path() const { return state_->path; }
int Port::Master() const { return state_->master; }

void Port::SetInput(int line, bool raised) {
    std::lock_guard held(state_->lock);
    int& modem = state_->modem;
    if (((modem & line) != 0) == raised)
        return;
    modem = raised ? (modem | line) : (modem & ~line);
    serial_icounter_struct& c = state_->counters;
    if (line == TIOCM_CTS)
        ++c.cts;
    else if (line == TIOCM_DSR)
        ++c.dsr;
    else if (line == TIOCM_CAR)
        ++c.dcd;
    else if (line == TIOCM_RNG && !raised)
        ++c.rng;  // the 8250 counts the ring indicator's trailing edge
    state_->SignalModem();
    state_->changed.notify_all();
}

void Port::Inject(LineError error) {
    std::lock_guard held(state_->lock);
    serial_icounter_struct& c = state_->counters;
    switch (error) {
    case LineError::Frame: ++c.frame; break;
    case LineError::Parity: ++c.parity; break;
    case LineError::Overrun: ++c.overrun; break;
    case LineError::Break: ++c.brk; break;
    case LineError::BufferOverrun: ++c.buf_overrun; break;
    }
    state_->changed.notify_all();
}

void Port::RestartCounters() {
    std::lock_guard held(state_->lock);
    state_->counters = {};
    state_->changed.notify_all();
}

void Port::FailNext(unsigned long request, int error) {
    std::lock_guard held(state_->lock);
    state_->failures[request] = error;
}

void Port::Vanish() {
    std::lock_guard held(state_->lock);
    state_->vanished = true;
    state_->SignalModem();
    state_->queue.clear();
    state_->UpdateRoom();
    state_->changed.notify_all();
    // Closing the master hangs the slave up: its descriptors see POLLHUP
    // and EIO from the kernel itself.
    RealClose()(state_->master);
    state_->master = -1;
}

bool Port::Rts() const {
    std::lock_guard held(state_->lock);
    return state_->modem & TIOCM_RTS;
}
bool Port::Dtr() const {
    std::lock_guard held(state_->lock);
    return state_->modem & TIOCM_DTR;
}
bool Port::Exclusive() const { return state_->shared->exclusive.load(); }

std::vector<Event> Port::Record() const {
    std::vector<Event> record;
    {
        std::lock_guard held(state_->lock);
        record = state_->record;
    }
    // A character is recorded once it has left, which a busy machine can
    // make later than an RTS change that came after its last stop bit.
    std::stable_sort(record.begin(), record.end(),
                     [](const Event& a, const Event& b) { return a.start < b.start; });
    return record;
}

void Port::ClearRecord() {
    std::lock_guard held(state_->lock);
    state_->record.clear();
    state_->bytesSent = 0;
}

bool Port::WaitForBytes(std::size_t count, int timeoutMs) const {
    std::unique_lock held(state_->lock);
    return state_->changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->bytesSent >= count; });
}

bool Port::WaitUntilIdle(int timeoutMs) const {
    std::unique_lock held(state_->lock);
    return state_->changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->TransmitterEmpty(); });
}

bool Port::WaitForModemWaits(int count, int timeoutMs) const {
    std::unique_lock held(state_->lock);
    return state_->changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->modemWaitsBegun >= count; });
}

bool Port::WaitForEvent(EventKind kind, int occurrences, int timeoutMs) const {
    std::unique_lock held(state_->lock);
    return state_->changed.wait_for(held, std::chrono::milliseconds(timeoutMs), [&] {
        return std::count_if(state_->record.begin(), state_->record.end(),
                             [&](const Event& e) { return e.kind == kind; }) >= occurrences;
    });
}

}  // namespace uartemu

// ---- The interposed calls ----

using uartemu::Adopt;
using uartemu::Lookup;

namespace {

mode_t ModeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Adopt(uartemu::RealOpen()(path, flags, mode));
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Adopt(uartemu::RealOpen64()(path, flags, mode));
}

int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Adopt(uartemu::RealOpenAt()(dir, path, flags, mode));
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Adopt(uartemu::RealOpenAt64()(dir, path, flags, mode));
}

int close(int fd) {
    if (uartemu::Port::State* port = Lookup(fd)) {
        if (uartemu::g_byFd[fd].exchange(nullptr) == port)
            uartemu::Release(port);
    }
    return uartemu::RealClose()(fd);
}

ssize_t write(int fd, const void* data, size_t n) {
    uartemu::Port::State* port = Lookup(fd);
    if (!port)
        return uartemu::RealWrite()(fd, data, n);
    std::lock_guard held(port->lock);
    if (port->vanished)
        return uartemu::Fail(EIO);
    // The driver's buffer takes what fits; a full buffer answers as a
    // non-blocking descriptor does (the device layer opens it so).
    std::size_t room = port->Capacity() - std::min(port->Capacity(), port->queue.size());
    if (n == 0)
        return 0;
    if (room == 0)
        return uartemu::Fail(EAGAIN);
    std::size_t taken = std::min(room, n);
    std::int64_t at = uartemu::Now();
    if (port->TransmitterEmpty()) {
        port->busySince = at;
        // An idle USB chip starts at its next frame.
        if (std::int64_t frame = std::int64_t{port->options.startLatencyMicroseconds} * 1000)
            at += frame - at % frame;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < taken; ++i)
        port->queue.push_back({bytes[i], at});
    port->UpdateRoom();
    port->changed.notify_all();
    return static_cast<ssize_t>(taken);
}

int poll(pollfd* fds, nfds_t n, int timeout) {
    bool emulated = false;
    for (nfds_t i = 0; i < n; ++i)
        if ((fds[i].events & POLLOUT) && Lookup(fds[i].fd))
            emulated = true;
    if (!emulated)
        return uartemu::RealPoll()(fds, n, timeout);
    // The terminal below always has room; the emulated driver's buffer is
    // what decides, so POLLOUT is asked of its room signal instead.
    std::vector<pollfd> wide(fds, fds + n);
    std::vector<int> roomAt(n, -1);
    for (nfds_t i = 0; i < n; ++i) {
        uartemu::Port::State* port = (fds[i].events & POLLOUT) ? Lookup(fds[i].fd) : nullptr;
        if (!port)
            continue;
        wide[i].events &= ~POLLOUT;
        roomAt[i] = static_cast<int>(wide.size());
        wide.push_back({port->roomFd, POLLIN, 0});
    }
    int ready = uartemu::RealPoll()(wide.data(), wide.size(), timeout);
    if (ready < 0)
        return ready;
    int count = 0;
    for (nfds_t i = 0; i < n; ++i) {
        fds[i].revents = wide[i].revents;
        if (roomAt[i] >= 0 && (wide[static_cast<std::size_t>(roomAt[i])].revents & POLLIN))
            fds[i].revents |= POLLOUT;
        if (fds[i].revents)
            ++count;
    }
    return count;
}

// The driver's name, as sysfs links a character device to its driver.
static ssize_t EmulatedReadlink(const char* path, char* buffer, size_t size) {
    unsigned major = 0, minor = 0;
    int end = 0;
    if (uartemu::g_portCount.load() > 0 &&
        std::sscanf(path, "/sys/dev/char/%u:%u/device/driver%n", &major, &minor, &end) == 2 &&
        path[end] == '\0') {
        std::lock_guard registry(uartemu::Registry());
        for (uartemu::Port::State* port : uartemu::Ports()) {
            if (port->device != makedev(major, minor))
                continue;
            if (!port->options.driver)
                return uartemu::Fail(ENOENT);
            std::string target = std::string("../../../bus/platform/drivers/") + port->options.driver;
            std::size_t n = std::min(size, target.size());
            std::memcpy(buffer, target.data(), n);
            return static_cast<ssize_t>(n);
        }
    }
    return uartemu::RealReadlink()(path, buffer, size);
}

ssize_t readlink(const char* path, char* buffer, size_t size) { return EmulatedReadlink(path, buffer, size); }
ssize_t __readlink_chk(const char* path, char* buffer, size_t size, size_t) {
    return EmulatedReadlink(path, buffer, size);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (uartemu::Port::State* port = Lookup(fd))
        return uartemu::EmulatedIoctl(port, fd, request, arg);
    return uartemu::RealIoctl()(fd, request, arg);
}

}  // extern "C"
