// The three workers of a dispatcher and how they are started and stopped.
//
// TComThread waits for device events and hands each to the dispatch worker
// in lock-step (ComEvent, then ReadyEvent once the bytes were read, so the
// device wait is re-armed only after the data was taken). TDispThread runs a
// dispatch pass on every device event and at least every 50 ms, or every
// second while the port is quiet (QuietAfterPass). TOutThread
// writes the output ring to the device, one contiguous run per write.
#include "serial/core/dispatcher.h"

#include "serial/errors/errors.h"

#include <exception>
#include <system_error>

namespace sio {

namespace {

// How long StopWorkers gives the dispatch worker before it nudges it with
// ComEvent (36 ticks of 55 ms).
constexpr int kDispatchStopPatienceMs = 36 * 55;

}  // namespace

std::atomic<int> TSioDispatcherThread::live_{0};

TSioDispatcherThread::TSioDispatcherThread(TSioBaseDispatcher& dispatcher) : Dispatcher(dispatcher) {
    ++live_;
}

TSioDispatcherThread::~TSioDispatcherThread() {
    Join();
    --live_;
}

void TSioDispatcherThread::Start() {
    running_ = true;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        running_ = false;
        throw;
    }
}

void TSioDispatcherThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TSioDispatcherThread::Run() {
    id_ = std::this_thread::get_id();
    try {
        Body();
    } catch (const std::exception& e) {
        CurrentMessageLink().ReportWorkerException(e.what());
    } catch (...) {
        CurrentMessageLink().ReportWorkerException("Unknown exception in a serial worker");
    }
    running_.store(false, std::memory_order_release);
    Dispatcher.WorkerLeft();
}

void TSioBaseDispatcher::WorkerLeft() {
    if (--ActiveWorkers == 0) WorkersRunning = false;
    NotifyChange();
}

void TComThread::Body() {
    TSioBaseDispatcher& d = Dispatcher;
    d.DeviceSetEventMask(kDeviceEventMask);
    d.AcknowledgeStart();
    while (!d.StopRequested) {
        std::uint32_t mask = 0;
        const int seen = d.DeviceWaitEvent(mask);
        // A device that is gone for good (hang-up, unplugged adapter) would
        // answer every wait at once; reading goes on through the dispatch
        // worker's ticks, and this thread leaves instead of spinning.
        if (seen < 0 || d.StopRequested) break;
        if (seen > 0) {
            d.EventMask = mask;
            if (mask & (EV_RING | EV_RING_TE)) d.RingLatch = true;
            d.ReadyEvent->Reset();
            d.ComEvent->Set();
        }
        // After an event: until the dispatch pass has read the data. After a
        // wait that was woken or refused: until the next pass, so a device
        // that refuses every wait costs one loop per tick, not a core.
        d.ReadyEvent->Wait(kInfinite);
    }
    d.GeneralEvent->Set();
}

void TDispThread::Body() {
    TSioBaseDispatcher& d = Dispatcher;
    d.AcknowledgeStart();
    bool normalEnd = false;
    int tick = kDispatchTickMs;
    for (;;) {
        d.ComEvent->Wait(tick);
        if (d.StopRequested) break;
        d.ProcessDeviceEvent();
        d.ProcessTimersAndStatus();
        if (d.StopRequested || d.CloseDeferred) {
            normalEnd = true;
            break;
        }
        tick = d.QuietAfterPass() ? kQuietTickMs : kDispatchTickMs;
    }
    if (normalEnd) d.GeneralEvent->Set();
    d.ReleaseOnDispExit = d.CloseDeferred || d.StopRequested;
    // A close asked for from inside a trigger handler was left to this
    // worker: stop the other two and free the rings.
    if (d.ReleaseOnDispExit) d.ReleasePort();
}

void TOutThread::Body() {
    TSioBaseDispatcher& d = Dispatcher;
    SyncEvent& output = *d.OutputWaitPair.First;
    SyncEvent& flush = *d.OutputWaitPair.Second;
    d.AcknowledgeStart();
    for (;;) {
        if (SyncEvent::WaitEither(output, flush, kInfinite) == 0) {
            if (d.StopRequested) break;
            Drain();
        } else {
            d.GeneralEvent->Set();  // the purge's acknowledgement
        }
        if (d.StopRequested || d.CloseDeferred) break;
    }
}

void TOutThread::Drain() {
    TSioBaseDispatcher& d = Dispatcher;
    SyncEvent& flush = *d.WriteWaitPair.Second;
    TSioBaseDispatcher::Run run;
    while (d.ChooseRun(run)) {
        if (flush.TryWait()) {
            d.GeneralEvent->Set();
            return;
        }
        if (d.StopRequested) return;
        const int written = d.DeviceWriteRun(run.Data, run.Length);
        if (written != 0) {
            // A failed write drops its run: the device will not take it.
            d.AccountSent(run, written > 0 ? written : run.Length);
            continue;
        }
        // The device cannot take more now: wait until it can, or until a
        // purge or stop cancels the wait.
        d.WriteDoneEvent->Reset();
        const int writable = d.DeviceWaitWritable();
        if (flush.TryWait()) {
            d.GeneralEvent->Set();
            return;
        }
        if (writable < 0) {
            d.AccountSent(run, run.Length);  // the device failed: drop, never spin on it
        } else if (writable > 0) {
            d.WriteDoneEvent->Set();
        } else if (d.StopRequested) {
            return;
        }
        // A cancel without a flush (left over from an earlier purge) just
        // looks again.
    }
    d.DeviceEndTransmission();
}

