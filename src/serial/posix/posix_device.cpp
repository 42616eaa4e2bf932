#include "serial/posix/posix_device.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "serial/posix/port_map.h"
#include "serial/posix/system_error.h"
#include "serial/posix/termios_line.h"
#include "serial/errors/result_codes.h"

namespace sio {

namespace {

// How often line events are sampled where the driver keeps modem lines and
// error counters but cannot report their changes, and how often bytes left
// unread are looked at again.
constexpr int kSampleMilliseconds = 50;
// Where the driver reports modem-line changes, only the error counters are
// sampled, at this pace; an error usually comes with received bytes, which
// wake the worker anyway.
constexpr int kErrorSampleMilliseconds = 1000;
// After the watch reported a change, the lines are looked at once more this
// soon: a change made between two of the driver's waits, before the next
// one took its snapshot, is otherwise seen only at the next sample.
constexpr int kRecheckMilliseconds = 2;

// What is left to the driver's drain: a purge or close waits at most this
// long for the output worker.
constexpr std::uint64_t kDrainMicroseconds = 50'000;

// Where the drain is asked after the baud clock's floor, it is asked this
// much later still: a chip a little behind the clock otherwise costs a whole
// jiffy's sleep in the drain (asked at the floor itself, the worst frames in
// uart_bench fell 4-5 ms late; with this margin, 1.5-2 ms).
constexpr std::int64_t kDrainLookMargin = 300'000;

// Bounds the wait for the transmitter's FIFO and shift register to empty,
// in characters (the deepest 8250-family FIFO) on top of 20 ms.
constexpr std::int64_t kMaxLineStatusCharacters = 128;

constexpr std::uint32_t kLineEventBits = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;

// The events a driver counter shows since `base`. The counters only grow
// (and wrap) until the driver starts them again from 0 (a driver restart,
// an adapter plugged in again): a counter below its base has been restarted,
// and what it holds now is all new.
std::uint32_t CountedSince(int base, int now) {
    auto step = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(base));
    return step >= 0 ? static_cast<std::uint32_t>(step) : static_cast<std::uint32_t>(now);
}

// True when the counter shows events since `base`, which then becomes `now`.
bool Advanced(int& base, int now) {
    bool counted = CountedSince(base, now) != 0;
    base = now;
    return counted;
}

bool IsHangUp(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::int64_t MonotonicNow() {
    timespec now{};
    (void)::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// One read or write on the non-blocking descriptor, asked again when a
// signal interrupted it: the bytes moved, 0 when none can move now, or minus
// a Windows error.
template <typename Call>
int NonBlocking(Call call) {
    for (;;) {
        ssize_t count = call();
        if (count >= 0)
            return static_cast<int>(count);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        return -SystemError(errno);
    }
}

// An ioctl that a handled signal may interrupt, asked again until it answers.
template <typename Arg>
int IoctlRetried(int fd, unsigned long request, Arg arg) {
    for (;;) {
        int result = ::ioctl(fd, request, arg);
        if (result == 0 || errno != EINTR)
            return result;
    }
}

}  // namespace

PosixSerialDevice::PosixSerialDevice() = default;

PosixSerialDevice::PosixSerialDevice(int adoptedFd) : adopting_(true) {
    if (adoptedFd > 0)
        adopted_.reset(adoptedFd);
}

PosixSerialDevice::~PosixSerialDevice() {
    CloseHandle();
}

int PosixSerialDevice::Open(const std::string& name) {
    std::unique_lock use(useLock_);
    if (open_)
        return -ERROR_ACCESS_DENIED;
    if (adopting_)
        return OpenAdopted();
    std::string path = PortPath(PortNumberFromName(name));
    if (path.empty())
        return -ERROR_FILE_NOT_FOUND;
    return OpenPath(path);
}

int PosixSerialDevice::OpenPath(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return -SystemError(errno, true);
    // A regular file, a directory's neighbour or /dev/null is no serial port.
    if (!::isatty(fd.get()))
        return -ERROR_FILE_NOT_FOUND;
    // Whether another program holds the port is asked before anything
    // touches it: a port in use keeps its settings and its queues. Programs
    // mark a port they hold by flock, by TIOCEXCL or by a lock file. Root's
    // open is not refused by TIOCEXCL, so the flag is asked for.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return -SystemError(errno, true);
    int heldExclusive = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &heldExclusive) == 0 && heldExclusive != 0)
        return -ERROR_ACCESS_DENIED;
    if (uucpLock_.Acquire(path) == UucpLock::Outcome::InUse)
        return -ERROR_ACCESS_DENIED;

