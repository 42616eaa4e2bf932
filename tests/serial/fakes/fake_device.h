// An in-memory device layer for the dispatcher core: scriptable arrivals,
// modem lines, line errors, writes that complete, stall, complete in part or
// fail, and a device that vanishes. Thread-safe like a real device layer.
#pragma once

#include "serial/core/dispatcher.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class FakeDispatcher : public sio::TSioBaseDispatcher {
public:
    enum class WriteMode { Accept, Partial, Budget, Stall, Fail };

    // `owner` is the component the dispatcher belongs to, when a test has one.
    explicit FakeDispatcher(sio::TSioCustomComPort* owner = nullptr);
    ~FakeDispatcher() override;

    // ---- Scripting ----
    void Arrive(const std::string& bytes);       // into the device's input queue, EV_RXCHAR
    void SetModemLines(std::uint32_t lines);     // MS_* bits, with EV_CTS | EV_DSR | EV_RLSD
    void RaiseLineErrors(std::uint32_t errors);  // CE_* bits, with EV_ERR
    void Vanish();                               // unplugged: EV_ERR once, then gone
    // The driver counts `n` bytes that a read then does not deliver (a
    // terminal's count can run ahead of its queue), with EV_RXCHAR.
    void AnnounceUnreadable(int n);
    // Partial: each write takes at most `limit` bytes. Budget: `limit` bytes
    // in all, then a stall. Stall: writes take nothing and waits block until
    // the mode changes.
    void SetWriteMode(WriteMode mode, int limit = 0);
    void SetOpenResult(int result) { openResult_ = result; }
    void SetSetupResult(int result) { setupResult_ = result; }
    void SetDeviceLine(const sio::DCB& record);

    // ---- Observations ----
    std::string Written();
    std::vector<std::string> OfferedRuns();  // what each write was given
    std::vector<std::string> Calls();        // owner-side operations, in order
    std::size_t PendingInput();
    int SetLineCount();
    int WaitEventCalls();
    int WaitWritableCalls();
    int PassCount();  // dispatch passes (one modem-line read each)
    std::uint32_t CollectedLineErrors() const { return LineErrors.load(); }  // what the passes gathered
    sio::DCB DeviceLine();
    std::vector<int> Escapes();
    static int OpenHandles();

    // Expose protected state for assertions made while the workers rest.
    using TSioBaseDispatcher::InQueueSize;
    using TSioBaseDispatcher::OutRingSize;

protected:
    int DeviceEscape(int code) override;
    int DeviceGetLine(sio::DCB& record) override;
    int DeviceRead(char* buffer, int n) override;
    int DeviceSetLine(const sio::DCB& record) override;
    int DeviceWaitEvent(std::uint32_t& mask) override;
    int DeviceSetupQueues(int inSize, int outSize) override;
    int DeviceOpen(const std::string& name, int inSize, int outSize) override;
    int DeviceCloseHandle() override;
    std::uint32_t DeviceClearErrors(sio::COMSTAT& status) override;
    std::uint32_t DeviceModemStatus() override;
    void DeviceSetEventMask(std::uint32_t mask) override;
    int DeviceWriteRun(const char* data, int n) override;
    int DeviceWaitWritable() override;
    void DeviceCancelWrite() override;
    int DeviceFlush(int which) override;

private:
    void Log(const std::string& call);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string input_;
    std::string written_;
    std::vector<std::string> offered_;
    std::vector<std::string> calls_;
    std::vector<int> escapes_;
    sio::DCB line_{};
    std::uint32_t modem_ = 0;
    std::uint32_t errors_ = 0;
    std::uint32_t events_ = 0;  // seen, not yet reported
    std::uint32_t mask_ = 0;
    bool wake_ = false;       // the event mask was cleared: a pending wait returns
    bool cancel_ = false;     // a pending (or the next) writable wait returns 0
    bool vanished_ = false;
    bool hangUpReported_ = false;
    WriteMode writeMode_ = WriteMode::Accept;
    int writeLimit_ = 0;
    int openResult_ = 3;
    int setupResult_ = 0;
    int setLineCount_ = 0;
    int waitEventCalls_ = 0;
    int waitWritableCalls_ = 0;
    int passes_ = 0;
    int unreadable_ = 0;  // counted as waiting, never delivered
    bool open_ = false;
};
