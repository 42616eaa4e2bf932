// The receive side of TSioBaseDispatcher: filling the 8192-byte dispatch
// ring from the device, taking and peeking bytes, the data-available
// trigger and its delivery, and the dispatch worker's pass.
#include "serial/core/dispatcher.h"

#include "serial/errors/result_codes.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace sio {

namespace {

constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_RING_TE;  // 0x2138
constexpr std::uint32_t kErrorEvents = EV_BREAK | EV_ERR;                               // 0xC0
constexpr std::uint32_t kLineErrorBits = 0x1F;

}  // namespace

int TSioBaseDispatcher::UnreadLocked() const {
    int unread = DispHead - DispTail;
    if (unread < 0) unread += kDispRingSize;
    if (unread == 0 && DispRingFull) unread = kDispRingSize;
    return unread;
}

int TSioBaseDispatcher::UnreadCount() {
    std::lock_guard lock(DispatchLock);
    if (!InAvailDelivery) return UnreadLocked();
    // Bytes a reader took ahead in this delivery are unread until it uses them.
    const int held = AheadDelivery == AvailDeliveries ? AheadUnused.load(std::memory_order_relaxed) : 0;
    return UnreadLocked() - PeekDepth + held;
}

int TSioBaseDispatcher::PeekLocked(char& b, int k) const {
    if (!DispRing || k < 1 || UnreadLocked() < k) return ecBufferIsEmpty;
    b = DispRing[(DispTail + k - 1) % kDispRingSize];
    return 0;
}

int TSioBaseDispatcher::PeekByte(char& b, int k) {
    std::lock_guard lock(DispatchLock);
    return PeekLocked(b, k);
}

int TSioBaseDispatcher::TakeByte(char& b) {
    int result;
    {
        // Handlers take bytes one at a time: one lock per byte, not one per
        // step of the way.
        std::lock_guard lock(DispatchLock);
        if (InAvailDelivery) {
            // Inside a data-available handler the tail stays; what the
            // handlers took is accounted when the delivery ends.
            result = PeekLocked(b, PeekDepth + 1);
            if (result == 0) ++PeekDepth;
        } else {
            result = PeekLocked(b, 1);
            if (result == 0) {
                DispTail = (DispTail + 1) % kDispRingSize;
                DispRingFull = false;
            }
        }
    }
    if (result == 0) TraceBytes('R', &b, 1);
    return result;
}

int TSioBaseDispatcher::TakeBytes(char* out, int max, std::uint64_t& delivery) {
    std::lock_guard lock(DispatchLock);
    delivery = 0;
    const int seen = InAvailDelivery ? PeekDepth : 0;
    const int unread = DispRing ? UnreadLocked() - seen : 0;
    if (unread <= 0 || max < 1) return ecBufferIsEmpty;
    // Outside a delivery taking ahead would move the tail for good: bytes
    // the reader then did not use would never be announced again.
    const int n = InAvailDelivery ? std::min(max, unread) : 1;
    const int from = (DispTail + seen) % kDispRingSize;
    const int first = std::min(n, kDispRingSize - from);
    std::copy_n(DispRing.get() + from, first, out);
    std::copy_n(DispRing.get(), n - first, out + first);
    if (InAvailDelivery) {
        PeekDepth += n;
        delivery = AheadDelivery = AvailDeliveries;
        AheadUnused.store(n, std::memory_order_relaxed);
    } else {
        DispTail = (DispTail + n) % kDispRingSize;
        DispRingFull = false;
    }
    return n;
}

bool TSioBaseDispatcher::ReturnBytes(int n, std::uint64_t delivery) {
    std::lock_guard lock(DispatchLock);
    if (!InAvailDelivery || delivery != AvailDeliveries || n < 0 || n > PeekDepth) return false;
    PeekDepth -= n;
    AheadUnused.store(0, std::memory_order_relaxed);
    return true;
}

void TSioBaseDispatcher::DiscardInput() {
    {
        std::lock_guard lock(DispatchLock);
        DevicePurge(1);
        if (InAvailDelivery) {
            PeekDepthMax = UnreadLocked();  // the running delivery takes them all
        } else {
            DispTail = DispHead;
            PeekDepth = 0;
        }
        DispRingFull = false;
        InputPurges.fetch_add(1, std::memory_order_release);
    }
    std::lock_guard lock(StateLock);
    for (TDataTrigger& trigger : DataTriggerList) {
        trigger.Progress.fill(0);
        trigger.Matched = false;
    }
}

