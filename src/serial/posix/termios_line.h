// The device control block (DCB) on a Linux terminal.
//
// The settings termios can hold (baud rate, data bits, parity, stop bits,
// RTS/CTS flow, XON/XOFF flow and characters) are written to the kernel's
// termios2, which also carries any baud rate (BOTHER). The other fields
// (XonLim, XoffLim, fDtrControl, fDsrSensitivity, fTXContinueOnXoff, fNull...)
// have no termios equivalent; the caller keeps the last applied block as a
// shadow and reading the block back takes them from there.
//
// The kernel's termios2 and the C library's termios cannot be declared in
// one translation unit, so this header only names the kernel's struct.
#pragma once

#include <cstdint>

#include "serial/core/comm_types.h"

struct termios2;

namespace sio {

// A pseudo-terminal forces CS8 and no parity whatever was asked; a serial
// driver's terminal holds the data bits and parity it took, and those are
// checked like every other setting.
enum class TerminalKind { Pseudo, Serial };

// 0 when a serial driver takes the block, else ERROR_INVALID_PARAMETER:
// baud 0 (it would hang the line up), data bits outside 5..8, parity or stop
// bits out of range, or equal XON and XOFF characters with XON/XOFF flow on.
int CheckLineRecord(const DCB& record);

// Raw mode, as a Windows handle always is: no line editing, echo, signals or
// translation; reads return what is there at once (VMIN 0, VTIME 0); modem
// control lines do not gate reception (CLOCAL | CREAD).
void MakeRaw(termios2& tio);

// Writes the block's line settings into tio; raw mode is kept.
void LineRecordToTermios(const DCB& record, termios2& tio);

// The block as the device now holds it: baud rate, stop bits, flow control
// and flow characters from tio, every other field from the shadow. Data bits
// and parity come from the shadow too: a pseudo-terminal forces CS8 and no
// parity whatever was asked.
DCB LineRecordFromTermios(const termios2& tio, const DCB& shadow);

// The block of a device nobody has configured through us yet.
DCB InitialLineRecord(const termios2& tio);

// The baud rate tio carries.
std::uint32_t BaudRateOf(const termios2& tio);

// How long one character takes on the wire, rounded up, in nanoseconds.
std::int64_t CharacterNanoseconds(const termios2& tio);

// True when flow control can hold the transmitter (RTS/CTS or XON/XOFF).
bool TransmitterMayBeHeld(const termios2& tio);

// 0, or the errno of the failed TCGETS2.
int ReadTermios(int fd, termios2& tio);

// Sets tio on the device and reads it back: 0 when the device holds what was
// asked (a pseudo-terminal's forced CS8 and parity aside, and the baud rate
// within 3 %), else a Windows error number. A refused change is undone.
int ApplyTermios(int fd, const termios2& tio, TerminalKind kind);
// The same, from settings `before` that were just read.
int ChangeTermios(int fd, const termios2& before, const termios2& tio, TerminalKind kind);

// CheckLineRecord, then the block's line settings applied with ApplyTermios.
// 0 or a Windows error number.
int WriteLineSettings(int fd, const DCB& record, TerminalKind kind);

}  // namespace sio
