#include "serial/win32/win32_dispatcher.h"

#include "serial/errors/result_codes.h"
#include "serial/win32/kernel32_calls.h"

#include <chrono>

namespace sio {

namespace {

// Minus the thread's last error, as the core's results carry it.
int LastError() { return -static_cast<int>(::GetLastError()); }

HANDLE NewManualEvent() { return Kernel32().CreateEventA(nullptr, TRUE, FALSE, nullptr); }

// Our block and the system's share every field name, so one copy serves
// both directions.
template <class From, class To>
void CopyLineFields(const From& from, To& to) {
    to.BaudRate = from.BaudRate;
    to.fBinary = from.fBinary;
    to.fParity = from.fParity;
    to.fOutxCtsFlow = from.fOutxCtsFlow;
    to.fOutxDsrFlow = from.fOutxDsrFlow;
    to.fDtrControl = from.fDtrControl;
    to.fDsrSensitivity = from.fDsrSensitivity;
    to.fTXContinueOnXoff = from.fTXContinueOnXoff;
    to.fOutX = from.fOutX;
    to.fInX = from.fInX;
    to.fErrorChar = from.fErrorChar;
    to.fNull = from.fNull;
    to.fRtsControl = from.fRtsControl;
    to.fAbortOnError = from.fAbortOnError;
    to.XonLim = from.XonLim;
    to.XoffLim = from.XoffLim;
    to.ByteSize = from.ByteSize;
    to.Parity = from.Parity;
    to.StopBits = from.StopBits;
    to.XonChar = from.XonChar;
    to.XoffChar = from.XoffChar;
    to.ErrorChar = from.ErrorChar;
    to.EofChar = from.EofChar;
    to.EvtChar = from.EvtChar;
}

::DCB ToSystem(const DCB& r) {
    ::DCB d{};
    d.DCBlength = sizeof(::DCB);
    CopyLineFields(r, d);
    return d;
}

DCB FromSystem(const ::DCB& d) {
    DCB r;
    CopyLineFields(d, r);
    return r;
}

}  // namespace

TSioWin32Dispatcher::TSioWin32Dispatcher(TSioCustomComPort* owner) : TSioBaseDispatcher(owner) {}

TSioWin32Dispatcher::TSioWin32Dispatcher(TSioCustomComPort* owner, HANDLE adopted)
    : TSioBaseDispatcher(owner), adopted_(adopted), adopting_(true) {}

TSioWin32Dispatcher::~TSioWin32Dispatcher() {
    // The shutdown still needs the device operations, which are gone once
    // the base destructor runs.
    BeforeDestruction();
    DeviceCloseHandle();
}

bool TSioWin32Dispatcher::MeansDeviceGone(DWORD error) {
    switch (error) {
    case ERROR_IO_PENDING:
    case ERROR_OPERATION_ABORTED:  // our own mask change or purge cut it short
    case ERROR_INVALID_PARAMETER:  // a wait the driver refuses
    case ERROR_INVALID_HANDLE:     // closed by us
        return false;
    default:
        return true;
    }
}

// ---- Open and close ----

int TSioWin32Dispatcher::DeviceOpen(const std::string& name, int, int) {
    std::unique_lock use(useLock_);
    if (open_) return -ERROR_ACCESS_DENIED;
    HANDLE device;
    if (adopting_) {
        if (adopted_ == nullptr) {
            ::SetLastError(2007);
            return ecCommNotOpen;
        }
        device = adopted_;
        adopted_ = nullptr;
    } else {
        // Exclusive (share mode 0) and overlapped: the workers wait on the
        // device while the owner writes and changes settings.
        device = Kernel32().CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (device == INVALID_HANDLE_VALUE) return LastError();
    }
    return TakeIntoService(device);
}

int TSioWin32Dispatcher::TakeIntoService(HANDLE device) {
    ReadOverlap.Overlapped.hEvent = NewManualEvent();
    SpareEvent = NewManualEvent();
    waitOverlap_.Overlapped.hEvent = NewManualEvent();
    writeOverlap_.Overlapped.hEvent = NewManualEvent();
    writeCancel_ = Kernel32().CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!ReadOverlap.Overlapped.hEvent || !SpareEvent || !waitOverlap_.Overlapped.hEvent ||
        !writeOverlap_.Overlapped.hEvent || !writeCancel_) {
        CloseEvents();
        Kernel32().CloseHandle(device);
        return -ERROR_NOT_ENOUGH_MEMORY;
    }
    device_ = device;
    closing_ = false;
    timeoutsSet_ = false;
    goneReported_ = false;
    eventMask_ = 0;
    arrivalAnnounced_ = false;
    writeInFlight_ = false;
    writeCompleted_ = -1;
    open_ = true;
    // Handles are small multiples of four, so they fit the core's int.
    return static_cast<int>(reinterpret_cast<std::intptr_t>(device));
}

