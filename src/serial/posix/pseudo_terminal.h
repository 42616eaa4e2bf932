// A pseudo-terminal as the far end of a serial line: its slave is the device
// a port opens, its master is where the other party reads and writes. The
// simulated writer device and the tests that play a line's far end open
// theirs here. Header-only, so that the UART emulator (a library that takes
// over system calls) can use OpenPseudoTerminal without linking the device
// layer it serves; nor does it include <termios.h>, which cannot stand beside
// the kernel's termios2 headers those tests need.
#pragma once

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "serial/posix/unique_fd.h"

namespace sio {

struct PseudoTerminal {
    UniqueFd master;  // non-blocking
    // Open only when asked for (OpenHeldPseudoTerminal): once every slave
    // descriptor is closed the master reports POLLHUP for ever, so a far end
    // that outlives the port's closes and reopens keeps one itself.
    UniqueFd slave;
    std::string slavePath;
};

[[noreturn]] inline void ThrowPseudoTerminalError(const char* call, int error = errno) {
    throw std::system_error(error, std::generic_category(), call);
}

// A new pseudo-terminal with its line settings as the kernel made them
// (cooked), so a test can see that the port's open makes the line raw.
// Throws std::system_error naming the call that failed.
inline PseudoTerminal OpenPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!pty.master) ThrowPseudoTerminalError("posix_openpt");
    if (::grantpt(pty.master.get()) != 0) ThrowPseudoTerminalError("grantpt");
    if (::unlockpt(pty.master.get()) != 0) ThrowPseudoTerminalError("unlockpt");
    char name[128];
    if (const int error = ::ptsname_r(pty.master.get(), name, sizeof name); error != 0)
        ThrowPseudoTerminalError("ptsname_r", error);
    pty.slavePath = name;
    return pty;
}

// The same with the slave held open in raw mode (no echo, no line editing, no
// translation of CR or LF, no signals) at 9600 baud: the port sets raw mode
// again when it opens, but nothing that arrives before then may be echoed or
// translated.
PseudoTerminal OpenHeldPseudoTerminal();

// Opens a terminal device in that raw mode, with `flags` (O_NONBLOCK) beside
// read-write, no controlling terminal and close-on-exec. Throws
// std::system_error naming the call that failed.
UniqueFd OpenRawTerminal(const std::string& path, int flags = 0);

}  // namespace sio