COMSTAT TSioBaseDispatcher::RefreshLineErrors() {
    COMSTAT status;
    const std::uint32_t errors = DeviceReadErrors(status);
    LineErrors.fetch_or(errors & kLineErrorBits);
    std::lock_guard lock(OutputLock);
    DeviceStatus = status;
    return status;
}

int TSioBaseDispatcher::ReadIntoRing(int at, int n) {
    int k = DeviceRead(DispRing.get() + at, n);
    if (k < 0) {
        DeviceReadFailed(-1);
        k = 0;
    }
    k = std::min(k, n);
    ReceivedCount += static_cast<std::uint64_t>(k);
    LogBlock('R', DispRing.get() + at, k);
    return k;
}

bool TSioBaseDispatcher::FillDispatchBuffer() {
    std::lock_guard lock(DispatchLock);
    if (!DispRing) return false;
    // A full ring leaves further bytes in the device's own queue until the
    // owner takes some.
    if (DispRingFull) return false;
    const COMSTAT status = RefreshLineErrors();
    const int waiting = static_cast<int>(std::min<std::uint32_t>(status.cbInQue, kDispRingSize));
    if (waiting == 0) return true;

    const int free = DispTail == DispHead ? kDispRingSize : (DispTail - DispHead + kDispRingSize) % kDispRingSize;
    const int first = DispTail > DispHead ? DispTail - DispHead : kDispRingSize - DispHead;
    const int want = std::min(free, waiting);
    int second = want > first ? want - first : 0;

    // One read asks for the whole contiguous space: whatever arrived since
    // the count was taken comes along.
    const int k = ReadIntoRing(DispHead, first);
    if (k < first) second = 0;
    DispHead = (DispHead + k) % kDispRingSize;
    if (k > 0) DispRingFull = DispHead == DispTail;
    if (second > 0) {
        const int k2 = ReadIntoRing(DispHead, second);
        DispHead += k2;
        DispRingFull = DispHead == DispTail;
    }
    return true;
}

bool TSioBaseDispatcher::DeliverTrigger(unsigned msg, WParam wparam, int lparamLow) {
    {
        std::lock_guard lock(StateLock);
        if (!DeliveryNeeded) return true;
        Delivering = true;
    }
    {
        std::lock_guard lock(DispatchLock);
        PeekDepthMax = 0;
        InAvailDelivery = msg == MsgTriggerAvail || msg == MsgTriggerData;
        if (InAvailDelivery) ++AvailDeliveries;
    }
    const LParam lParam = static_cast<LParam>(DispatcherHandle) * 65536 + lparamLow;
    bool closed = false;

    // Runs one handler; false once a close was asked for from inside it.
    auto deliver = [&](const std::function<void()>& call) {
        {
            std::lock_guard lock(DispatchLock);
            PeekDepth = 0;
        }
        try {
            call();
        } catch (const std::exception& e) {
            CurrentMessageLink().ReportWorkerException(e.what());
        } catch (...) {
            CurrentMessageLink().ReportWorkerException("Unknown exception in a trigger handler");
        }
        if (CloseDeferred) {
            closed = true;
            return false;
        }
        std::lock_guard lock(DispatchLock);
        PeekDepthMax = std::max(PeekDepthMax, PeekDepth);
        return true;
    };

    // Lists are walked by index with the lock taken per entry: a handler may
    // add or (by marking) remove entries while it runs.
    for (std::size_t i = 0; !closed; ++i) {
        TEventHandlerEntry entry;
        {
            std::lock_guard lock(StateLock);
            if (i >= EventHandlers.size()) break;
            entry = EventHandlers[i];
        }
        if (!deliver([&] {
                if (entry.Deleted) return;
                if (entry.Synchronize)
                    CurrentMessageLink().RunOnOwnerThread([&] {
                        // Counted while on the owner's stack: a close it asks
                        // for must not wait for this delivery to end.
                        ++OwnerThreadHandlers;
                        struct Leave {
                            std::atomic<int>& count;
                            ~Leave() { --count; }
                        } leave{OwnerThreadHandlers};
                        entry.Method(msg, wparam, lParam);
                    });
                else
                    entry.Method(msg, wparam, lParam);
            }))
            break;
    }
    for (std::size_t i = 0; !closed; ++i) {
        TProcHandlerEntry entry;
        {
            std::lock_guard lock(StateLock);
            if (i >= ProcHandlers.size()) break;
            entry = ProcHandlers[i];
        }
        if (!deliver([&] {
                if (!entry.Deleted) entry.Proc(msg, wparam, lParam);
            }))
            break;
    }
    bool toWindows;
    {
        std::lock_guard lock(StateLock);
        toWindows = WindowHandlers.size() > 1 || PortHandlerPresent;
    }
    for (std::size_t i = 0; toWindows && !closed; ++i) {
        TWindowHandlerEntry entry;
        {
            std::lock_guard lock(StateLock);
            if (i >= WindowHandlers.size()) break;
            entry = WindowHandlers[i];
        }
        if (!deliver([&] {
                if (!entry.Deleted)
                    CurrentMessageLink().SendMessageTimeout(entry.Window, msg, wparam, lParam,
                                                            kDeliveryTimeoutMs);
            }))
            break;
    }

    bool result = !closed;
    if (!closed) {
        std::lock_guard lock(DispatchLock);
        if (InAvailDelivery) {
            // Several handlers saw the same bytes; they count as taken as far
            // as the handler that took most.
            InAvailDelivery = false;
            DispTail = (DispTail + PeekDepthMax) % kDispRingSize;
            if (PeekDepthMax > 0) DispRingFull = false;
            if (msg == MsgTriggerAvail && static_cast<WParam>(PeekDepthMax) != wparam) result = false;
        }
        PeekDepth = 0;
    }
    std::lock_guard lock(StateLock);
    Delivering = false;
    if (HandlerDeletesPending) {
        std::erase_if(WindowHandlers, [](const auto& e) { return e.Deleted; });
        std::erase_if(ProcHandlers, [](const auto& e) { return e.Deleted; });
        std::erase_if(EventHandlers, [](const auto& e) { return e.Deleted; });
        HandlerDeletesPending = false;
        UpdateServiceFlags(0);
    }
    return result;
}