void TSioWin32Dispatcher::CloseEvents() {
    for (HANDLE* event : {&ReadOverlap.Overlapped.hEvent, &SpareEvent, &waitOverlap_.Overlapped.hEvent,
                          &writeOverlap_.Overlapped.hEvent, &writeCancel_}) {
        if (*event != nullptr && Kernel32().CloseHandle(*event)) *event = nullptr;
    }
}

int TSioWin32Dispatcher::DeviceCloseHandle() {
    if (!open_) return -1;
    // Wake every wait that holds the handle in use: the event wait ends
    // with the mask cleared, the output worker with its cancel.
    closing_ = true;
    std::unique_lock use(useLock_, std::defer_lock);
    // Repeated: a wait that began just before closing_ was seen is woken too.
    do {
        Kernel32().SetCommMask(device_, 0);
        ::SetEvent(writeCancel_);
    } while (!use.try_lock_for(std::chrono::milliseconds(10)));
    {
        // A write still in flight owns its buffer until the system lets go.
        std::lock_guard write(writeLock_);
        if (writeInFlight_) {
            Kernel32().PurgeComm(device_, PURGE_TXABORT | PURGE_TXCLEAR);
            SettleWriteLocked();
        }
    }
    if (!Kernel32().CloseHandle(device_)) return -1;
    device_ = INVALID_HANDLE_VALUE;
    open_ = false;
    // The events go after the handle: an operation that was still running
    // on it may signal its event until then.
    CloseEvents();
    return 0;
}

// ---- Line settings, queues, modem lines ----

int TSioWin32Dispatcher::DeviceSetupQueues(int inSize, int outSize) {
    std::shared_lock use(useLock_);
    if (!open_) return -ERROR_INVALID_HANDLE;
    return Kernel32().SetupComm(device_, static_cast<DWORD>(inSize), static_cast<DWORD>(outSize)) ? 0 : LastError();
}

int TSioWin32Dispatcher::DeviceGetLine(DCB& record) {
    std::shared_lock use(useLock_);
    if (!open_) return -1;
    ::DCB block{};
    block.DCBlength = sizeof block;
    if (Kernel32().GetCommState(device_, &block) != 1) return -1;
    record = FromSystem(block);
    return 0;
}

int TSioWin32Dispatcher::DeviceSetLine(const DCB& record) {
    std::shared_lock use(useLock_);
    if (!open_) return -ERROR_INVALID_HANDLE;
    ::DCB block = ToSystem(record);
    return Kernel32().SetCommState(device_, &block) ? 0 : LastError();
}

int TSioWin32Dispatcher::DeviceEscape(int code) {
    std::shared_lock use(useLock_);
    // The system's answer is ignored, as every caller expects.
    if (open_) Kernel32().EscapeCommFunction(device_, static_cast<DWORD>(code));
    return 0;
}

std::uint32_t TSioWin32Dispatcher::DeviceModemStatus() {
    std::shared_lock use(useLock_);
    DWORD lines = 0;
    if (!open_ || closing_ || !Kernel32().GetCommModemStatus(device_, &lines)) return 0;
    return lines;
}

std::uint32_t TSioWin32Dispatcher::DeviceClearErrors(COMSTAT& status) {
    std::shared_lock use(useLock_);
    DWORD errors = 0;
    ::COMSTAT queues{};
    if (!open_ || closing_ || !Kernel32().ClearCommError(device_, &errors, &queues)) return 0;
    status.fCtsHold = queues.fCtsHold;
    status.fDsrHold = queues.fDsrHold;
    status.fRlsdHold = queues.fRlsdHold;
    status.fXoffHold = queues.fXoffHold;
    status.fXoffSent = queues.fXoffSent;
    status.fEof = queues.fEof;
    status.fTxim = queues.fTxim;
    status.cbInQue = queues.cbInQue;
    status.cbOutQue = queues.cbOutQue;
    return errors;
}

