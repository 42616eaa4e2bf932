// TSioBaseDispatcher: the engine behind one open port. It owns the 8192-byte
// dispatch ring (received bytes), the output ring (bytes queued for sending),
// six events and three worker threads for one open/close cycle, and delivers
// triggers to the owner's windows through the window-message layer
// (message_link.h). It reaches the device only through the virtual device
// operations below, which a device layer (posix/, or a fake in tests)
// supplies; it includes neither toolkit nor operating-system headers.
//
// The data-available trigger is the one trigger this build evaluates. Timer,
// data and status triggers exist as lists that are saved and restored
// (triggers.h), but nothing adds them and the dispatch pass does not check
// them. Procedure and event handlers can be added for completeness; the
// program registers only its hidden window.
#pragma once

#include "serial/core/comm_types.h"
#include "serial/core/message_link.h"
#include "serial/core/sync_event.h"
#include "serial/core/trace_log.h"
#include "serial/core/triggers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sio {

class TSioCustomComPort;  // the serial port component; owns the dispatcher
class TSioBaseDispatcher;

// Trigger and notification messages, sent or posted to the component's
// hidden window; lParam carries the dispatcher's handle in its high 16 bits.
inline constexpr unsigned MsgTriggerAvail = 0x7E01;
inline constexpr unsigned MsgTriggerData = 0x7E02;
inline constexpr unsigned MsgTriggerTimer = 0x7E03;
inline constexpr unsigned MsgTriggerStatus = 0x7E04;
inline constexpr unsigned MsgPortOpened = 0x7E08;
inline constexpr unsigned MsgPortClosed = 0x7E09;
inline constexpr unsigned MsgPortClosing = 0x7E0A;

inline constexpr int kDispRingSize = 8192;
inline constexpr int kDeliveryTimeoutMs = 3000;  // a window handler may hold a worker this long
inline constexpr int kDispatchTickMs = 50;       // the dispatch worker's pass without device events
// The same while nothing waits for a pass (see QuietAfterPass): every change
// on the line then comes with a device event, and an idle port wakes the
// machine once a second instead of twenty times.
inline constexpr int kQuietTickMs = 1000;
inline constexpr int kStartAckTimeoutMs = 3000;
inline constexpr int kPurgeAckTimeoutMs = 5000;

// The option word of OpenAndStart.
inline constexpr int optDtrLevel = 1;
inline constexpr int optRtsLevel = 2;
inline constexpr int optDtrHardwareFlow = 16;
inline constexpr int optRtsHardwareFlow = 32;

// Flow-control bits as the component passes them.
inline constexpr int kHwFlowUseDtr = 1;
inline constexpr int kHwFlowUseRts = 2;
inline constexpr int kHwFlowRequireDsr = 4;
inline constexpr int kHwFlowRequireCts = 8;
inline constexpr int kSwFlowTransmit = 1;
inline constexpr int kSwFlowReceive = 2;

// The event mask the com worker asks the device for (receive, modem lines,
// break, error, ring). We always run as the NT platform family, so the ring
// trailing-edge bit is never added.
inline constexpr std::uint32_t kDeviceEventMask = 0x1F9;

// A procedure or method handler: (msg, wParam, lParam).
using TSioTriggerProc = std::function<void(unsigned, WParam, LParam)>;

// Base of the three workers. Owned by the dispatcher and joined by it; a
// worker never frees itself, and "ending" means its body has returned.
class TSioDispatcherThread {
public:
    explicit TSioDispatcherThread(TSioBaseDispatcher& dispatcher);
    virtual ~TSioDispatcherThread();  // joins
    TSioDispatcherThread(const TSioDispatcherThread&) = delete;
    TSioDispatcherThread& operator=(const TSioDispatcherThread&) = delete;

    void Start();
    bool Running() const { return running_.load(std::memory_order_acquire); }
    bool IsCurrentThread() const { return std::this_thread::get_id() == id_.load(); }
    void Join();

    // Scheduling level relative to normal (best effort; see SetWorkerBoost).
    std::atomic<int> Priority{0};

    static int LiveCount() { return live_.load(); }

protected:
    virtual void Body() = 0;

    TSioBaseDispatcher& Dispatcher;

private:
    void Run();

    std::thread thread_;
    std::atomic<std::thread::id> id_{};
    std::atomic<bool> running_{false};
    static std::atomic<int> live_;
};

class TComThread final : public TSioDispatcherThread {
public:
    using TSioDispatcherThread::TSioDispatcherThread;
    ~TComThread() override { Join(); }

protected:
    void Body() override;
};