    auto saved = std::make_unique<termios2>();
    if (int error = ReadTermios(fd.get(), *saved)) {
        uucpLock_.Release();
        return -SystemError(error, true);
    }
    savedLine_ = std::move(saved);
    (void)::ioctl(fd.get(), TIOCEXCL);
    std::string driver = DriverNameOf(fd.get());
    int result = PrepareOpened(fd.get(), *savedLine_, KindOf(driver));
    if (result == 0)
        result = TakeIntoService(std::move(fd), true, driver);
    if (result < 0) {
        if (fd)
            GiveBack(fd.get(), true);
        uucpLock_.Release();
    }
    return result;
}

int PosixSerialDevice::PrepareOpened(int fd, const termios2& before, TerminalKind kind) {
    // A Windows handle is always binary and starts with empty queues; a
    // fresh terminal edits lines and may hold old bytes.
    termios2 tio = before;
    MakeRaw(tio);
    if (int error = ChangeTermios(fd, before, tio, kind))
        return -error;
    if (::ioctl(fd, TCFLSH, TCIOFLUSH) != 0)
        return -SystemError(errno, true);
    return 0;
}

// The terminal as the open found it, for a failed open and the close: its
// settings put back, and TIOCEXCL cleared, which belongs to the terminal,
// not to our descriptor: while another process holds the terminal it would
// outlive us and shut every later opener out.
void PosixSerialDevice::GiveBack(int fd, bool exclusive) {
    if (savedLine_)
        (void)IoctlRetried(fd, TCSETS2, savedLine_.get());
    savedLine_.reset();
    if (exclusive)
        (void)::ioctl(fd, TIOCNXCL);
}