int TSioWin32Dispatcher::DeviceFlush(int which) {
    std::shared_lock use(useLock_);
    if (!open_) return -ERROR_INVALID_HANDLE;
    if (which != 0 && which != 1) return -ERROR_INVALID_PARAMETER;
    if (which == 1) {
        arrivalAnnounced_ = false;
        return Kernel32().PurgeComm(device_, PURGE_RXABORT | PURGE_RXCLEAR) == 1 ? 0 : LastError();
    }
    const BOOL purged = Kernel32().PurgeComm(device_, PURGE_TXABORT | PURGE_TXCLEAR);
    const int result = purged == 1 ? 0 : LastError();
    // The aborted write is over: its bytes are void with the ring's.
    std::lock_guard write(writeLock_);
    SettleWriteLocked();
    return result;
}

// ---- Events and reads ----

void TSioWin32Dispatcher::DeviceSetEventMask(std::uint32_t mask) {
    std::shared_lock use(useLock_);
    if (!open_) return;
    eventMask_ = mask;
    Kernel32().SetCommMask(device_, mask);
    if (mask == 0 || timeoutsSet_) return;
    // Set once, as the event worker starts: a read returns at once with what
    // the driver holds, and writes have no time-out.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    Kernel32().SetCommTimeouts(device_, &timeouts);
    timeoutsSet_ = true;
}

int TSioWin32Dispatcher::DeviceWaitEvent(std::uint32_t& mask) {
    std::shared_lock use(useLock_);
    if (!open_ || closing_) return 0;
    if (goneReported_) return -ERROR_GEN_FAILURE;
    // Windows refuses a wait with nothing to wait for; Wine would wait for
    // ever. Refused here on both, so a stop that cleared the mask just
    // before this wait began still lets the worker go.
    if (eventMask_ == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD events = 0;
    DWORD error = 0;
    waitOverlap_.Reset();
    if (!Kernel32().WaitCommEvent(device_, &events, &waitOverlap_.Overlapped)) {
        error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            DWORD unused = 0;
            // Ends with an event, or when the mask is cleared (stop, close).
            error = Kernel32().GetOverlappedResult(device_, &waitOverlap_.Overlapped, &unused, TRUE)
                        ? 0
                        : ::GetLastError();
        }
    }
    if (error == 0) {
        // Wine reports EV_RXCHAR at every wait while bytes are queued, where
        // Windows reports an arrival. Bytes already announced and not yet
        // read are not announced again: a reader that cannot take them now
        // (its ring is full) would otherwise be woken without pause.
        if (events == EV_RXCHAR && arrivalAnnounced_) return 0;
        if (events & EV_RXCHAR) arrivalAnnounced_ = true;
        mask = events;
        return events != 0 ? 1 : 0;
    }
    if (!MeansDeviceGone(error) || closing_) return 0;
    // Reported once as a line error; the core then stops waiting on the
    // device instead of being answered at once for ever.
    goneReported_ = true;
    mask = EV_ERR;
    return 1;
}

int TSioWin32Dispatcher::DeviceRead(char* buffer, int n) {
    std::shared_lock use(useLock_);
    if (!open_ || closing_) return -ERROR_INVALID_HANDLE;
    if (goneReported_) return -ERROR_GEN_FAILURE;
    // Until the event worker has set the read time-outs a read could wait
    // for bytes that have not arrived; they are read on the next pass.
    if (!timeoutsSet_ || n <= 0) return 0;
    DWORD got = 0;
    ReadOverlap.Reset();
    if (!Kernel32().ReadFile(device_, buffer, static_cast<DWORD>(n), &got, &ReadOverlap.Overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) return -static_cast<int>(error);
        if (!Kernel32().GetOverlappedResult(device_, &ReadOverlap.Overlapped, &got, TRUE)) return LastError();
        ::ResetEvent(ReadOverlap.Overlapped.hEvent);
    }
    if (got > 0) arrivalAnnounced_ = false;
    return static_cast<int>(got);
}

