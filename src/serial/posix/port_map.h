// Which device a COM number names on Linux.
//
// The port directory is $SIO_PORT_DIR when set, else
// $XDG_CONFIG_HOME/sio/ports (by default ~/.config/sio/ports). A file "comN"
// in it, normally a symbolic link such as com3 -> /dev/ttyUSB0, names COMN's
// device. With $SIO_PORT_DIR set only its links exist, so tests and the demo
// never reach a real port. Otherwise a number without a link falls back to a
// fixed table: COM1-COM4 /dev/ttyS0-3, COM5-COM8 /dev/ttyUSB0-3, COM9-COM12
// /dev/ttyACM0-3.
#pragma once

#include <string>
#include <string_view>

namespace sio {

// "\\.\COM12" or "COM12" (any case) gives 12; anything else gives 0.
int PortNumberFromName(std::string_view name);

// The name the component hands to the device layer: "\\.\COM5" for 5.
std::string DeviceNameFor(int number);

// The directory that holds the comN links; empty when no home is known.
std::string PortDirectory();

// The device path for COMn, or empty when no device is mapped to it.
std::string PortPath(int number);

}  // namespace sio