class TDispThread final : public TSioDispatcherThread {
public:
    using TSioDispatcherThread::TSioDispatcherThread;
    ~TDispThread() override { Join(); }

protected:
    void Body() override;
};

class TOutThread final : public TSioDispatcherThread {
public:
    using TSioDispatcherThread::TSioDispatcherThread;
    ~TOutThread() override { Join(); }

protected:
    void Body() override;
    void Drain();
};

class TSioBaseDispatcher {
public:
    explicit TSioBaseDispatcher(TSioCustomComPort* owner = nullptr);
    // A device layer's destructor must call BeforeDestruction() first: the
    // shutdown still needs the device operations, which are gone by the time
    // this destructor runs.
    virtual ~TSioBaseDispatcher();
    TSioBaseDispatcher(const TSioBaseDispatcher&) = delete;
    TSioBaseDispatcher& operator=(const TSioBaseDispatcher&) = delete;

    // ---- The eighteen operations, in the design's slot order ----
    virtual int DeviceEscape(int code) = 0;                             // 0
    virtual int DevicePurge(int which);                                 // 1
    virtual std::uint32_t DeviceReadErrors(COMSTAT& status);            // 2
    virtual int DeviceReadFailed(int value);                            // 3
    virtual int DeviceGetLine(DCB& record) = 0;                         // 4
    virtual int DeviceRead(char* buffer, int n) = 0;                    // 5
    virtual int DeviceSetLine(const DCB& record) = 0;                   // 6
    virtual int DeviceWrite(const char* buffer, int n);                 // 7
    virtual int DeviceWaitEvent(std::uint32_t& mask) = 0;               // 8
    virtual int DeviceSetupQueues(int inSize, int outSize) = 0;         // 9
    virtual void ReleasePort();                                         // 10
    virtual void StartWorkers();                                        // 11
    virtual void StopWorkers();                                         // 12
    virtual int DeviceOpen(const std::string& name, int inSize, int outSize) = 0;  // 13
    virtual int DeviceClose();                                          // 14
    virtual int DeviceYield();                                          // 15
    virtual void SetWorkerBoost(int boost);                             // 16
    virtual void UpdateServiceFlags(int mode);                          // 17

    // ---- Device primitives: what a device layer supplies besides the
    // abstract slots above. Results are 0 / counts, or minus a Windows error
    // number (never a raw errno).
    //
    // Threads: open, close, setup, line, escape and flush run on the owner
    // thread; DeviceWaitEvent and DeviceSetEventMask(mask != 0) on the com
    // worker; DeviceClearErrors, DeviceModemStatus and DeviceRead on the
    // dispatch worker (DeviceClearErrors also on the owner, from QueueBlock);
    // DeviceWriteRun and DeviceWaitWritable on the output worker;
    // DeviceSetEventMask(0) and DeviceCancelWrite from any thread.
    //
    // The close order is purge output, purge input, DeviceCloseHandle, then
    // the workers are stopped: until they are, they may still call their
    // primitives on a closed device, which must then fail harmlessly.
    // DeviceSetEventMask(0) and DeviceCancelWrite should also release a wait
    // that starts just after them; the core repeats both while it waits for a
    // worker to stop, so a wake-up that arrives early is not fatal.
    //
    // DeviceOpen: handle >= 0, or minus an error (-2 no such port, -3 path
    // not found, -5 in use, -8 out of memory). DeviceCloseHandle: 0 or -1.
    // DeviceSetupQueues, DeviceSetLine, DeviceFlush(0 output / 1 input): 0 or
    // minus an error. DeviceGetLine: 0 or -1. DeviceEscape: always 0.
    // DeviceClearErrors: fetches and clears CE_* bits, fills cbInQue.
    // DeviceModemStatus: MS_* bits. DeviceRead: bytes already there (never
    // waits), negative on failure. DeviceWaitEvent: 1 with the events seen,
    // 0 when woken by DeviceSetEventMask(0) or refused at once, negative when
    // the device is gone for good (after reporting EV_ERR once).
    // DeviceWriteRun: bytes taken now (> 0), 0 when none can be taken now,
    // negative on failure (the run is dropped). DeviceWaitWritable: 1
    // writable, 0 cancelled, negative on failure.
    virtual int DeviceCloseHandle() = 0;
    virtual std::uint32_t DeviceClearErrors(COMSTAT& status) = 0;
    virtual std::uint32_t DeviceModemStatus() = 0;
    virtual void DeviceSetEventMask(std::uint32_t mask) = 0;
    virtual int DeviceWriteRun(const char* data, int n) = 0;
    virtual int DeviceWaitWritable() = 0;
    virtual void DeviceCancelWrite() = 0;
    virtual int DeviceFlush(int which) = 0;
    // The output worker found the ring empty after sending: a device that
    // drives RTS around transmissions lowers it once the line is idle.
    // Output worker only; nothing to do by default.
    virtual void DeviceEndTransmission() {}
    // Waits until the device has sent every byte it took, owner thread: 0,
    // or minus an error when the device cannot tell (the default).
    virtual int DeviceDrainOutput() { return -ERROR_INVALID_FUNCTION; }

