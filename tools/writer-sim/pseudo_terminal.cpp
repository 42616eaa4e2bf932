#include "pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <system_error>

namespace writersim {
namespace {

[[noreturn]] void ThrowSystemError(const char* call) {
    throw std::system_error(errno, std::generic_category(), call);
}

}  // namespace

PseudoTerminal OpenPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.master.Valid()) ThrowSystemError("posix_openpt");
    if (::grantpt(pty.master.Get()) != 0) ThrowSystemError("grantpt");
    if (::unlockpt(pty.master.Get()) != 0) ThrowSystemError("unlockpt");

    char name[128];
    if (const int err = ::ptsname_r(pty.master.Get(), name, sizeof name); err != 0) {
        errno = err;
        ThrowSystemError("ptsname_r");
    }
    pty.slave_path = name;

    pty.slave = UniqueFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.slave.Valid()) ThrowSystemError("open pseudo-terminal slave");

    // The line discipline sits on the slave side; the program sets raw mode
    // again when it opens the port, but the device must not echo or
    // translate anything that arrives before then.
    termios tio{};
    if (::tcgetattr(pty.slave.Get(), &tio) != 0) ThrowSystemError("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B9600);
    if (::tcsetattr(pty.slave.Get(), TCSANOW, &tio) != 0) ThrowSystemError("tcsetattr");

    const int flags = ::fcntl(pty.master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(pty.master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) ThrowSystemError("fcntl");
    return pty;
}

}  // namespace writersim
