// The one translator from the operating system's errno to the Windows error
// numbers that the serial component interprets (comm_types.h). Every failing
// system call of the device layer goes through it; errno itself never leaves
// this folder (errno 5 is EIO, while 5 means "port in use" to the component).
#pragma once

namespace sio {

// `opening` is true while a port is being opened: there a device that is
// missing, gone or not a terminal at all means "no such port" (2).
int SystemError(int error, bool opening = false);

}  // namespace sio
