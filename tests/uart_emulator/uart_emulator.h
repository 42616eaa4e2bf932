// A UART emulated at the system-call boundary, for tests of the device layer.
//
// Linked into a test program ahead of the C library (or preloaded), this
// library takes over open, close, write, poll and ioctl for the slave side
// of the pseudo-terminals it creates, and answers them as a serial driver
// over a real UART would: a transmitter clocked by the configured frame,
// RTS and DTR with a time-stamped record, CTS/DSR/DCD/RI and error counters
// the test sets, TIOCSRS485 accepted or refused, TIOCEXCL between processes.
// Every other descriptor passes straight through to the C library.
//
// The production code runs unchanged: it opens the port's path and makes the
// same system calls it makes on /dev/ttyS0. Bytes it writes go out on the
// pseudo-terminal at their clocked end times, so the test reads them from
// Master() as a peer on the line would; bytes the test writes to Master()
// arrive at the port as received data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace uartemu {

enum class EventKind {
    RtsUp,
    RtsDown,
    DtrUp,
    DtrDown,
    Byte,     // one character on the wire, start..end
    Termios,  // line settings handed to the driver
};

struct Event {
    EventKind kind;
    std::int64_t start;  // CLOCK_MONOTONIC nanoseconds
    std::int64_t end;    // == start except for a byte
    // A byte: when the emulator had it delivered and its transmitter-empty
    // state visible; later than `end` only when this process was slow.
    std::int64_t shown = 0;
    bool byDriver = false;  // RTS switched by the driver's own RS-485 mode
    std::uint8_t value = 0;
    // The settings in force for a byte, or handed over for Termios.
    std::uint32_t baud = 0;
    std::uint32_t cflag = 0;  // the whole c_cflag of the termios2
    int dataBits = 0;
    char parity = 'N';        // N O E M S
    int stopHalfBits = 0;     // 2, 3 (one and a half) or 4
};

// How the driver's drain (TCSBRK, tcdrain) decides that output is sent.
enum class Drain {
    LastStopBit,     // returns as the last stop bit leaves
    PolledAtTick,    // looks at "transmitter empty" once a jiffy (4 ms)
    DriverQueueOnly  // returns once its own queue is handed to the chip
};

// What TIOCSERGETLSR answers.
enum class LineStatus {
    Live,    // the register itself
    Cached,  // a flag from the chip's status packets, one per period
    Refused  // ENOTTY: the driver has no such ioctl
};

struct PortOptions {
    bool acceptRs485 = false;       // TIOCSRS485 taken, driver switches RTS
    // TIOCGRS485 answered (RS-485 off) although TIOCSRS485 is refused.
    bool answersRs485Query = false;
    bool privileged = false;        // a root opener ignores TIOCEXCL
    std::size_t transmitQueue = 4096;  // the driver's buffer
    // Bytes held by the chip itself (a FIFO, a USB adapter's buffer) that
    // TIOCOUTQ no longer counts.
    std::size_t chipBuffer = 0;
    // TIOCOUTQ counts the character in the shift register too.
    bool queueCountsShifter = true;
    Drain drain = Drain::LastStopBit;
    LineStatus lineStatus = LineStatus::Live;
    int lineStatusPeriodMicroseconds = 16'000;
    bool counters = true;   // TIOCGICOUNT answered
    bool modemWait = true;  // TIOCMIWAIT answered
    // A USB chip starts an idle line at its next frame: up to this long
    // after the write.
    int startLatencyMicroseconds = 0;
    // Five and six data bits are refused (EINVAL, the settings kept).
    bool revertsShortCharacters = false;
    // Five data bits are taken all the same.
    bool takesFiveDataBits = false;
    // The driver's name in sysfs (/sys/dev/char/M:m/device/driver), or none.
    const char* driver = nullptr;
    // Every second TIOCGICOUNT answer is held back this long after it was
    // read, so that two readers overtake each other.
    int counterReadDelayMicroseconds = 0;
};

// Overrun is the chip's (a character lost in its receive FIFO);
// BufferOverrun the tty layer's (no room left in the receive buffer).
enum class LineError { Frame, Parity, Overrun, Break, BufferOverrun };

class Port {
public:
    explicit Port(const PortOptions& options = {});
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // The path the code under test opens (a /dev/pts entry).
    const std::string& Path() const;
    // The peer's end of the line.
    int Master() const;

    // Input lines: TIOCM_CTS, TIOCM_DSR, TIOCM_CAR, TIOCM_RNG.
    void SetInput(int line, bool raised);
    void Inject(LineError error);
    // Every TIOCGICOUNT counter starts again from 0, as when the driver is
    // restarted or the adapter plugged in again.
    void RestartCounters();
    // The next ioctl `request` on the port fails with `error`.
    void FailNext(unsigned long request, int error);
    // The adapter is unplugged: the line hangs up and the driver answers EIO.
    void Vanish();

    bool Rts() const;
    bool Dtr() const;
    bool Exclusive() const;
    // Ordered on the emulator's clock (by start): a character the emulator
    // was slow to record still comes before an RTS change after its end.
    std::vector<Event> Record() const;
    void ClearRecord();
    // Blocks until `count` bytes have left the wire since the record was last
    // cleared, or `timeoutMs` passed; true when they did.
    bool WaitForBytes(std::size_t count, int timeoutMs = 10000) const;
    // Blocks until the transmitter is empty: true when it is.
    bool WaitUntilIdle(int timeoutMs = 10000) const;
    // Blocks until the record holds an event of `kind`, counted from the
    // last ClearRecord; true when it does.
    bool WaitForEvent(EventKind kind, int occurrences = 1, int timeoutMs = 10000) const;
    // Blocks until `count` TIOCMIWAIT calls have begun their wait since the
    // port was made; true when they have.
    bool WaitForModemWaits(int count, int timeoutMs = 10000) const;

    struct State;

private:
    State* state_;
};

// Nanoseconds of CLOCK_MONOTONIC, the clock of the record.
std::int64_t Now();

}  // namespace uartemu