    // ---- Called by the component, on the owner thread ----
    int OpenAndStart(const std::string& name, int baud, int parity, int databits, int stopbits,
                     int insize, int outsize, int options);
    void ShutDown();
    // Everything destruction needs from the device and the workers; safe to
    // call twice. The derived destructor calls it; the deleter may too.
    void BeforeDestruction();

    int QueueBlock(const char* bytes, int n);
    int TakeByte(char& b);
    // Several TakeByte calls under one lock, for a reader that keeps what it
    // has not used yet. Inside a data-available delivery it takes every byte
    // the running handler has not seen (at most `max`) and names that
    // delivery in `delivery`; elsewhere one byte, with `delivery` 0. Returns
    // the count, or ecBufferIsEmpty. Nothing is traced: the reader traces
    // each byte as it uses it (NoteTaken).
    int TakeBytes(char* out, int max, std::uint64_t& delivery);
    // Gives back the last n bytes taken by TakeBytes, provided the delivery
    // they came from is still running; false otherwise (they stay taken).
    bool ReturnBytes(int n, std::uint64_t delivery);
    // Bumped by every input purge: bytes a reader took ahead before it are
    // void.
    std::uint64_t InputGeneration() const { return InputPurges.load(std::memory_order_acquire); }
    // The reader of TakeBytes reports each byte it uses, for the trace.
    void NoteTaken(char b) {
        if (TraceOn.load(std::memory_order_relaxed)) TraceBytes('R', &b, 1);
    }
    // ...and, for bytes of a delivery, how many it still holds unused:
    // UnreadCount counts those as unread while that delivery runs.
    void NoteHeldAhead(int n) { AheadUnused.store(n, std::memory_order_relaxed); }
    int PeekByte(char& b, int k);
    int UnreadCount();
    int OutputQueued();
    int OutputRoom();
    void DiscardInput();
    void DiscardOutput();

    // Line settings.
    int ConfigureLine(int baud, int parity, int databits, int stopbits);
    int ApplyHardwareFlow(int full, int resume, int bits);
    int ApplySoftwareFlow(int full, int resume, int bits);
    int SoftwareFlowOff();
    int ApplyFlowChars(char xon, char xoff);
    int DriveDTR(bool level);
    int DriveRTS(bool level);
    void SwitchRS485(bool on);
    std::uint8_t ModemStatus();
    int TakeLineError();
    bool TakeLineBreak();

    // The option word; its value 4 mirrors the component's UseEventWord.
    void SetOptionBits(int bits, bool on);

    // Triggers and handlers. Event handlers with the synchronise flag run on
    // the owner thread (MessageLink::RunOnOwnerThread).
    void SetAvailThreshold(int n);
    void AddWindowHandler(WindowHandle window);
    void RemoveWindowHandler(WindowHandle window);
    void AddProcHandler(TSioTriggerProc proc);
    void AddEventHandler(TSioTriggerProc method, bool synchronize);
    void SaveTriggers(TSioTriggerSet& copy);
    void RestoreTriggers(const TSioTriggerSet& copy);

    // Trace and dispatch log: tlOn starts or resumes with `size` entries /
    // bytes, tlPause pauses, tlClear empties, tlDump / tlAppend write the file
    // (only if it was on) and switch off, tlOff discards.
    int SwitchTrace(TTraceLogState state, std::uint32_t size, const DumpOptions& dump = {});
    int SwitchLog(TTraceLogState state, std::uint32_t size, const DumpOptions& dump = {});
    std::vector<std::string> TraceEntries();
    std::vector<DispatchLog::Block> LogBlocks();

