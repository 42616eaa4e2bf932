// TSioBaseDispatcher: open, shut down, release and destruction; handler
// lists and delivery flags; trigger copies; trace and log switches.
#include "serial/core/dispatcher.h"

#include "serial/core/port_list.h"
#include "serial/errors/result_codes.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace sio {

namespace {

// While the owner thread waits for a worker it handles its queue this often,
// so a worker waiting for a trigger handler on that thread is served.
constexpr auto kPumpSlice = std::chrono::milliseconds(5);
constexpr auto kIdleSlice = std::chrono::milliseconds(50);

}  // namespace

TSioBaseDispatcher::TSioBaseDispatcher(TSioCustomComPort* owner)
    : OwnerPort(owner), ownerThread_(std::this_thread::get_id()) {
    DispatcherHandle = PortListAdd(this);
}

TSioBaseDispatcher::~TSioBaseDispatcher() {
    BeforeDestruction();
    std::lock_guard lock(PortListLock());
    PortListRemove(DispatcherHandle);
}

void TSioBaseDispatcher::BeforeDestruction() {
    if (destructionPrepared_) return;
    destructionPrepared_ = true;
    if (CloseDeferred)
        ReleasePort();
    else
        ShutDown();
    WaitPumping([this] { return ActiveWorkers.load() == 0; });
    // Every worker has left its body; collect the thread objects (a deferred
    // release leaves the dispatch worker's own one behind).
    for (auto* ref : {&ComWorker, &DispWorker, &OutWorker}) {
        std::unique_ptr<TSioDispatcherThread> worker;
        {
            std::lock_guard lock(StateLock);
            worker = std::move(*ref);
        }
        if (worker) worker->Join();
    }
    FreeEvents();
    FreeRings();
}