int PosixSerialDevice::OpenAdopted() {
    if (!adopted_)
        return ecCommNotOpen;
    int flags = ::fcntl(adopted_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(adopted_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return -SystemError(errno, true);
    std::string driver = DriverNameOf(adopted_.get());
    return TakeIntoService(std::move(adopted_), false, driver);
}

int PosixSerialDevice::TakeIntoService(UniqueFd fd, bool exclusive, const std::string& driver) {
    if (eventWake_.Create() != 0 || writeWake_.Create() != 0) {
        eventWake_.Destroy();
        writeWake_.Destroy();
        GiveBack(fd.get(), exclusive);
        return -ERROR_NOT_ENOUGH_MEMORY;
    }
    fd_ = std::move(fd);
    exclusive_ = exclusive;

    int modem = 0;
    serial_icounter_struct counters{};
    modemLinesKnown_ = ::ioctl(fd_.get(), TIOCMGET, &modem) == 0;
    countersKnown_ = ::ioctl(fd_.get(), TIOCGICOUNT, &counters) == 0;
    if (modemLinesKnown_ && countersKnown_)
        (void)lineWatch_.Start(fd_.get());  // without it, the lines are sampled
    eventBase_ = SampleLines();
    {
        std::lock_guard errors(errorLock_);
        errorBase_ = eventBase_;
    }

    termios2 tio{};
    bool known = ReadTermios(fd_.get(), tio) == 0;
    {
        std::lock_guard line(lineLock_);
        shadow_ = known ? InitialLineRecord(tio) : DCB{};
        rs485Kernel_ = false;
    }
    baudRate_ = known ? BaudRateOf(tio) : 9600;
    transmitterMayBeHeld_ = known && TransmitterMayBeHeld(tio);
    if (known)
        characterNanoseconds_ = CharacterNanoseconds(tio);
    tracking_ = TrackingFor(driver);
    terminalKind_ = KindOf(driver);
    wireFreeAt_ = 0;
    rs485Emulated_ = false;
    rtsHeldForSending_ = false;
    hangUpSeen_ = false;
    hangUpReported_ = false;
    recheckAt_ = 0;
    eventMask_ = 0;
    bytesRead_ = 0;
    rxAnnounced_ = 0;
    open_ = true;
    return fd_.get();
}

int PosixSerialDevice::CloseHandle() {
    if (!open_.exchange(false))
        return -1;
    // Waits see the closed state as soon as they wake.
    eventWake_.Signal();
    writeWake_.Signal();
    // The watcher waits in the driver on this descriptor; its stop is
    // bounded and takes no lock, so it comes before ours.
    lineWatch_.Stop();
    std::unique_lock use(useLock_);
    GiveBack(fd_.get(), exclusive_);
    int result = ::close(fd_.release());
    int error = errno;
    // Only once the terminal is free: a program waiting for the lock to go
    // may open it at once.
    uucpLock_.Release();
    eventWake_.Destroy();
    writeWake_.Destroy();
    // Linux releases the descriptor even when close reports an error.
    return (result == 0 || error == EINTR) ? 0 : -1;
}

int PosixSerialDevice::SetupQueues(int, int) {
    return open_ ? 0 : -ERROR_INVALID_HANDLE;
}

int PosixSerialDevice::GetLine(DCB& record) {
    UseGuard use(*this);
    if (!use)
        return -1;
    termios2 tio{};
    if (ReadTermios(fd_.get(), tio) != 0)
        return -1;
    std::lock_guard line(lineLock_);
    record = LineRecordFromTermios(tio, shadow_);
    return 0;
}

int PosixSerialDevice::SetLine(const DCB& record) {
    UseGuard use(*this);
    if (!use)
        return -use.Refusal();
    std::lock_guard line(lineLock_);
    if (int error = WriteLineSettings(fd_.get(), record, terminalKind_))
        return -error;

    // Windows applies the DTR and RTS control of the block to the lines.
    if (record.fDtrControl == DTR_CONTROL_ENABLE)
        SetModemLine(TIOCM_DTR, true);
    else if (record.fDtrControl == DTR_CONTROL_DISABLE)
        SetModemLine(TIOCM_DTR, false);
    SwitchRs485(record.fRtsControl == RTS_CONTROL_TOGGLE);
    if (record.fRtsControl == RTS_CONTROL_ENABLE)
        SetModemLine(TIOCM_RTS, true);
    else if (record.fRtsControl == RTS_CONTROL_DISABLE)
        SetModemLine(TIOCM_RTS, false);

    shadow_ = record;
    termios2 tio{};
    if (ReadTermios(fd_.get(), tio) == 0) {
        transmitterMayBeHeld_ = TransmitterMayBeHeld(tio);
        characterNanoseconds_ = CharacterNanoseconds(tio);
    }
    baudRate_ = record.BaudRate;
    return 0;
}

// Called with lineLock_ held.
void PosixSerialDevice::SwitchRs485(bool on) {
    bool active = rs485Kernel_ || rs485Emulated_;
    if (on == active)
        return;
    if (!on) {
        if (rs485Kernel_) {
            serial_rs485 off{};
            (void)::ioctl(fd_.get(), TIOCSRS485, &off);
        }
        rs485Kernel_ = false;
        rs485Emulated_ = false;
        return;
    }
    // The driver toggles RTS itself where it can: RTS high while sending,
    // low after, no delays.
    serial_rs485 config{};
    config.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    serial_rs485 held{};
    if (::ioctl(fd_.get(), TIOCSRS485, &config) == 0 &&
        ::ioctl(fd_.get(), TIOCGRS485, &held) == 0 && (held.flags & SER_RS485_ENABLED)) {
        rs485Kernel_ = true;
        return;
    }
    // Pseudo-terminals and most USB adapters refuse; the output worker
    // raises RTS around each run instead, and the line idles with RTS low.
    rs485Emulated_ = true;
    SetModemLine(TIOCM_RTS, false);
}

void PosixSerialDevice::SetModemLine(int line, bool raised) {
    // Ptys refuse every modem-line request; a line we cannot drive is
    // ignored, as EscapeCommFunction's result is, and a device that had no
    // modem lines at open is not asked again.
    if (!modemLinesKnown_)
        return;
    (void)::ioctl(fd_.get(), raised ? TIOCMBIS : TIOCMBIC, &line);
}

int PosixSerialDevice::Escape(int code) {
    UseGuard use(*this);
    if (!use)
        return 0;
    bool rs485;
    {
        std::lock_guard line(lineLock_);
        rs485 = rs485Kernel_ || rs485Emulated_;
    }
    switch (code) {
    case SETRTS:
    case CLRRTS:
        // In RS-485 mode RTS belongs to the transmitter.
        if (!rs485)
            SetModemLine(TIOCM_RTS, code == SETRTS);
        break;
    case SETDTR:
    case CLRDTR:
        SetModemLine(TIOCM_DTR, code == SETDTR);
        break;
    default:
        break;
    }
    return 0;
}

int PosixSerialDevice::BytesWaiting() const {
    int waiting = 0;
    if (::ioctl(fd_.get(), FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return waiting;
}

std::uint32_t PosixSerialDevice::ClearErrors(COMSTAT& status) {
    status.cbInQue = 0;
    UseGuard use(*this);
    if (!use)
        return 0;
    status.cbInQue = static_cast<std::uint32_t>(BytesWaiting());
    if (!countersKnown_)
        return 0;
    // The owner (QueueBlock) and the dispatch pass both come here: the
    // sample is taken under the lock, and only a counter that moved past
    // the baseline counts, so a sample that lost the race to the lock can
    // neither move the baseline back nor report an error a second time.
    std::lock_guard errors(errorLock_);
    LineSample now = SampleLines();
    if (!now.haveCounters)
        return 0;
    std::uint32_t bits = 0;
    if (Advanced(errorBase_.bufOverrun, now.bufOverrun))
        bits |= CE_RXOVER;
    if (Advanced(errorBase_.overrun, now.overrun))
        bits |= CE_OVERRUN;
    if (Advanced(errorBase_.parity, now.parity))
        bits |= CE_RXPARITY;
    if (Advanced(errorBase_.frame, now.frame))
        bits |= CE_FRAME;
    if (Advanced(errorBase_.brk, now.brk))
        bits |= CE_BREAK;
    return bits;
}

std::uint32_t PosixSerialDevice::ModemStatus() {
    UseGuard use(*this);
    if (!use || !modemLinesKnown_)
        return 0;
    int modem = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &modem) != 0)
        return 0;
    std::uint32_t status = 0;
    if (modem & TIOCM_CTS)
        status |= MS_CTS_ON;
    if (modem & TIOCM_DSR)
        status |= MS_DSR_ON;
    if (modem & TIOCM_RNG)
        status |= MS_RING_ON;
    if (modem & TIOCM_CAR)
        status |= MS_RLSD_ON;
    return status;
}

int PosixSerialDevice::Read(char* buffer, int n) {
    UseGuard use(*this);
    if (!use)
        return -use.Refusal();
    if (n <= 0)
        return 0;
    int count = NonBlocking([&] { return ::read(fd_.get(), buffer, static_cast<size_t>(n)); });
    if (count > 0)
        bytesRead_ += static_cast<std::uint64_t>(count);
    return count;
}

void PosixSerialDevice::SetEventMask(std::uint32_t mask) {
    eventMask_ = mask;
    if (mask != 0)
        return;
    std::shared_lock use(useLock_);
    if (open_)
        eventWake_.Signal();
}

PosixSerialDevice::LineSample PosixSerialDevice::SampleLines() const {
    LineSample sample;
    if (modemLinesKnown_)
        sample.haveModem = ::ioctl(fd_.get(), TIOCMGET, &sample.modem) == 0;
    serial_icounter_struct counters{};
    if (countersKnown_ && ::ioctl(fd_.get(), TIOCGICOUNT, &counters) == 0) {
        sample.haveCounters = true;
        sample.cts = counters.cts;
        sample.dsr = counters.dsr;
        sample.rng = counters.rng;
        sample.dcd = counters.dcd;
        sample.frame = counters.frame;
        sample.overrun = counters.overrun;
        sample.parity = counters.parity;
        sample.brk = counters.brk;
        sample.bufOverrun = counters.buf_overrun;
    }
    return sample;
}

std::uint32_t PosixSerialDevice::LineEvents(const LineSample& before, const LineSample& now) {
    std::uint32_t events = 0;
    if (before.haveModem && now.haveModem) {
        int changed = before.modem ^ now.modem;
        if (changed & TIOCM_CTS)
            events |= EV_CTS;
        if (changed & TIOCM_DSR)
            events |= EV_DSR;
        if (changed & TIOCM_CAR)
            events |= EV_RLSD;
        if (changed & TIOCM_RNG)
            events |= EV_RING;
    }
    // The counters also catch a pulse shorter than the sampling interval.
    if (before.haveCounters && now.haveCounters) {
        if (CountedSince(before.cts, now.cts))
            events |= EV_CTS;
        if (CountedSince(before.dsr, now.dsr))
            events |= EV_DSR;
        if (CountedSince(before.dcd, now.dcd))
            events |= EV_RLSD;
        if (CountedSince(before.rng, now.rng))
            events |= EV_RING;
        if (CountedSince(before.brk, now.brk))
            events |= EV_BREAK;
        if (CountedSince(before.frame, now.frame) || CountedSince(before.overrun, now.overrun) ||
            CountedSince(before.parity, now.parity) || CountedSince(before.bufOverrun, now.bufOverrun))
            events |= EV_ERR;
    }
    return events;
}

int PosixSerialDevice::ReportHangUp(std::uint32_t& mask) {
    if (hangUpReported_)
        return -ERROR_GEN_FAILURE;
    hangUpReported_ = true;
    mask = EV_ERR;
    return 1;
}

int PosixSerialDevice::WaitEvent(std::uint32_t& mask) {
    mask = 0;
    std::shared_lock use(useLock_);
    if (!open_)
        return -ERROR_INVALID_HANDLE;
    for (;;) {
        // A hung-up descriptor reports POLLHUP at once, for ever: after the
        // one report this thread leaves it alone instead of spinning on it.
        if (hangUpSeen_)
            return ReportHangUp(mask);
        std::uint32_t wanted = eventMask_;
        if (wanted == 0) {
            eventWake_.Consume();
            return 0;
        }

        std::uint32_t seen = 0;
        int timeout = -1;
        if ((wanted & kLineEventBits) && (modemLinesKnown_ || countersKnown_)) {
            LineSample now = SampleLines();
            seen |= LineEvents(eventBase_, now) & wanted;
            eventBase_ = now;
            // The second look stays due across a return: the first sample
            // after a wake-up usually reports, and the change it must catch
            // comes after it.
            std::int64_t clock = MonotonicNow();
            if (recheckAt_ != 0 && clock >= recheckAt_)
                recheckAt_ = 0;
            timeout = !lineWatch_.Watching() ? kSampleMilliseconds
                      : recheckAt_ != 0 ? static_cast<int>((recheckAt_ - clock + 999'999) / 1'000'000)
                                        : kErrorSampleMilliseconds;
        }
        bool watchInput = false;
        if (wanted & EV_RXCHAR) {
            // Bytes read first: a read racing the FIONREAD can then only make
            // the sum too small, which costs at most an extra report or one
            // sampling interval of delay, never a lost report.
            std::uint64_t read = bytesRead_;
            int waiting = BytesWaiting();
            std::uint64_t arrived = read + static_cast<std::uint64_t>(waiting);
            if (waiting == 0) {
                watchInput = true;
            } else if (arrived > rxAnnounced_) {
                rxAnnounced_ = arrived;
                seen |= EV_RXCHAR;
            } else {
                // Bytes the dispatcher left unread keep the descriptor
                // readable; look again later for new ones instead.
                timeout = timeout < 0 ? kSampleMilliseconds : std::min(timeout, kSampleMilliseconds);
            }
        }
        if (seen != 0) {
            mask = seen;
            return 1;
        }

        bool watchLines = (wanted & kLineEventBits) && lineWatch_.fd() >= 0;
        pollfd fds[3] = {{fd_.get(), static_cast<short>(watchInput ? POLLIN : 0), 0},
                         {eventWake_.fd(), POLLIN, 0},
                         {watchLines ? lineWatch_.fd() : -1, POLLIN, 0}};
        int ready = ::poll(fds, 3, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -SystemError(errno);
        }
        if (IsHangUp(fds[0].revents)) {
            hangUpSeen_ = true;
            continue;
        }
        if (fds[1].revents & POLLIN) {
            eventWake_.Consume();
            return 0;
        }
        if (fds[2].revents & POLLIN) {
            lineWatch_.Consume();
            recheckAt_ = MonotonicNow() + std::int64_t{kRecheckMilliseconds} * 1'000'000;
            continue;  // a modem line moved: sample again
        }
        if (fds[0].revents & POLLIN) {
            rxAnnounced_ = bytesRead_ + static_cast<std::uint64_t>(BytesWaiting());
            mask = EV_RXCHAR;
            return 1;
        }
        // Time-out: sample again.
    }
}

int PosixSerialDevice::WriteRun(const char* data, int n) {
    UseGuard use(*this);
    if (!use)
        return -use.Refusal();
    if (n <= 0)
        return 0;
    if (rs485Emulated_)
        return WriteRunToggled(data, n);
    return NonBlocking([&] { return ::write(fd_.get(), data, static_cast<size_t>(n)); });
}

// Called with useLock_ held shared.
int PosixSerialDevice::WriteRunToggled(const char* data, int n) {
    // RTS goes up before the first byte of a transmission and stays up until
    // the output worker runs out of bytes (EndTransmission): a frame that
    // wraps round the output ring, or a second string queued behind the
    // first, comes as several runs and must not turn the bus round halfway.
    if (!rtsHeldForSending_.exchange(true))
        SetModemLine(TIOCM_RTS, true);
    int count = NonBlocking([&] { return ::write(fd_.get(), data, static_cast<size_t>(n)); });
    NoteAccepted(count);
    return count;
}

void PosixSerialDevice::EndTransmission() {
    std::shared_lock use(useLock_);
    if (!open_ || !rtsHeldForSending_)
        return;
    // A purge or a close cuts the wait short; the frame is abandoned then.
    WaitTransmitterEmpty();
    if (rtsHeldForSending_.exchange(false))
        SetModemLine(TIOCM_RTS, false);
}

int PosixSerialDevice::DrainOutput() {
    UseGuard use(*this);
    if (!use)
        return -use.Refusal();
    return WaitTransmitterEmpty() ? 0 : -ERROR_GEN_FAILURE;
}

// The bytes just accepted leave after those before them, one character
// time each, from now at the earliest.
void PosixSerialDevice::NoteAccepted(int count) {
    if (count <= 0)
        return;
    std::int64_t now = MonotonicNow();
    std::int64_t from = std::max(wireFreeAt_.load(), now);
    wireFreeAt_ = from + std::int64_t{count} * characterNanoseconds_;
}

// Called with useLock_ held shared. True when the last stop bit has left,
// false when a cancel, a failure or flow control ended the wait first. What
// is asked of the driver depends on what it can tell (transmitter_tracking.h);
// the baud clock's floor is kept on every driver, since none can report the
// line empty before the clock says it can be.
bool PosixSerialDevice::WaitTransmitterEmpty() {
    bool mayBeHeld = transmitterMayBeHeld_;
    if (!WaitDriverQueue(mayBeHeld))
        return false;
    // A drain that looks at the chip once a jiffy returns up to a jiffy after
    // the chip ran empty; asked once the clock says the last byte has left,
    // its first look finds the chip (nearly) empty.
    if (tracking_.clockBeforeDrain && tracking_.drain && !mayBeHeld &&
        SleepUntilUnlessCancelled(wireFreeAt_ + tracking_.startLatency + kDrainLookMargin))
        return false;
    // tcdrain also waits for the adapter's own buffer. Without flow control
    // nothing can hold the transmitter, so it returns within sending time;
    // with it, it could wait for ever and is left out.
    if (tracking_.drain && !mayBeHeld && !WaitDriverDrain())
        return false;
    if (tracking_.lineStatus && !WaitLineStatusEmpty())
        return false;
    return !SleepUntilUnlessCancelled(wireFreeAt_ + tracking_.startLatency);
}

// The driver's queue, in steps of half its sending time (ten bits a
// character, never more than a frame takes), until the last 50 ms are left
// to the driver's own drain, which returns as the last stop bit leaves; a
// late wake-up from a timed sleep would let RTS fall late. A cancel (purge
// or close) ends the sleeps, so flow control cannot hang us here, and the
// drain is short. Where the drain is not used, the queue is waited out.
bool PosixSerialDevice::WaitDriverQueue(bool mayBeHeld) {
    std::uint32_t baud = std::max<std::uint32_t>(baudRate_, 1);
    bool drainFollows = tracking_.drain && !mayBeHeld;
    for (;;) {
        int queued = 0;
        if (IoctlRetried(fd_.get(), TIOCOUTQ, &queued) != 0)
            return false;
        if (queued <= 0)
            return true;
        auto microseconds = std::uint64_t{10'000'000} * static_cast<std::uint64_t>(queued) / baud;
        if (drainFollows && microseconds < kDrainMicroseconds)
            return true;
        int step = static_cast<int>(std::clamp<std::uint64_t>(microseconds / 2000, 1, 100));
        if (SleepUnlessCancelled(step))
            return false;
    }
}

// A signal ends the kernel's drain early with EINTR, and it is not
// restarted: asked again, it goes on waiting for the same bytes.
bool PosixSerialDevice::WaitDriverDrain() {
    if (IoctlRetried(fd_.get(), TCSBRK, 1) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}

// The last character leaves the shift register after the queue is empty,
// and the chip's FIFO may still hold a few; the line-status register shows
// it where the driver reports it live. A driver without the register leaves
// the answer to the clock.
bool PosixSerialDevice::WaitLineStatusEmpty() {
    std::int64_t deadline = MonotonicNow() + kMaxLineStatusCharacters * characterNanoseconds_ + 20'000'000;
    for (;;) {
        unsigned int status = 0;
        if (IoctlRetried(fd_.get(), TIOCSERGETLSR, &status) != 0)
            return errno == ENOTTY || errno == EINVAL;
        if (status & TIOCSER_TEMT)
            return true;
        if (MonotonicNow() > deadline || SleepUnlessCancelled(1))
            return false;
    }
}

// Called with useLock_ held shared. True when a cancel came (it stays set).
bool PosixSerialDevice::SleepUntilUnlessCancelled(std::int64_t deadline) {
    for (;;) {
        std::int64_t left = deadline - MonotonicNow();
        if (left <= 0)
            return false;
        timespec pause{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        pollfd cancel{writeWake_.fd(), POLLIN, 0};
        int ready = ::ppoll(&cancel, 1, &pause, nullptr);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Called with useLock_ held shared. True when a cancel came (it stays set).
bool PosixSerialDevice::SleepUnlessCancelled(int milliseconds) {
    pollfd cancel{writeWake_.fd(), POLLIN, 0};
    return ::poll(&cancel, 1, milliseconds) > 0;
}

// Called with useLock_ held shared.
int PosixSerialDevice::WaitForRoom(bool takeCancel) {
    for (;;) {
        pollfd fds[2] = {{fd_.get(), POLLOUT, 0}, {writeWake_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -SystemError(errno);
        }
        if (fds[1].revents & POLLIN) {
            if (takeCancel)
                writeWake_.Consume();
            return 0;
        }
        if (IsHangUp(fds[0].revents)) {
            hangUpSeen_ = true;
            return -ERROR_GEN_FAILURE;
        }
        if (fds[0].revents & POLLOUT)
            return 1;
    }
}

int PosixSerialDevice::WaitWritable() {
    UseGuard use(*this);
    if (!use)
        return -use.Refusal();
    return WaitForRoom(true);
}

void PosixSerialDevice::CancelWrite() {
    std::shared_lock use(useLock_);
    if (open_)
        writeWake_.Signal();
}

int PosixSerialDevice::Flush(int which) {
    std::shared_lock use(useLock_);
    if (!open_)
        return -ERROR_INVALID_HANDLE;
    if (which != 0 && which != 1)
        return -ERROR_INVALID_PARAMETER;
    if (::ioctl(fd_.get(), TCFLSH, which == 0 ? TCOFLUSH : TCIFLUSH) != 0)
        return -SystemError(errno);
    if (which == 0) {
        // The purge that cancelled the output waits is over. Left set, the
        // cancel would cut short every later wait for the transmitter to
        // empty, and RTS would fall while frames are still on the wire.
        writeWake_.Consume();
        // The purged bytes will not be sent, but the character in the shift
        // register still leaves: the clock starts again from its end.
        std::int64_t shifted = MonotonicNow() + characterNanoseconds_;
        if (wireFreeAt_ > shifted)
            wireFreeAt_ = shifted;
        if (rtsHeldForSending_.exchange(false))
            SetModemLine(TIOCM_RTS, false);
    }
    // The flushed bytes no longer count as arrived; whatever comes next is new.
    if (which == 1)
        rxAnnounced_ = 0;
    return 0;
}

int PosixSerialDevice::Handle() const {
    std::shared_lock use(useLock_);
    return open_ ? fd_.get() : -1;
}

}  // namespace sio
