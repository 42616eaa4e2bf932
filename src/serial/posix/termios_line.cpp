#include "serial/posix/termios_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>

#include "serial/posix/system_error.h"

namespace sio {

namespace {

struct StandardRate {
    std::uint32_t rate;
    unsigned code;
};

// The rates with a B constant; drivers older than BOTHER know only these.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kBaudBits = CBAUD | (CBAUD << IBSHIFT);

// The bits a pseudo-terminal does not keep.
constexpr tcflag_t kForcedBits = CSIZE | PARENB | PARODD | CMSPAR;

void SetBaudRate(termios2& tio, std::uint32_t rate) {
    tio.c_cflag &= ~kBaudBits;  // input speed follows the output speed
    tio.c_cflag |= BOTHER;
    for (const StandardRate& standard : kStandardRates) {
        if (standard.rate == rate) {
            tio.c_cflag &= ~CBAUD;
            tio.c_cflag |= standard.code;
            break;
        }
    }
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
}

bool CloseEnough(std::uint32_t held, std::uint32_t asked) {
    // A UART tolerates about 3 % between the two ends of the line.
    std::uint64_t difference = held > asked ? held - asked : asked - held;
    return difference * 100 <= std::uint64_t{asked} * 3;
}

bool HoldsSettings(const termios2& held, const termios2& asked, TerminalKind kind) {
    tcflag_t unchecked = kBaudBits | (kind == TerminalKind::Pseudo ? kForcedBits : 0);
    return held.c_iflag == asked.c_iflag && held.c_oflag == asked.c_oflag &&
           held.c_lflag == asked.c_lflag &&
           (held.c_cflag & ~unchecked) == (asked.c_cflag & ~unchecked) &&
           held.c_cc[VMIN] == asked.c_cc[VMIN] && held.c_cc[VTIME] == asked.c_cc[VTIME] &&
           held.c_cc[VSTART] == asked.c_cc[VSTART] && held.c_cc[VSTOP] == asked.c_cc[VSTOP] &&
           CloseEnough(BaudRateOf(held), BaudRateOf(asked));
}

bool SameTermios(const termios2& a, const termios2& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           a.c_line == b.c_line && std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) &&
           a.c_ispeed == b.c_ispeed && a.c_ospeed == b.c_ospeed;
}

std::uint8_t ByteSizeOf(const termios2& tio) {
    switch (tio.c_cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

std::uint8_t ParityOf(const termios2& tio) {
    if (!(tio.c_cflag & PARENB))
        return NOPARITY;
    if (tio.c_cflag & CMSPAR)
        return (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    return (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
}

}  // namespace

int CheckLineRecord(const DCB& record) {
    bool softwareFlow = record.fOutX || record.fInX;
    if (record.BaudRate == 0 || record.ByteSize < 5 || record.ByteSize > 8 ||
        record.Parity > SPACEPARITY || record.StopBits > TWOSTOPBITS ||
        (softwareFlow && record.XonChar == record.XoffChar))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

void MakeRaw(termios2& tio) {
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

void LineRecordToTermios(const DCB& record, termios2& tio) {
    MakeRaw(tio);
    SetBaudRate(tio, record.BaudRate);

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    bool sizeValid = record.ByteSize >= 5 && record.ByteSize <= 8;
    tio.c_cflag |= sizeValid ? kSizes[record.ByteSize - 5] : CS8;
    switch (record.Parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // One and a half stop bits: the UART sends 1.5 with five data bits and
    // two otherwise, which is what CSTOPB asks for.
    if (record.StopBits != ONESTOPBIT)
        tio.c_cflag |= CSTOPB;
    // Linux has one switch for both directions of hardware flow control.
    if (record.fOutxCtsFlow || record.fRtsControl == RTS_CONTROL_HANDSHAKE)
        tio.c_cflag |= CRTSCTS;

    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (record.fOutX)
        tio.c_iflag |= IXON;
    if (record.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(record.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(record.XoffChar);
}

DCB LineRecordFromTermios(const termios2& tio, const DCB& shadow) {
    DCB record = shadow;
    record.BaudRate = BaudRateOf(tio);
    if (!(tio.c_cflag & CSTOPB))
        record.StopBits = ONESTOPBIT;
    else if (shadow.StopBits == ONESTOPBIT)
        record.StopBits = TWOSTOPBITS;

    bool shadowHardwareFlow =
        shadow.fOutxCtsFlow || shadow.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if ((tio.c_cflag & CRTSCTS) && !shadowHardwareFlow) {
        record.fOutxCtsFlow = 1;
        record.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (!(tio.c_cflag & CRTSCTS) && shadowHardwareFlow) {
        record.fOutxCtsFlow = 0;
        if (record.fRtsControl == RTS_CONTROL_HANDSHAKE)
            record.fRtsControl = RTS_CONTROL_ENABLE;
    }

    record.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    record.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    record.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    record.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return record;
}

DCB InitialLineRecord(const termios2& tio) {
    DCB record;
    record.BaudRate = BaudRateOf(tio);
    record.ByteSize = ByteSizeOf(tio);
    record.Parity = ParityOf(tio);
    record.StopBits = (tio.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    record.fBinary = 1;
    // Opening a terminal raises DTR and RTS.
    record.fDtrControl = DTR_CONTROL_ENABLE;
    record.fRtsControl = RTS_CONTROL_ENABLE;
    if (tio.c_cflag & CRTSCTS) {
        record.fOutxCtsFlow = 1;
        record.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    return LineRecordFromTermios(tio, record);
}

std::uint32_t BaudRateOf(const termios2& tio) {
    unsigned code = tio.c_cflag & CBAUD;
    if (code != BOTHER) {
        for (const StandardRate& standard : kStandardRates)
            if (standard.code == code)
                return standard.rate;
    }
    return tio.c_ospeed;
}

std::int64_t CharacterNanoseconds(const termios2& tio) {
    int dataBits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5: dataBits = 5; break;
    case CS6: dataBits = 6; break;
    case CS7: dataBits = 7; break;
    default: break;
    }
    // Half bits: a start bit, the data, parity, and one, one and a half (five
    // data bits) or two stop bits.
    std::int64_t halfBits = 2 * (1 + dataBits + ((tio.c_cflag & PARENB) ? 1 : 0));
    halfBits += !(tio.c_cflag & CSTOPB) ? 2 : (dataBits == 5 ? 3 : 4);
    std::int64_t baud = std::max<std::uint32_t>(BaudRateOf(tio), 1);
    return (halfBits * 500'000'000 + baud - 1) / baud;
}

bool TransmitterMayBeHeld(const termios2& tio) {
    return (tio.c_cflag & CRTSCTS) || (tio.c_iflag & IXON);
}

int ReadTermios(int fd, termios2& tio) {
    return ::ioctl(fd, TCGETS2, &tio) == 0 ? 0 : errno;
}

int ApplyTermios(int fd, const termios2& tio, TerminalKind kind) {
    termios2 before{};
    if (int error = ReadTermios(fd, before))
        return SystemError(error);
    return ChangeTermios(fd, before, tio, kind);
}

int ChangeTermios(int fd, const termios2& before, const termios2& tio, TerminalKind kind) {
    if (::ioctl(fd, TCSETS2, &tio) != 0 && errno != EINVAL)
        return SystemError(errno);
    // Linux takes what it can of a change and may answer EINVAL for the
    // rest; only the read-back tells whether the device holds the settings.
    termios2 held{};
    if (int error = ReadTermios(fd, held))
        return SystemError(error);
    if (HoldsSettings(held, tio, kind))
        return 0;
    (void)::ioctl(fd, TCSETS2, &before);
    return ERROR_INVALID_PARAMETER;
}

int WriteLineSettings(int fd, const DCB& record, TerminalKind kind) {
    if (int error = CheckLineRecord(record))
        return error;
    termios2 before{};
    if (int error = ReadTermios(fd, before))
        return SystemError(error);
    termios2 tio = before;
    LineRecordToTermios(record, tio);
    // An open re-applies every setting in turn; most of them change nothing.
    if (SameTermios(before, tio))
        return 0;
    return ChangeTermios(fd, before, tio, kind);
}

}  // namespace sio