int TSioBaseDispatcher::OpenAndStart(const std::string& name, int baud, int parity, int databits,
                                     int stopbits, int insize, int outsize, int options) {
    if (WorkersRunning || ActiveWorkers > 0) return ecAlreadyOpen;
    if (outsize < 1 || insize < 0) return ecBadArgument;
    ownerThread_ = std::this_thread::get_id();
    {
        std::lock_guard lock(StateLock);
        releaseState_ = ReleaseState::Open;
    }
    RingLatch = false;
    Delivering = false;
    HandlerDeletesPending = false;
    CloseDeferred = false;
    StopRequested = false;
    CreateEvents();

    int code = 0;
    const int handle = DeviceOpen(name, insize, outsize);
    if (handle < 0) {
        code = handle;
    } else {
        DeviceHandle = handle;
        code = DeviceSetupQueues(insize, outsize);
    }
    if (code == 0) {
        try {
            auto dispRing = std::make_unique<char[]>(kDispRingSize);
            auto outRing = std::make_unique<char[]>(outsize);  // zeroed
            {
                std::lock_guard lock(DispatchLock);
                DispRing = std::move(dispRing);
                DispHead = DispTail = ScanPos = 0;
                DispRingFull = false;
                InAvailDelivery = false;
                PeekDepth = PeekDepthMax = 0;
                ReceivedCount = NotifiedHead = 0;
            }
            std::lock_guard lock(OutputLock);
            OutRing = std::move(outRing);
            OutHead = OutTail = 0;
            OutRingFull = false;
            OutRingSize = outsize;
        } catch (const std::bad_alloc&) {
            code = -ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (code == 0) {
        InQueueSize = insize;
        LineErrors = 0;
        OutSentPending = false;
        {
            std::lock_guard lock(StateLock);
            RS485Active = false;
            UartBase = 0;
            DeviceGetLine(LineRecord);
            DtrAutomatic = (options & optDtrHardwareFlow) != 0;
            RtsAutomatic = (options & optRtsHardwareFlow) != 0;
        }
        if (!DtrAutomatic) DriveDTR((options & optDtrLevel) != 0);
        if (!RtsAutomatic) DriveRTS((options & optRtsLevel) != 0);
        {
            std::lock_guard lock(StateLock);
            AvailThreshold = 0;
            TimerTriggerList.clear();
            DataTriggerList.clear();
            StatusTriggerList.clear();
            NextTriggerHandle = 1;
            StatusHit = false;
            ModemState = static_cast<std::uint8_t>(DeviceModemStatus() & 0xF0);
            AppliedBaud = 115200;
        }
        code = ConfigureLine(baud, parity, databits, stopbits);
    }
    if (code == 0) {
        RefreshLineErrors();
        {
            std::lock_guard lock(TraceLock);
            Trace.Stop();
            TraceOn = false;
            Log.Stop();
            OpenTime = std::chrono::steady_clock::now();
        }
        try {
            StartWorkers();
            return 0;
        } catch (const std::system_error&) {
            code = -ERROR_NOT_ENOUGH_MEMORY;  // no thread could be had
        }
    }
    ShutDown();
    return code;
}

void TSioBaseDispatcher::ShutDown() {
    if (DeviceHandle >= 0) {
        DiscardOutput();
        DiscardInput();
        DeviceClose();
    }
    bool deferred;
    {
        // Checked and set together: the dispatch worker reads CloseDeferred
        // only after clearing Delivering under the same lock.
        std::lock_guard lock(StateLock);
        deferred = Delivering;
        if (deferred) CloseDeferred = true;
    }
    if (!deferred) ReleasePort();
}

void TSioBaseDispatcher::ReleasePort() {
    const bool onWorker = OnDispatchWorker();
    bool wait = false;
    {
        std::lock_guard lock(StateLock);
        ReleaseOnDispExit = false;
        if (releaseState_ == ReleaseState::Released) return;
        if (releaseState_ == ReleaseState::Releasing) {
            // Nobody waits for a release it is itself part of: the worker
            // that runs it, or the thread that started it further up.
            if (onWorker || releasingThread_ == std::this_thread::get_id()) return;
            wait = true;
        } else {
            // The dispatch worker finishes the job only for a close that was
            // deferred to it; otherwise the owner is releasing.
            if (onWorker && !CloseDeferred) return;
            releaseState_ = ReleaseState::Releasing;
            releasingThread_ = std::this_thread::get_id();
        }
    }
    if (wait) {
        WaitPumping([this] {
            std::lock_guard lock(StateLock);
            return releaseState_ == ReleaseState::Released;
        });
        return;
    }
    StopWorkers();
    FreeRings();
    bool workerLeft;
    {
        std::lock_guard lock(StateLock);
        workerLeft = ComWorker || DispWorker || OutWorker;
    }
    // The events go once no worker can touch them; after a deferred release
    // the dispatch worker still runs, and destruction frees them.
    if (!workerLeft) FreeEvents();
    {
        std::lock_guard lock(StateLock);
        releaseState_ = ReleaseState::Released;
    }
    NotifyChange();
}

int TSioBaseDispatcher::DeviceClose() {
    if (WorkersRunning) {
        StopRequested = true;
        DeviceSetEventMask(0);
        std::lock_guard lock(StateLock);
        if (ReadyEvent) ReadyEvent->Set();
        if (GeneralEvent) GeneralEvent->Reset();
    }
    const int result = DeviceCloseHandle();
    if (result == 0) DeviceHandle = -1;
    return result;
}

int TSioBaseDispatcher::DeviceYield() {
    std::this_thread::yield();
    return 0;
}

int TSioBaseDispatcher::DeviceReadFailed(int) { return 0; }

void TSioBaseDispatcher::CreateEvents() {
    std::lock_guard lock(StateLock);
    ComEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Auto);
    ReadyEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Auto);
    GeneralEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Auto);
    OutputEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Auto);
    WriteDoneEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Manual);
    OutFlushEvent = std::make_unique<SyncEvent>(SyncEvent::ResetMode::Auto);
    OutputWaitPair = {OutputEvent.get(), OutFlushEvent.get()};
    WriteWaitPair = {WriteDoneEvent.get(), OutFlushEvent.get()};
}

