// The simulated device's end of a serial line: a pseudo-terminal whose slave
// path the program opens as its COM port.
#pragma once

#include "unique_fd.h"

#include <string>

namespace writersim {

struct PseudoTerminal {
    UniqueFd master;  // non-blocking; the device reads requests and writes replies here
    // Kept open for the device's whole life: once every slave descriptor is
    // closed the master reports POLLHUP for ever, and the program closes and
    // reopens its port between attempts.
    UniqueFd slave;
    std::string slave_path;
};

// Opens a pseudo-terminal in raw mode (no echo, no line editing, no
// translation of CR or LF, no signals), so bytes pass unchanged. Throws
// std::system_error naming the call that failed.
PseudoTerminal OpenPseudoTerminal();

}  // namespace writersim