void TSioBaseDispatcher::AcknowledgeStart() {
    ++StartAcks;
    NotifyChange();
}

void TSioBaseDispatcher::StartWorkers() {
    {
        std::lock_guard lock(StateLock);
        if (WorkersRunning) throw Exception("Dispatcher already started");
        WorkersRunning = true;
        StopRequested = false;
    }
    StartAcks = 0;
    int launched = 0;
    // The three are started one after the other and their acknowledgements
    // awaited together: each thread start costs a wake-up, and an open
    // waits for all of them.
    auto launch = [this, &launched](std::unique_ptr<TSioDispatcherThread>& ref,
                                    std::unique_ptr<TSioDispatcherThread> worker) {
        TSioDispatcherThread* started = worker.get();
        {
            std::lock_guard lock(StateLock);
            ref = std::move(worker);
        }
        ++ActiveWorkers;  // counted from birth, so an early end cannot reach 0 too soon
        try {
            started->Start();
        } catch (const std::system_error&) {
            if (--ActiveWorkers == 0) WorkersRunning = false;
            throw;
        }
        ++launched;
    };
    launch(ComWorker, std::make_unique<TComThread>(*this));
    launch(DispWorker, std::make_unique<TDispThread>(*this));
    launch(OutWorker, std::make_unique<TOutThread>(*this));
    {
        std::unique_lock lock(changeMutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(kStartAckTimeoutMs),
                          [&] { return StartAcks.load() >= launched; });
    }
    std::lock_guard lock(StateLock);
    ApplyWorkerPriorities();
}

void TSioBaseDispatcher::StopWorker(std::unique_ptr<TSioDispatcherThread>& ref, int patienceMs) {
    TSioDispatcherThread* worker;
    {
        std::lock_guard lock(StateLock);
        worker = ref.get();
    }
    if (!worker || worker->IsCurrentThread()) return;
    auto ended = [worker] { return !worker->Running(); };
    if (&ref == &OutWorker) {
        // Re-issued every slice: a cancel that arrived just before the
        // worker entered its wait must not leave it waiting for a device
        // that will never take the bytes.
        WaitPumping(ended, kInfinite, [this] {
            OutFlushEvent->Set();
            DeviceCancelWrite();
        });
    } else if (&ref == &ComWorker) {
        WaitPumping(ended, kInfinite, [this] {
            DeviceSetEventMask(0);
            ReadyEvent->Set();
        });
    } else {
        // Woken at once rather than at its next tick; nudged again if a
        // delivery kept it busy.
        ComEvent->Set();
        WaitPumping(ended, patienceMs);
        if (!ended()) {
            ComEvent->Set();
            WaitPumping(ended, patienceMs);
        }
        // A worker that is still busy (a handler holding it up to its
        // time-out) is waited for, never freed while it runs.
        WaitPumping(ended);
    }
    worker->Join();
    std::unique_ptr<TSioDispatcherThread> ended_worker;
    std::lock_guard lock(StateLock);
    ended_worker = std::move(ref);
}

void TSioBaseDispatcher::StopWorkers() {
    {
        std::lock_guard lock(StateLock);
        if (!WorkersRunning && !ComWorker && !DispWorker && !OutWorker) return;
        StopRequested = true;
    }
    // The order peers rely on: output first (it may hold a run), then the
    // event waiter, then the dispatch worker. No lock is held while waiting.
    bool present;
    {
        std::lock_guard lock(StateLock);
        present = OutWorker != nullptr;
    }
    if (present) {
        OutFlushEvent->Set();
        DeviceCancelWrite();
        StopWorker(OutWorker, kInfinite);
    }
    {
        std::lock_guard lock(StateLock);
        present = ComWorker != nullptr;
    }
    if (present) {
        DeviceSetEventMask(0);
        ReadyEvent->Set();
        GeneralEvent->Reset();
        StopWorker(ComWorker, kInfinite);
    }
    StopWorker(DispWorker, kDispatchStopPatienceMs);
}

void TSioBaseDispatcher::ApplyWorkerPriorities() {
    // Recorded levels: a Linux process without privileges cannot raise a
    // thread above normal, so the levels are kept for the device layer and
    // diagnostics rather than forced on the scheduler.
    if (ComWorker) ComWorker->Priority = WorkerBoost;
    if (DispWorker) DispWorker->Priority = WorkerBoost;
    if (OutWorker) OutWorker->Priority = WorkerBoost + (RS485Active ? 1 : 0);
}

void TSioBaseDispatcher::SetWorkerBoost(int boost) {
    std::lock_guard lock(StateLock);
    if (boost == WorkerBoost) return;
    WorkerBoost = boost;
    ApplyWorkerPriorities();
}

int TSioBaseDispatcher::OutputWorkerPriority() {
    std::lock_guard lock(StateLock);
    return OutWorker ? OutWorker->Priority.load() : WorkerBoost + (RS485Active ? 1 : 0);
}

}  // namespace sio