void TSioBaseDispatcher::FreeEvents() {
    std::lock_guard lock(StateLock);
    OutputWaitPair = {};
    WriteWaitPair = {};
    ComEvent.reset();
    ReadyEvent.reset();
    GeneralEvent.reset();
    OutputEvent.reset();
    WriteDoneEvent.reset();
    OutFlushEvent.reset();
}

void TSioBaseDispatcher::FreeRings() {
    {
        std::lock_guard lock(DispatchLock);
        DispRing.reset();
    }
    std::lock_guard lock(OutputLock);
    OutRing.reset();
}

int TSioBaseDispatcher::EventsOpen() {
    std::lock_guard lock(StateLock);
    int n = 0;
    for (auto* e : {&ComEvent, &ReadyEvent, &GeneralEvent, &OutputEvent, &WriteDoneEvent, &OutFlushEvent})
        n += *e != nullptr;
    return n;
}

bool TSioBaseDispatcher::OnOwnerThread() const { return std::this_thread::get_id() == ownerThread_; }

bool TSioBaseDispatcher::OnDispatchWorker() {
    std::lock_guard lock(StateLock);
    return DispWorker && DispWorker->IsCurrentThread();
}

void TSioBaseDispatcher::NotifyChange() {
    std::lock_guard lock(changeMutex_);
    ++changeCount_;
    changed_.notify_all();
}

void TSioBaseDispatcher::WaitPumping(const std::function<bool()>& done, int timeoutMs,
                                     const std::function<void()>& eachSlice) {
    const bool pump = OnOwnerThread();
    const auto slice = pump ? kPumpSlice : kIdleSlice;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(changeMutex_);
            seen = changeCount_;
        }
        if (done()) return;
        if (timeoutMs != kInfinite && std::chrono::steady_clock::now() >= deadline) return;
        if (pump) CurrentMessageLink().PumpOnce();
        if (eachSlice) eachSlice();
        std::unique_lock lock(changeMutex_);
        changed_.wait_for(lock, slice, [&] { return changeCount_ != seen; });
    }
}

// ---- Handlers and service flags ----

void TSioBaseDispatcher::UpdateServiceFlags(int mode) {
    std::lock_guard lock(StateLock);
    const bool others = WindowHandlers.size() > 1 || !ProcHandlers.empty() || !EventHandlers.empty();
    switch (mode) {
    case 0:
        DeliveryNeeded = others || PortHandlerPresent;
        break;
    case 1:
        PortHandlerPresent = true;
        DeliveryNeeded = true;
        break;
    case 2:
        PortHandlerPresent = false;
        DeliveryNeeded = others;
        break;
    default:
        break;
    }
}

void TSioBaseDispatcher::AddWindowHandler(WindowHandle window) {
    std::lock_guard lock(StateLock);
    WindowHandlers.push_back({window, false});
    DeliveryNeeded = true;
}

void TSioBaseDispatcher::RemoveWindowHandler(WindowHandle window) {
    std::lock_guard lock(StateLock);
    auto it = std::find_if(WindowHandlers.begin(), WindowHandlers.end(),
                           [&](const TWindowHandlerEntry& e) { return e.Window == window && !e.Deleted; });
    if (it == WindowHandlers.end()) {
        UpdateServiceFlags(0);
    } else if (Delivering) {
        // The delivering worker walks the list by index; it is compacted
        // when the delivery ends.
        it->Deleted = true;
        HandlerDeletesPending = true;
    } else {
        WindowHandlers.erase(it);
    }
}

void TSioBaseDispatcher::AddProcHandler(TSioTriggerProc proc) {
    std::lock_guard lock(StateLock);
    ProcHandlers.push_back({std::move(proc), false});
    DeliveryNeeded = true;
}

void TSioBaseDispatcher::AddEventHandler(TSioTriggerProc method, bool synchronize) {
    std::lock_guard lock(StateLock);
    EventHandlers.push_back({std::move(method), synchronize, false});
    DeliveryNeeded = true;
}

