// One serial device on a Linux terminal descriptor: the device primitives the
// dispatcher builds on, as the Windows serial services behave.
//
// Threads: Open, CloseHandle, SetupQueues, GetLine, SetLine, Escape, Flush
// and DrainOutput run on the owner thread; WaitEvent and SetEventMask(mask !=
// 0) on the event worker; ClearErrors, ModemStatus and Read on the dispatch
// worker (and ClearErrors also on the owner thread); WriteRun, WaitWritable
// and EndTransmission on the output worker; SetEventMask(0) and CancelWrite
// on any thread.
//
// Results: a handle >= 0, counts >= 0, or minus a Windows error number
// (comm_types.h), never a raw errno.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "serial/core/comm_types.h"
#include "serial/posix/modem_line_watch.h"
#include "serial/posix/termios_line.h"
#include "serial/posix/transmitter_tracking.h"
#include "serial/posix/unique_fd.h"
#include "serial/posix/uucp_lock.h"
#include "serial/posix/wake_event.h"

namespace sio {

class PosixSerialDevice {
public:
    PosixSerialDevice();
    // The telephony variant: a descriptor opened elsewhere, owned from now
    // on. Open ignores the name and takes this descriptor into service; a
    // descriptor of 0 or below means none was handed over.
    explicit PosixSerialDevice(int adoptedFd);
    ~PosixSerialDevice();

    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    // Opens the device a name such as "\\.\COM3" maps to (port_map.h),
    // exclusively (flock, TIOCEXCL and a UUCP lock file), in raw mode with
    // both queues flushed. The handle (the descriptor), or -2 no such port,
    // -5 held by another opener (flock, TIOCEXCL or a live lock file: such a
    // port is closed again untouched), -8 out of memory, -2007 no adopted
    // descriptor, minus another Windows error.
    int Open(const std::string& name);
    // 0, or -1 when the device was not open or the close failed. Wakes every
    // wait first; the descriptor is released once no other thread uses it.
    // The terminal gets back the settings it had when it was opened.
    int CloseHandle();

    // Linux sizes its queues itself: 0 while open.
    int SetupQueues(int inSize, int outSize);
    // 0, or -1 when the settings cannot be read.
    int GetLine(DCB& record);
    // 0, or minus a Windows error (87 for a block no driver takes).
    int SetLine(const DCB& record);
    // SETRTS, CLRRTS, SETDTR, CLRDTR; failures are ignored; always 0.
    int Escape(int code);

    // Fetches and clears the line-error bits (CE_*) and sets cbInQue.
    std::uint32_t ClearErrors(COMSTAT& status);
    // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON; 0 when unknown.
    std::uint32_t ModemStatus();
    // The bytes already there, up to n, without waiting; negative on failure.
    int Read(char* buffer, int n);

    // Mask 0 makes a pending WaitEvent return 0 at once.
    void SetEventMask(std::uint32_t mask);
    // 1 with `mask` holding the events seen; 0 when woken by SetEventMask(0);
    // negative when the device is gone (a hang-up is first reported once as
    // EV_ERR with 1).
    int WaitEvent(std::uint32_t& mask);

    // The bytes the device took now, 0 when it takes none now, negative on
    // failure. In emulated RS-485 mode RTS is raised first and held until
    // EndTransmission.
    int WriteRun(const char* data, int n);
    // 1 writable, 0 cancelled by CancelWrite, negative on failure.
    int WaitWritable();
    // The output worker has no more bytes: in emulated RS-485 mode RTS falls
    // once the last stop bit has left (or a purge or close cut the wait).
    void EndTransmission();
    // Waits until the driver has sent every byte it took: 0, or minus a
    // Windows error when that cannot be told (cancelled, held by flow
    // control, device gone).
    int DrainOutput();
    void CancelWrite();

    // Discards pending output (0) or input (1). 0 or minus a Windows error.
    int Flush(int which);

    int Handle() const;
    // True when RS-485 transmit control is done here because the driver
    // refused to do it.
    bool Rs485Emulated() const { return rs485Emulated_; }

private:
    struct LineSample {
        bool haveModem = false;
        int modem = 0;
        bool haveCounters = false;
        int cts = 0, dsr = 0, rng = 0, dcd = 0;
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };

    // Takes useLock_ shared and tells whether the device may be used: 0 when
    // open and not hung up, else the Windows error (6 closed, 31 hung up).
    class UseGuard {
    public:
        explicit UseGuard(const PosixSerialDevice& device)
            : use_(device.useLock_),
              refusal_(!device.open_ ? ERROR_INVALID_HANDLE : device.hangUpSeen_ ? ERROR_GEN_FAILURE : 0) {}
        int Refusal() const { return refusal_; }
        explicit operator bool() const { return refusal_ == 0; }

