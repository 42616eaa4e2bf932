// TSioWin32Dispatcher: the dispatcher of a serial port on Windows, on the
// kernel32 serial services with overlapped I/O. The core (TSioBaseDispatcher)
// runs the rings, workers and triggers; this class owns every call that
// touches the device handle (through Kernel32(), kernel32_calls.h).
//
// Threads, as the core's device primitives state them: open, close, setup,
// line, escape and purge on the owner thread; the event wait on the com
// worker; errors, modem lines and reads on the dispatch worker; writes on
// the output worker; the mask change to 0 and the write cancel from any
// thread. Each overlapped operation has its own OVERLAPPED and event.
//
// TSioTAPI32Dispatcher is the telephony variant: the same dispatcher over a
// handle opened elsewhere.
#pragma once

#include "serial/core/dispatcher.h"
#include "serial/win32/windows_api.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace sio {

class TSioWin32Dispatcher : public TSioBaseDispatcher {
public:
    explicit TSioWin32Dispatcher(TSioCustomComPort* owner = nullptr);
    ~TSioWin32Dispatcher() override;

protected:
    // For the telephony variant: the handle is taken over at open.
    TSioWin32Dispatcher(TSioCustomComPort* owner, HANDLE adopted);

    int DeviceEscape(int code) override;
    int DeviceGetLine(DCB& record) override;
    int DeviceRead(char* buffer, int n) override;
    int DeviceSetLine(const DCB& record) override;
    int DeviceWaitEvent(std::uint32_t& mask) override;
    int DeviceSetupQueues(int inSize, int outSize) override;
    int DeviceOpen(const std::string& name, int inSize, int outSize) override;
    int DeviceCloseHandle() override;
    std::uint32_t DeviceClearErrors(COMSTAT& status) override;
    std::uint32_t DeviceModemStatus() override;
    void DeviceSetEventMask(std::uint32_t mask) override;
    int DeviceWriteRun(const char* data, int n) override;
    int DeviceWaitWritable() override;
    void DeviceCancelWrite() override;
    int DeviceFlush(int which) override;
    int DeviceDrainOutput() override;

private:
    struct OverlappedOperation {
        OVERLAPPED Overlapped{};
        void Reset() {
            HANDLE event = Overlapped.hEvent;
            Overlapped = OVERLAPPED{};
            Overlapped.hEvent = event;
            ::ResetEvent(event);
        }
    };

    int TakeIntoService(HANDLE device);
    void CloseEvents();
    // A failure that means the device is gone for good (unplugged, peer
    // gone), as opposed to a wait that was cut short or refused.
    static bool MeansDeviceGone(DWORD error);
    void SettleWriteLocked();  // writeLock_ held

    // Guards the handle against DeviceCloseHandle: every primitive holds it
    // shared while it uses device_, blocking waits included (the close wakes
    // them first); open and close hold it exclusive.
    std::shared_timed_mutex useLock_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE adopted_ = nullptr;  // the telephony handle until open takes it
    bool adopting_ = false;
    std::atomic<bool> open_{false};
    std::atomic<bool> closing_{false};

    OverlappedOperation ReadOverlap;  // every DeviceRead
    HANDLE SpareEvent = nullptr;      // made at open, closed at close; no I/O uses it
    OverlappedOperation waitOverlap_;  // the com worker's event wait
    std::atomic<bool> timeoutsSet_{false};
    std::atomic<bool> goneReported_{false};  // com worker only writes it
    std::atomic<DWORD> eventMask_{0};         // the mask last given to the device
    // Bytes were announced (EV_RXCHAR) and no read has taken any since.
    std::atomic<bool> arrivalAnnounced_{false};

    // The run in flight: WriteFile keeps its buffer until it completes, while
    // the core may move or purge its ring meanwhile, so the run is copied.
    std::mutex writeLock_;  // guards the four fields below
    OverlappedOperation writeOverlap_;
    std::vector<char> writeBuffer_;
    bool writeInFlight_ = false;
    int writeCompleted_ = -1;  // bytes of the last run taken, not yet reported
    HANDLE writeCancel_ = nullptr;  // auto-reset: DeviceCancelWrite and close
};

class TSioTAPI32Dispatcher : public TSioWin32Dispatcher {
public:
    // `deviceHandle` is the handle the telephony layer opened; 0 means none,
    // and opening then fails with -2007 ("device not open").
    TSioTAPI32Dispatcher(TSioCustomComPort* owner, int deviceHandle);
};

}  // namespace sio