void TSioBaseDispatcher::SetOptionBits(int bits, bool on) {
    std::lock_guard lock(StateLock);
    OptionWord = on ? (OptionWord | bits) : (OptionWord & ~bits);
}

void TSioBaseDispatcher::SetAvailThreshold(int n) {
    std::lock_guard lock(StateLock);
    AvailThreshold = std::max(n, 0);
}

void TSioBaseDispatcher::SaveTriggers(TSioTriggerSet& copy) {
    std::lock_guard lock(StateLock);
    copy.AvailThreshold = AvailThreshold;
    copy.TimerTriggers = TimerTriggerList;
    copy.DataTriggers = DataTriggerList;
    copy.StatusTriggers = StatusTriggerList;
}

void TSioBaseDispatcher::RestoreTriggers(const TSioTriggerSet& copy) {
    std::lock_guard lock(StateLock);
    AvailThreshold = copy.AvailThreshold;
    TimerTriggerList = copy.TimerTriggers;
    DataTriggerList = copy.DataTriggers;
    StatusTriggerList = copy.StatusTriggers;
}

// ---- Trace and dispatch log ----

namespace {

template <typename Ring>
int Switch(Ring& ring, TTraceLogState state, std::uint32_t size, const DumpOptions& dump) {
    switch (state) {
    case tlOn:
        ring.Start(size);
        return 0;
    case tlPause:
        ring.Pause();
        return 0;
    case tlClear:
        ring.Clear();
        return 0;
    case tlOff:
        ring.Stop();
        return 0;
    case tlDump:
    case tlAppend: {
        int result = 0;
        if (ring.On()) {
            DumpOptions options = dump;
            options.Append = state == tlAppend;
            result = ring.Dump(options);
        }
        ring.Stop();
        return result;
    }
    }
    return 0;
}

}  // namespace

int TSioBaseDispatcher::SwitchTrace(TTraceLogState state, std::uint32_t size, const DumpOptions& dump) {
    std::lock_guard lock(TraceLock);
    const int result = Switch(Trace, state, size, dump);
    TraceOn = Trace.On();
    return result;
}

int TSioBaseDispatcher::SwitchLog(TTraceLogState state, std::uint32_t size, const DumpOptions& dump) {
    std::lock_guard lock(TraceLock);
    return Switch(Log, state, size, dump);
}

std::vector<std::string> TSioBaseDispatcher::TraceEntries() {
    std::lock_guard lock(TraceLock);
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < Trace.Count(); ++i) entries.push_back(Trace.Entry(i));
    return entries;
}

std::vector<DispatchLog::Block> TSioBaseDispatcher::LogBlocks() {
    std::lock_guard lock(TraceLock);
    return Log.Blocks();
}

void TSioBaseDispatcher::TraceBytes(char kind, const char* bytes, int n) {
    if (!TraceOn) return;
    std::lock_guard lock(TraceLock);
    if (!Trace.Active()) return;
    for (int i = 0; i < n; ++i) Trace.Add(kind, static_cast<std::uint8_t>(bytes[i]));
}

void TSioBaseDispatcher::LogBlock(char kind, const char* bytes, int n) {
    std::lock_guard lock(TraceLock);
    if (!Log.Active() || n <= 0) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - OpenTime);
    Log.Add(kind, static_cast<std::uint32_t>(ms.count()), bytes, static_cast<std::size_t>(n));
}

// ---- Views ----

TSioBaseDispatcher::RingState TSioBaseDispatcher::DispRingState() {
    std::lock_guard lock(DispatchLock);
    return {DispHead, DispTail, DispRingFull};
}

TSioBaseDispatcher::RingState TSioBaseDispatcher::OutRingState() {
    std::lock_guard lock(OutputLock);
    return {OutHead, OutTail, OutRingFull};
}

DCB TSioBaseDispatcher::CurrentLineRecord() {
    std::lock_guard lock(StateLock);
    return LineRecord;
}

}  // namespace sio