    private:
        std::shared_lock<std::shared_mutex> use_;
        int refusal_;
    };

    int OpenPath(const std::string& path);
    void GiveBack(int fd, bool exclusive);
    int OpenAdopted();
    int TakeIntoService(UniqueFd fd, bool exclusive, const std::string& driver);

    LineSample SampleLines() const;
    static std::uint32_t LineEvents(const LineSample& before, const LineSample& now);
    int ReportHangUp(std::uint32_t& mask);
    int BytesWaiting() const;

    void SwitchRs485(bool on);
    void SetModemLine(int line, bool raised);
    int WriteRunToggled(const char* data, int n);
    int WaitForRoom(bool takeCancel);
    bool SleepUnlessCancelled(int milliseconds);
    bool SleepUntilUnlessCancelled(std::int64_t deadline);
    bool WaitTransmitterEmpty();
    bool WaitDriverQueue(bool mayBeHeld);
    bool WaitDriverDrain();
    bool WaitLineStatusEmpty();
    void NoteAccepted(int count);
    int PrepareOpened(int fd, const termios2& before, TerminalKind kind);

    // Lock order, the dispatcher's locks included. The dispatcher may hold
    // one of its locks (StateLock for the line settings, escapes and modem
    // status, DispatchLock for reads) when it calls in here; the device
    // then takes useLock_ and, inside it, at most one of lineLock_ and
    // errorLock_, and calls nothing back while holding any. Nothing here
    // takes a dispatcher lock. CloseHandle takes useLock_ exclusive and waits
    // for every worker's call to return, so it is called with no dispatcher
    // lock held. The modem-line watch takes no lock of ours (its stop comes
    // before useLock_).
    //
    // Guards the descriptors against CloseHandle: every operation holds it
    // shared while it uses fd_ or the wake events, blocking waits included
    // (CloseHandle wakes them first); Open and CloseHandle hold it exclusive.
    mutable std::shared_mutex useLock_;
    UniqueFd fd_;
    WakeEvent eventWake_;  // SetEventMask(0) and close wake WaitEvent
    WakeEvent writeWake_;  // CancelWrite and close wake the output waits
    UniqueFd adopted_;     // the telephony descriptor until Open takes it
    bool adopting_ = false;
    bool exclusive_ = false;  // we set TIOCEXCL and must clear it
    UucpLock uucpLock_;
    // The terminal's settings before the open, put back at close.
    std::unique_ptr<termios2> savedLine_;
    std::atomic<bool> open_{false};

    // Set once at open, before any worker starts; read-only afterwards.
    bool modemLinesKnown_ = false;  // TIOCMGET works (ptys refuse it)
    bool countersKnown_ = false;    // TIOCGICOUNT works
    // Modem-line changes as the driver reports them, where it keeps them.
    ModemLineWatch lineWatch_;

    std::atomic<bool> hangUpSeen_{false};
    bool hangUpReported_ = false;  // event worker only
    // Event worker only: when to look at the lines once more after the
    // watch woke it (CLOCK_MONOTONIC ns), 0 when no look is due.
    std::int64_t recheckAt_ = 0;
    std::atomic<std::uint32_t> eventMask_{0};
    LineSample eventBase_;  // event worker only
    // Received bytes, counted as bytes read plus bytes waiting: an arrival
    // is new only when that sum exceeds rxAnnounced_, so bytes left unread
    // are not announced again and again.
    std::atomic<std::uint64_t> bytesRead_{0};
    std::atomic<std::uint64_t> rxAnnounced_{0};

    std::mutex errorLock_;  // guards errorBase_
    LineSample errorBase_;

    std::mutex lineLock_;  // guards shadow_ and rs485Kernel_
    DCB shadow_;           // the last block applied, for fields termios lacks
    bool rs485Kernel_ = false;
    std::atomic<bool> rs485Emulated_{false};
    std::atomic<bool> transmitterMayBeHeld_{false};
    // Emulated RS-485: RTS was raised for the transmission under way.
    std::atomic<bool> rtsHeldForSending_{false};
    std::atomic<std::uint32_t> baudRate_{9600};
    // What tells this driver's transmitter empty; set at open.
    TransmitterTracking tracking_;
    TerminalKind terminalKind_ = TerminalKind::Pseudo;
    // The baud clock's floor (CLOCK_MONOTONIC ns): the earliest moment the
    // last byte accepted can have left, whatever the driver reports.
    std::atomic<std::int64_t> wireFreeAt_{0};
    std::atomic<std::int64_t> characterNanoseconds_{1'041'667};
};

}  // namespace sio