bool TSioBaseDispatcher::CheckDataTriggers() {
    std::uint64_t received;
    int unread;
    {
        std::lock_guard lock(DispatchLock);
        // No data triggers are evaluated, so scanning only moves the mark.
        ScanPos = DispHead;
        received = ReceivedCount;
        unread = UnreadLocked() - (InAvailDelivery ? PeekDepth : 0);
        const int threshold = AvailThreshold;
        if (threshold == 0 || received == NotifiedHead || unread < threshold) return false;
    }
    const bool result = DeliverTrigger(MsgTriggerAvail, static_cast<WParam>(unread), 0);
    std::lock_guard lock(DispatchLock);
    NotifiedHead = received;
    return result;
}

void TSioBaseDispatcher::RefreshModemDelta(std::uint32_t deviceLines) {
    std::lock_guard lock(StateLock);
    const auto lines = static_cast<std::uint8_t>(deviceLines & 0xF0);
    const std::uint8_t before = ModemState & 0xF0;
    std::uint8_t changes = 0;
    if ((lines ^ before) & MS_CTS_ON) changes |= 1;
    if ((lines ^ before) & MS_DSR_ON) changes |= 2;
    if ((before & MS_RING_ON) && !(lines & MS_RING_ON)) changes |= 4;  // ring trailing edge
    if ((lines ^ before) & MS_RLSD_ON) changes |= 8;
    ModemState = static_cast<std::uint8_t>(lines | (ModemState & 0x0F) | changes);
}

void TSioBaseDispatcher::ProcessDeviceEvent() {
    const std::uint32_t mask = EventMask;
    // The lines are asked of the device at most once a pass: a second ioctl
    // would only repeat the answer it already has.
    std::optional<std::uint32_t> lines;
    auto deviceLines = [&] {
        if (!lines) lines = DeviceModemStatus();
        return *lines;
    };
    if (mask & kModemEvents) RefreshModemDelta(deviceLines());
    // Filling the ring reads the line errors too, unless the ring cannot
    // take bytes; only then are they read on their own.
    if (!FillDispatchBuffer() && (mask & kErrorEvents)) RefreshLineErrors();
    // The device has been read: the com worker may wait for the next bytes
    // while the owner handles these, so a steady stream is read while the
    // previous block is delivered instead of after it.
    ReadyEvent->Set();
    if (!Delivering) {
        TakeModemStatus(deviceLines());  // refresh the lines; the change bits start over
        while (CheckDataTriggers()) {
        }
        if (CloseDeferred) return;
    }
}

bool TSioBaseDispatcher::QuietAfterPass() {
    {
        std::lock_guard lock(DispatchLock);
        if (UnreadLocked() > 0) return false;
    }
    std::lock_guard lock(StateLock);
    return ComWorker && ComWorker->Running() && TimerTriggerList.empty() && DataTriggerList.empty() &&
           StatusTriggerList.empty();
}

void TSioBaseDispatcher::ProcessTimersAndStatus() {
    if (CloseDeferred || Delivering) return;
    std::lock_guard lock(StateLock);
    StatusHit = false;
}

}  // namespace sio
