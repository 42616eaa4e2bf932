#include "serial/posix/pseudo_terminal.h"

#include <termios.h>

namespace sio {

PseudoTerminal OpenHeldPseudoTerminal() {
    PseudoTerminal pty = OpenPseudoTerminal();
    pty.slave = OpenRawTerminal(pty.slavePath);
    return pty;
}

UniqueFd OpenRawTerminal(const std::string& path, int flags) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | flags));
    if (!fd) ThrowPseudoTerminalError("open terminal");
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) ThrowPseudoTerminalError("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B9600);
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) ThrowPseudoTerminalError("tcsetattr");
    return fd;
}

}  // namespace sio
