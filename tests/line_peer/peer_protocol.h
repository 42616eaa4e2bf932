// The line peer: the far end of a serial line in a process of its own, so
// that the device-layer suite runs the same way where the test program is no
// Linux process (a Windows program under Wine, a program inside a virtual
// machine). The peer makes a pseudo-terminal per line, links its slave as
// COMn in a folder, and reads, writes, hangs up and reopens on request.
//
// Starting it: `line_peer [--link-dir DIR] [--once]`. It listens on a TCP
// port of the loopback address only (Winsock works under Wine where a Unix
// socket would not), prints "PORT <n>" and a line end on standard output and
// serves one connection after another (a connection's lines end with it)
// until QUIT, or until its first connection ends with --once. A runner that
// started it hands the address to each test program as
// SIO_LINE_PEER=127.0.0.1:<n> and ends it with QUIT; a Linux test program
// without that variable starts a peer of its own with --once.
//
// The protocol: one request a line (words separated by blanks, a line feed at
// the end), one reply a line, "OK ..." or "ERR <reason>". Byte counts are
// decimal; the bytes themselves follow their line raw.
//
//   LINK <com> [<dir>]       a new pseudo-terminal, linked as <dir>/com<com>
//                            (or in --link-dir); replaces that COM's earlier
//                            line. Reply: OK <slave path>
//   SEND <com> <n>           followed by n bytes: the far end writes them,
//                            waiting for room. Reply: OK
//   RECV <com> <n> <quiet>   reads until n bytes came or the line was quiet
//                            for <quiet> ms. Reply: DATA <m>, then m bytes
//   LINE <com>               the line settings as the far end sees them.
//                            Reply: OK baud=<b> stop=<1|2> rtscts=<0|1>
//                            ixon=<0|1> ixoff=<0|1> xon=<c> xoff=<c> raw=<0|1>
//   PACKET <com> <0|1>       packet mode on the far end: each read then starts
//                            with a status byte that shows purges. Reply: OK
//   HANGUP <com>             closes the far end: the port sees a hang-up.
//                            Reply: OK
//   QUIT                     Reply: OK, then the peer exits
#pragma once

namespace sio::peer {

inline constexpr const char* kAddressVariable = "SIO_LINE_PEER";

}  // namespace sio::peer
