// The transmit side of TSioBaseDispatcher: queueing bytes into the output
// ring, the output worker's choice of run and its accounting, the output
// count the device status reports, and purging.
#include "serial/core/dispatcher.h"

#include "serial/errors/result_codes.h"

#include <algorithm>
#include <cstring>

namespace sio {

int TSioBaseDispatcher::QueuedLocked() const {
    if (!OutRing) return 0;
    if (OutRingFull) return OutRingSize;
    if (OutTail < OutHead) return OutHead - OutTail;
    if (OutTail > OutHead) return OutRingSize - OutTail + OutHead;
    return 0;
}

int TSioBaseDispatcher::OutputQueued() {
    std::lock_guard lock(OutputLock);
    return QueuedLocked();
}

int TSioBaseDispatcher::OutputRoom() {
    std::lock_guard lock(OutputLock);
    return OutRing ? OutRingSize - QueuedLocked() : 0;
}

std::uint32_t TSioBaseDispatcher::DeviceReadErrors(COMSTAT& status) {
    status = COMSTAT{};
    const std::uint32_t errors = DeviceClearErrors(status);
    // Writers measure their room against our ring, never the driver's queue.
    std::lock_guard lock(OutputLock);
    status.cbOutQue = static_cast<std::uint32_t>(QueuedLocked());
    return errors;
}

int TSioBaseDispatcher::QueueBlock(const char* bytes, int n) {
    if (n == 0) return 0;
    if (n < 0 || bytes == nullptr) return ecBadArgument;
    int code = 0;
    {
        std::lock_guard lock(OutputLock);
        if (!OutRing) return ecCommNotOpen;
        const COMSTAT status = RefreshLineErrors();
        const int room = OutRingSize - static_cast<int>(status.cbOutQue);
        if (n > room) return ecOutputBufferTooSmall;  // nothing queued
        const int k = DeviceWrite(bytes, n);
        if (k <= 0) {
            code = ecPutBlockFail;
            RefreshLineErrors();
        } else if (n == room) {
            OutRingFull = true;
        }
        OutSentPending = true;
    }
    if (code == 0) {
        LogBlock('T', bytes, n);
        TraceBytes('T', bytes, n);
    }
    return code;
}

int TSioBaseDispatcher::DeviceWrite(const char* buffer, int n) {
    {
        std::lock_guard lock(OutputLock);
        if (!OutRing || n <= 0) return 0;
        const int room = OutRingSize - OutHead;  // contiguous space up to the ring's end
        if (n <= room) {
            std::memcpy(OutRing.get() + OutHead, buffer, static_cast<std::size_t>(n));
            OutHead = n == room ? 0 : OutHead + n;
        } else {
            std::memcpy(OutRing.get() + OutHead, buffer, static_cast<std::size_t>(room));
            std::memcpy(OutRing.get(), buffer + room, static_cast<std::size_t>(n - room));
            OutHead = n - room;
        }
    }
    OutputEvent->Set();
    return n;
}

bool TSioBaseDispatcher::ChooseRun(Run& run) {
    std::lock_guard lock(OutputLock);
    if (!OutRing || !(OutRingFull || OutHead != OutTail)) return false;
    int length;
    if (OutHead > OutTail) {
        length = OutHead - OutTail;
    } else if (OutHead == 0) {
        length = OutRingSize - OutTail;
    } else {
        // The waiting bytes wrap (or fill the ring): turn the ring in place
        // so they start at 0 and leave in one device write, in order.
        char* ring = OutRing.get();
        std::rotate(ring, ring + OutTail, ring + OutRingSize);
        OutHead += OutRingSize - OutTail;
        OutTail = 0;
        length = OutHead;
    }
    run = {OutRing.get() + OutTail, length, OutGeneration};
    return true;
}

void TSioBaseDispatcher::AccountSent(const Run& run, int n) {
    std::lock_guard lock(OutputLock);
    // A purge emptied the ring after the run was chosen: nothing to account.
    if (run.Generation != OutGeneration || !OutRing || n <= 0) return;
    OutTail += std::min(n, run.Length);
    if (OutTail == OutHead || (OutTail == OutRingSize && OutHead == OutRingSize)) {
        OutTail = OutHead = 0;  // nothing left waiting
    } else if (OutTail == OutRingSize) {
        OutTail = 0;
    }
    OutRingFull = false;
}

void TSioBaseDispatcher::EmptyOutputRing() {
    std::lock_guard lock(OutputLock);
    OutRingFull = false;
    OutHead = OutTail = 0;
    ++OutGeneration;
}

int TSioBaseDispatcher::DevicePurge(int which) {
    if (which != 0) return DeviceFlush(1);
    bool workerRuns;
    {
        std::lock_guard lock(StateLock);
        workerRuns = OutWorker && OutWorker->Running() && OutFlushEvent;
    }
    bool queued;
    {
        // A run stays in the ring until it is accounted, so an empty ring
        // means the worker holds no run and the hand-shake can be skipped
        // (every close purges).
        std::lock_guard lock(OutputLock);
        queued = QueuedLocked() > 0;
    }
    if (workerRuns && queued) {
        // The output worker drops its run and acknowledges before the ring
        // is emptied under its feet.
        OutFlushEvent->Set();
        DeviceCancelWrite();
        GeneralEvent->Wait(kPurgeAckTimeoutMs);
    }
    // Without an output worker the transmit side is purged all the same.
    EmptyOutputRing();
    return DeviceFlush(0);
}

void TSioBaseDispatcher::DiscardOutput() { DevicePurge(0); }

}  // namespace sio
