// Line settings of TSioBaseDispatcher: everything that reaches the device
// through its control block (DeviceGetLine / DeviceSetLine) and the line
// levels (DeviceEscape), plus the modem-line and line-error read-outs.
#include "serial/core/dispatcher.h"

#include "serial/errors/result_codes.h"

#include <algorithm>

namespace sio {

namespace {

constexpr int kParityKeep = 5;
constexpr int kDataBitsKeep = 9;
constexpr int kStopBitsKeep = 3;
constexpr int kDrainPolls = 5000;
constexpr auto kDrainPoll = std::chrono::milliseconds(2);

// The rate of a baud value, including the index codes of the old 16-bit
// interface that a device may still report.
int BaudRateOf(int baud) {
    switch (baud) {
    case 0xFF10: return 110;
    case 0xFF11: return 300;
    case 0xFF12: return 600;
    case 0xFF13: return 1200;
    case 0xFF14: return 2400;
    case 0xFF15: return 4800;
    case 0xFF16: return 9600;
    case 0xFF17: return 14400;
    case 0xFF18: return 19200;
    case 0xFF1B: return 38400;
    case 0xFF1F: return 56000;
    case 0xFF23: return 128000;
    case 0xFF27: return 256000;
    case 0xFEFF: return 115200;
    default: break;
    }
    if (baud >= 0xFF10 && baud <= 0xFF27) return 9600;  // an unassigned index code
    return baud > 0 ? baud : 115200;  // never divide by a missing rate
}

// What every line change forces: binary mode, no parity checking, no DSR
// sensitivity, transmission goes on after XOFF, no null stripping.
void ForceLineFlags(DCB& record) {
    record.fBinary = 1;
    record.fParity = 0;
    record.fDsrSensitivity = 0;
    record.fTXContinueOnXoff = 1;
    record.fNull = 0;
}

// Puts the requested values into the record; the keep-current codes leave a
// value as it is.
void SetLineValues(DCB& record, int baud, int parity, int databits, int stopbits) {
    if (baud != 0) record.BaudRate = static_cast<std::uint32_t>(baud);
    if (parity != kParityKeep) record.Parity = static_cast<std::uint8_t>(parity);
    if (databits != kDataBitsKeep) record.ByteSize = static_cast<std::uint8_t>(databits);
    if (stopbits != kStopBitsKeep) {
        const int stop = std::clamp(stopbits == 0 ? 1 : stopbits, 1, 2);
        record.StopBits = stop == 1 ? ONESTOPBIT : TWOSTOPBITS;
    }
    if (record.ByteSize == 5 && (databits != kDataBitsKeep || stopbits != kStopBitsKeep))
        record.StopBits = ONE5STOPBITS;
}

bool SameLine(const DCB& a, const DCB& b) {
    return a.BaudRate == b.BaudRate && a.Parity == b.Parity && a.ByteSize == b.ByteSize &&
           a.StopBits == b.StopBits;
}

}  // namespace

int TSioBaseDispatcher::ConfigureLine(int baud, int parity, int databits, int stopbits) {
    {
        std::lock_guard lock(StateLock);
        DeviceGetLine(LineRecord);  // on failure we go on with the record we hold
        const DCB current = LineRecord;
        ForceLineFlags(LineRecord);
        DCB wanted = LineRecord;
        SetLineValues(wanted, baud, parity, databits, stopbits);
        if (SameLine(wanted, current)) return 0;
    }
    // Bytes already queued leave at the old settings.
    WaitOutputDrained();
    std::lock_guard lock(StateLock);
    DeviceGetLine(LineRecord);
    DCB record = LineRecord;
    ForceLineFlags(record);
    SetLineValues(record, baud, parity, databits, stopbits);
    return ApplyLineRecord(record);
}

void TSioBaseDispatcher::WaitOutputDrained() {
    for (int i = 0; i < kDrainPolls && OutputQueued() > 0; ++i) std::this_thread::sleep_for(kDrainPoll);
    // An empty ring only means the driver holds the bytes, several KiB of
    // them on Linux; a new baud rate would re-clock them. A device that can
    // wait for its transmitter to empty does so.
    if (DeviceDrainOutput() == 0) return;
    DCB record;
    int baud;
    {
        std::lock_guard lock(StateLock);
        DeviceGetLine(LineRecord);
        record = LineRecord;
        baud = BaudRateOf(AppliedBaud);
    }
    // The queue being empty is not the line being idle: give the device
    // about 18 character times to shift out what it holds.
    const long bits = record.ByteSize + 2 + (record.Parity != NOPARITY ? 1 : 0) +
                      (record.StopBits != ONESTOPBIT ? 1 : 0);
    long t = (10000000L / baud) * bits * 18;
    if (t < 10000) t *= 2;
    std::this_thread::sleep_for(std::chrono::milliseconds((t + 9999) / 10000));
}

int TSioBaseDispatcher::ApplyLineRecord(DCB record) {
    std::lock_guard lock(StateLock);
    if (!DtrAutomatic) record.fDtrControl = DtrLevel ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (!RtsAutomatic) record.fRtsControl = RtsLevel ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    const int result = DeviceSetLine(record);
    LineRecord = record;
    AppliedBaud = static_cast<int>(record.BaudRate);
    DriveDTR(DtrLevel);
    // In RS-485 mode the transmitter owns RTS.
    if (!RS485Active) DriveRTS(RtsLevel);
    return result;
}

int TSioBaseDispatcher::ApplyHardwareFlow(int full, int resume, int bits) {
    if (full < resume || full > InQueueSize || resume < 0) return ecBadArgument;
    std::lock_guard lock(StateLock);
    DeviceGetLine(LineRecord);
    DCB record = LineRecord;
    record.fOutxCtsFlow = 0;
    record.fOutxDsrFlow = 0;
    record.fDtrControl = DTR_CONTROL_DISABLE;
    record.fRtsControl = RTS_CONTROL_DISABLE;
    DtrAutomatic = false;
    RtsAutomatic = false;
    if (bits & kHwFlowUseDtr) {
        record.fDtrControl = DTR_CONTROL_HANDSHAKE;
        DtrAutomatic = true;
    } else if (DtrLevel) {
        record.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (bits & kHwFlowUseRts) {
        record.fRtsControl = RTS_CONTROL_HANDSHAKE;
        RtsAutomatic = true;
    } else if (RtsLevel) {
        record.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (RS485Active) {
        // The driver raises RTS around each transmission.
        record.fRtsControl = RTS_CONTROL_TOGGLE;
        RtsAutomatic = true;
    }
    record.XoffLim = static_cast<std::uint16_t>(InQueueSize - full);
    record.XonLim = static_cast<std::uint16_t>(resume);
    if (bits & kHwFlowRequireDsr) record.fOutxDsrFlow = 1;
    if (bits & kHwFlowRequireCts) record.fOutxCtsFlow = 1;
    return ApplyLineRecord(record);
}

int TSioBaseDispatcher::ApplySoftwareFlow(int full, int resume, int bits) {
    if (full < resume || full > InQueueSize || resume < 0) return ecBadArgument;
    std::lock_guard lock(StateLock);
    DeviceGetLine(LineRecord);
    DCB record = LineRecord;
    record.fInX = (bits & kSwFlowReceive) ? 1 : 0;
    record.fOutX = (bits & kSwFlowTransmit) ? 1 : 0;
    if (bits & kSwFlowReceive) {
        record.XoffLim = static_cast<std::uint16_t>(InQueueSize - full);
        record.XonLim = static_cast<std::uint16_t>(resume);
    }
    if (bits & (kSwFlowReceive | kSwFlowTransmit)) {
        record.XonChar = 0x11;
        record.XoffChar = 0x13;
    }
    return ApplyLineRecord(record);
}

int TSioBaseDispatcher::SoftwareFlowOff() {
    std::lock_guard lock(StateLock);
    DeviceGetLine(LineRecord);
    DCB record = LineRecord;
    record.fInX = 0;
    record.fOutX = 0;
    return ApplyLineRecord(record);
}

int TSioBaseDispatcher::ApplyFlowChars(char xon, char xoff) {
    std::lock_guard lock(StateLock);
    DeviceGetLine(LineRecord);
    DCB record = LineRecord;
    record.XonChar = xon;
    record.XoffChar = xoff;
    return ApplyLineRecord(record);
}

int TSioBaseDispatcher::DriveDTR(bool level) {
    std::lock_guard lock(StateLock);
    if (DtrAutomatic) return ecNothingDone;  // the driver owns the line
    const int result = DeviceEscape(level ? SETDTR : CLRDTR);
    DtrLevel = level;
    return result < 0 ? ecBadArgument : result;
}

int TSioBaseDispatcher::DriveRTS(bool level) {
    std::lock_guard lock(StateLock);
    if (RtsAutomatic) return ecNothingDone;
    const int result = DeviceEscape(level ? SETRTS : CLRRTS);
    RtsLevel = level;
    return result < 0 ? ecBadArgument : result;
}

void TSioBaseDispatcher::SwitchRS485(bool on) {
    std::lock_guard lock(StateLock);
    RS485Active = on;
    // We run as the NT family: the control block's RTS toggle does the work
    // (ApplyHardwareFlow); no UART base address is needed. The output
    // worker runs a step higher while RS-485 is on.
    ApplyWorkerPriorities();
}

std::uint8_t TSioBaseDispatcher::ModemStatus() {
    return TakeModemStatus(DeviceModemStatus());
}

std::uint8_t TSioBaseDispatcher::TakeModemStatus(std::uint32_t deviceLines) {
    std::lock_guard lock(StateLock);
    ModemState = static_cast<std::uint8_t>((ModemState & 0x0F) | (deviceLines & 0xF0));
    if (RingLatch.exchange(false)) ModemState |= 4;
    const std::uint8_t result = ModemState;
    ModemState &= 0xF0;
    return result;
}

int TSioBaseDispatcher::TakeLineError() {
    constexpr std::uint32_t kErrorBits = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME;
    const std::uint32_t errors = LineErrors.load();
    int code = 0;
    if (errors & CE_RXOVER)
        code = 1;
    else if (errors & CE_OVERRUN)
        code = 2;
    else if (errors & CE_RXPARITY)
        code = 3;
    else if (errors & CE_FRAME)
        code = 4;
    else if (errors & CE_BREAK)
        code = 9;
    if (code != 0) LineErrors.fetch_and(~kErrorBits);
    return code;
}

bool TSioBaseDispatcher::TakeLineBreak() { return (LineErrors.fetch_and(~CE_BREAK) & CE_BREAK) != 0; }

}  // namespace sio