    // ---- Read-only views, each taken under its lock ----
    struct RingState {
        int Head, Tail;
        bool Full;
    };
    RingState DispRingState();
    RingState OutRingState();
    DCB CurrentLineRecord();
    int Handle() const { return DispatcherHandle; }
    TSioCustomComPort* Owner() const { return OwnerPort; }
    bool IsDelivering() const { return Delivering.load(); }
    bool IsCloseDeferred() const { return CloseDeferred.load(); }
    bool AreWorkersRunning() const { return WorkersRunning.load(); }
    int RunningWorkers() const { return ActiveWorkers.load(); }
    // Synchronised event handlers running on the owner thread right now.
    int HandlersOnOwnerThread() const { return OwnerThreadHandlers.load(); }
    int OutputWorkerPriority();
    int EventsOpen();  // how many of the six events exist

    std::string DeviceName;  // "COM%d", set by the component

protected:
    friend class TSioDispatcherThread;
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

    // Receive side (dispatch_ring.cpp).
    // True when the line errors were read on the way (the ring could take bytes).
    bool FillDispatchBuffer();
    int ReadIntoRing(int at, int n);
    bool DeliverTrigger(unsigned msg, WParam wparam, int lparamLow);
    bool CheckDataTriggers();
    void ProcessDeviceEvent();
    void ProcessTimersAndStatus();
    // True when the next pass may wait for a device event as long as
    // kQuietTickMs: no unread bytes (a full ring leaves bytes in the device
    // that raise no new event), an event worker that still runs, no trigger
    // that the pass would have to look at.
    bool QuietAfterPass();
    int UnreadLocked() const;
    int PeekLocked(char& b, int k) const;  // DispatchLock held
    COMSTAT RefreshLineErrors();
    void RefreshModemDelta(std::uint32_t deviceLines);
    // ModemStatus on lines the caller already sampled.
    std::uint8_t TakeModemStatus(std::uint32_t deviceLines);

    // Transmit side (output_ring.cpp).
    int QueuedLocked() const;
    struct Run {
        const char* Data;
        int Length;
        std::uint64_t Generation;
    };
    bool ChooseRun(Run& run);
    void AccountSent(const Run& run, int n);
    void EmptyOutputRing();

    // Line settings (line_settings.cpp).
    void WaitOutputDrained();
    int ApplyLineRecord(DCB record);

    // Lifecycle helpers (dispatcher.cpp, dispatcher_workers.cpp).
    void CreateEvents();
    void FreeEvents();
    void FreeRings();
    bool OnOwnerThread() const;
    bool OnDispatchWorker();
    void WorkerLeft();
    void AcknowledgeStart();  // a worker is ready: armed and waiting
    // Waits until done() holds, pumping the owner's queue when called on the
    // owner thread (a worker may be waiting for a handler to run there).
    void WaitPumping(const std::function<bool()>& done, int timeoutMs = kInfinite,
                     const std::function<void()>& eachSlice = {});
    void StopWorker(std::unique_ptr<TSioDispatcherThread>& worker, int patienceMs);
    void ApplyWorkerPriorities();
    void TraceBytes(char kind, const char* bytes, int n);
    void LogBlock(char kind, const char* bytes, int n);

    // ---- Fields ----
    // Identity (set at construction; DeviceHandle changes only on the owner thread).
    TSioCustomComPort* const OwnerPort;
    int DispatcherHandle = -1;
    std::atomic<int> DeviceHandle{-1};

    // Sizes, set at open.
    int InQueueSize = 0;
    int OutRingSize = 0;

    // DispatchLock guards the dispatch ring, its indexes, the received
    // counts, InAvailDelivery and the peek counters.
    std::mutex DispatchLock;
    std::unique_ptr<char[]> DispRing;
    int DispHead = 0;
    int DispTail = 0;
    bool DispRingFull = false;
    bool InAvailDelivery = false;
    int PeekDepth = 0;
    int PeekDepthMax = 0;
    std::uint64_t AvailDeliveries = 0;  // names the running data-available delivery
    std::uint64_t AheadDelivery = 0;    // the delivery TakeBytes last took ahead from
    std::atomic<int> AheadUnused{0};    // of those, not used yet (the reader keeps it)
    std::atomic<std::uint64_t> InputPurges{0};
    int ScanPos = 0;
    // Running counts of received bytes, so "new data since the last notice"
    // holds even when a whole turn of the ring arrived in one pass.
    std::uint64_t ReceivedCount = 0;
    std::uint64_t NotifiedHead = 0;  // ReceivedCount at the last data-available notice
    std::atomic<int> AvailThreshold{0};