// ---- Writes ----
//
// The core hands the output worker a run and asks how many of its bytes the
// device took. An overlapped write takes them only when it completes, so
// the first call starts the write on a copy and answers 0; DeviceWaitWritable
// waits for the completion; the next call for the same run answers the
// count. A count is never reported twice, and a write is never repeated.

int TSioWin32Dispatcher::DeviceWriteRun(const char* data, int n) {
    std::shared_lock use(useLock_);
    if (!open_ || closing_) return -ERROR_INVALID_HANDLE;
    if (goneReported_) return -ERROR_GEN_FAILURE;
    std::lock_guard write(writeLock_);
    if (writeCompleted_ >= 0) {
        const int taken = writeCompleted_;
        writeCompleted_ = -1;
        return taken;
    }
    if (writeInFlight_) return 0;
    if (n <= 0) return 0;
    writeBuffer_.assign(data, data + n);
    writeOverlap_.Reset();
    DWORD written = 0;
    if (Kernel32().WriteFile(device_, writeBuffer_.data(), static_cast<DWORD>(n), &written,
                             &writeOverlap_.Overlapped)) {
        // Done at once. Nothing taken is a failure: the run is dropped
        // rather than offered to a device that takes nothing.
        return written > 0 ? static_cast<int>(written) : -ERROR_GEN_FAILURE;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return -static_cast<int>(error);
    writeInFlight_ = true;
    return 0;
}

int TSioWin32Dispatcher::DeviceWaitWritable() {
    std::shared_lock use(useLock_);
    if (!open_ || closing_) return -ERROR_INVALID_HANDLE;
    if (goneReported_) return -ERROR_GEN_FAILURE;
    HANDLE done;
    {
        std::lock_guard write(writeLock_);
        if (!writeInFlight_) return 1;
        done = writeOverlap_.Overlapped.hEvent;
    }
    HANDLE waits[2] = {done, writeCancel_};
    const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) return 0;  // cancelled: the write stays in flight
    std::lock_guard write(writeLock_);
    if (!writeInFlight_) return 1;  // a purge settled it meanwhile
    DWORD written = 0;
    const BOOL ok = Kernel32().GetOverlappedResult(device_, &writeOverlap_.Overlapped, &written, FALSE);
    const DWORD error = ok ? 0 : ::GetLastError();
    writeInFlight_ = false;
    // What went out counts as taken even when the write then failed, so no
    // byte is sent twice; a write that failed having sent nothing drops its
    // run.
    if (written > 0 || ok) {
        writeCompleted_ = static_cast<int>(written);
        return 1;
    }
    return -static_cast<int>(error);
}

void TSioWin32Dispatcher::DeviceCancelWrite() {
    std::shared_lock use(useLock_);
    if (writeCancel_ != nullptr) ::SetEvent(writeCancel_);
}

void TSioWin32Dispatcher::SettleWriteLocked() {
    if (writeInFlight_) {
        // The purge's abort does not reach every write: Wine leaves one on a
        // line that takes nothing pending. Cancelled, it ends at once.
        Kernel32().CancelIoEx(device_, &writeOverlap_.Overlapped);
        DWORD written = 0;
        Kernel32().GetOverlappedResult(device_, &writeOverlap_.Overlapped, &written, TRUE);
        writeInFlight_ = false;
    }
    writeCompleted_ = -1;
}

// Owner thread. FlushFileBuffers returns once the driver has sent what it
// holds; a line that flow control may hold could keep it waiting for ever,
// so there the caller allows the bytes' sending time instead.
int TSioWin32Dispatcher::DeviceDrainOutput() {
    std::shared_lock use(useLock_);
    if (!open_ || closing_) return -ERROR_INVALID_HANDLE;
    if (goneReported_) return -ERROR_GEN_FAILURE;
    ::DCB block{};
    block.DCBlength = sizeof block;
    if (!Kernel32().GetCommState(device_, &block)) return LastError();
    if (block.fOutxCtsFlow || block.fOutxDsrFlow || block.fOutX) return -ERROR_INVALID_FUNCTION;
    return Kernel32().FlushFileBuffers(device_) ? 0 : LastError();
}

// ---- Telephony ----

TSioTAPI32Dispatcher::TSioTAPI32Dispatcher(TSioCustomComPort* owner, int deviceHandle)
    : TSioWin32Dispatcher(owner, reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(deviceHandle))) {}

}  // namespace sio
