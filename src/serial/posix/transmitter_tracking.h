// How the device layer tells that a serial driver's last stop bit has left,
// for RTS in emulated RS-485 mode: the drivers differ in what they can say.
//
//   - The 8250 family answers TIOCSERGETLSR from the chip's own register:
//     once the driver's queue is empty, the register is polled.
//   - FTDI and CP210x drain accurately, looking at the chip once a jiffy; the
//     FTDI line-status answer is a flag cached from status packets 16 ms
//     apart, so the drain is what is waited for, not the register. The drain
//     is asked only once the baud clock says the chip is empty, so that its
//     first look comes after the last stop bit rather than a jiffy later.
//   - CH341, PL2303 and other usb-serial drivers without tx_empty report the
//     output sent once the adapter acknowledged the transfer, with its buffer
//     still full: only the baud clock tells, from the bytes accepted and the
//     time each write was made (plus one USB frame before the chip starts).
//   - A driver not known here gets every check, the clock included.
#pragma once

#include <cstdint>
#include <string>

#include "serial/posix/termios_line.h"

namespace sio {

struct TransmitterTracking {
    bool drain = true;       // the driver's drain (TCSBRK) counts
    bool lineStatus = true;  // TIOCSERGETLSR reports the shift register live
    // The baud clock's floor is waited for before the drain, not after it:
    // where the drain looks at the chip once a jiffy, it then confirms an
    // empty chip at once instead of finding it empty up to a jiffy late.
    bool clockBeforeDrain = false;
    // Nanoseconds the chip may start after a write; the clock's floor is
    // always kept, this is the margin on top of it.
    std::int64_t startLatency = 1'000'000;
};

// The driver's name from sysfs (/sys/dev/char/MAJ:MIN/device/driver, the
// same device as /sys/class/tty/NAME/device/driver), or "" when none is
// linked (a pseudo-terminal).
std::string DriverNameOf(int fd);

TransmitterTracking TrackingFor(const std::string& driver);

// A terminal no driver is linked to is a pseudo-terminal.
inline TerminalKind KindOf(const std::string& driver) {
    return driver.empty() ? TerminalKind::Pseudo : TerminalKind::Serial;
}

}  // namespace sio