    // OutputLock guards the output ring, its indexes and DeviceStatus.
    std::recursive_mutex OutputLock;
    std::unique_ptr<char[]> OutRing;
    int OutHead = 0;
    int OutTail = 0;
    bool OutRingFull = false;
    // Bumped by every purge, so a run chosen before the purge is not
    // accounted against the emptied ring.
    std::uint64_t OutGeneration = 0;
    std::atomic<bool> OutSentPending{false};
    COMSTAT DeviceStatus{};

    // StateLock guards the line state, handler and trigger lists, the
    // service flags and the worker references.
    std::recursive_mutex StateLock;
    DCB LineRecord{};
    int AppliedBaud = 115200;
    bool DtrLevel = false;
    bool DtrAutomatic = false;
    bool RtsLevel = false;
    bool RtsAutomatic = false;
    bool RS485Active = false;
    std::uint16_t UartBase = 0;
    int OptionWord = 0;
    std::uint8_t ModemState = 0;
    std::atomic<std::uint32_t> LineErrors{0};
    std::atomic<std::uint32_t> EventMask{0};
    std::atomic<bool> RingLatch{false};

    struct TWindowHandlerEntry {
        WindowHandle Window;
        bool Deleted;
    };
    struct TProcHandlerEntry {
        TSioTriggerProc Proc;
        bool Deleted;
    };
    struct TEventHandlerEntry {
        TSioTriggerProc Method;
        bool Synchronize;
        bool Deleted;
    };
    std::vector<TWindowHandlerEntry> WindowHandlers;
    std::vector<TProcHandlerEntry> ProcHandlers;
    std::vector<TEventHandlerEntry> EventHandlers;
    bool PortHandlerPresent = false;
    bool DeliveryNeeded = false;
    std::vector<TTimerTrigger> TimerTriggerList;
    std::vector<TDataTrigger> DataTriggerList;
    std::vector<TStatusTrigger> StatusTriggerList;
    bool StatusHit = false;
    int NextTriggerHandle = 1;

    // Delivery and shutdown flags; read by the workers without a lock.
    std::atomic<bool> Delivering{false};
    std::atomic<bool> HandlerDeletesPending{false};
    std::atomic<bool> CloseDeferred{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> WorkersRunning{false};
    std::atomic<bool> ReleaseOnDispExit{false};
    std::atomic<int> ActiveWorkers{0};
    std::atomic<int> OwnerThreadHandlers{0};
    std::atomic<int> StartAcks{0};

    // Workers (StateLock guards the references).
    std::unique_ptr<TSioDispatcherThread> ComWorker;
    std::unique_ptr<TSioDispatcherThread> DispWorker;
    std::unique_ptr<TSioDispatcherThread> OutWorker;
    int WorkerBoost = 0;

    // The six events: created at open, released once no worker can use them.
    std::unique_ptr<SyncEvent> ComEvent;        // auto: a device event was seen
    std::unique_ptr<SyncEvent> ReadyEvent;      // auto: the dispatch worker finished a pass
    std::unique_ptr<SyncEvent> GeneralEvent;    // auto: stop and flush acknowledgements (starts: StartAcks)
    std::unique_ptr<SyncEvent> OutputEvent;     // auto: bytes were queued
    std::unique_ptr<SyncEvent> WriteDoneEvent;  // manual: a stalled run may go on
    std::unique_ptr<SyncEvent> OutFlushEvent;   // auto: the output worker must drop its run
    struct EventPair {
        SyncEvent* First = nullptr;
        SyncEvent* Second = nullptr;
    };
    EventPair OutputWaitPair;  // {OutputEvent, OutFlushEvent}: the idle output worker
    EventPair WriteWaitPair;   // {WriteDoneEvent, OutFlushEvent}: a run is pending

    // Diagnostics (TraceLock is a leaf lock: taken under any other).
    std::mutex TraceLock;
    std::atomic<bool> TraceOn{false};  // lets the per-byte path skip the lock while off
    TraceRing Trace;
    DispatchLog Log;
    std::chrono::steady_clock::time_point OpenTime{};

private:
    enum class ReleaseState { Open, Releasing, Released };
    ReleaseState releaseState_ = ReleaseState::Released;  // StateLock
    std::thread::id releasingThread_;                      // StateLock
    std::thread::id ownerThread_;
    bool destructionPrepared_ = false;
    // Signalled whenever a worker ends or a release finishes.
    std::mutex changeMutex_;
    std::condition_variable changed_;
    std::uint64_t changeCount_ = 0;  // changeMutex_
    void NotifyChange();
};

}  // namespace sio
