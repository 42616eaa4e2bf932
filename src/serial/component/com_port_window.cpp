// TSioCustomComPort: the hidden notification window through which the
// dispatcher's triggers reach the thread that opened the port, its window
// procedure, and the events the component raises from it.
#include "serial/component/com_port.h"

#include "serial/component/com_port_hooks.h"
#include "serial/errors/errors.h"
#include "serial/notify/notify_window.h"
#include "serial/core/port_list.h"

#include <mutex>

namespace sio {

namespace {

bool IsTriggerMessage(unsigned msg) { return msg >= MsgTriggerAvail && msg <= MsgTriggerStatus; }

}  // namespace

// The window procedure of every component's hidden window. It finds the
// component through the dispatcher named in lParam, never through the
// window, so a notice from a dispatcher that is gone finds nothing.
class ComPortWindowProcedure {
public:
    static LParam Handle(unsigned msg, WParam wParam, LParam lParam) {
        if (!IsTriggerMessage(msg) && msg != MsgPortClosing) return 0;  // nothing else is ours

        const int handle = static_cast<int>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
        if (msg == MsgPortClosing) {
            TSioCustomComPort* port = nullptr;
            TSioBaseDispatcher* dispatcher = nullptr;
            {
                std::lock_guard lock(PortListLock());
                dispatcher = PortListAt(handle);
                if (dispatcher != nullptr) port = dispatcher->Owner();
            }
            // The deferred close frees the dispatcher and may reopen the port,
            // which waits for threads: never under the port-list lock.
            if (port != nullptr) Deliver(*port, *dispatcher, msg, wParam, lParam);
            return 0;
        }

        // The lock keeps the dispatcher in its slot while the handler takes
        // bytes from it.
        std::lock_guard lock(PortListLock());
        TSioBaseDispatcher* dispatcher = PortListAt(handle);
        if (dispatcher == nullptr || dispatcher->Owner() == nullptr) return 0;
        TSioCustomComPort& port = *dispatcher->Owner();
        // A notice is data only while the port is open and comes from the
        // dispatcher it runs on now. During a close ReadChar hands out zeros
        // without taking anything, so a notice seen then would pass those
        // zeros off as received bytes.
        if (port.phase_ != phOpen || port.activeDispatcher_.get() != dispatcher) return 0;
        Deliver(port, *dispatcher, msg, wParam, lParam);
        return 0;
    }

private:
    static void Deliver(TSioCustomComPort& port, TSioBaseDispatcher& dispatcher, unsigned msg, WParam wParam,
                        LParam lParam) {
        try {
            port.HandleNotification(dispatcher, msg, static_cast<std::uint32_t>(wParam),
                                    static_cast<std::uint32_t>(lParam));
        } catch (const std::exception& e) {
            ReportException(e);
        } catch (...) {
            ReportException(Exception("Unknown exception in a trigger handler"));
        }
    }
};

void TSioCustomComPort::AttachNotifyWindow(bool attach) {
    if (attach) {
        notifyWindow_ = CreateNotifyWindow(&ComPortWindowProcedure::Handle);
        if (activeDispatcher_) activeDispatcher_->AddWindowHandler(notifyWindow_);
        return;
    }
    if (notifyWindow_ == 0) return;
    if (activeDispatcher_) activeDispatcher_->RemoveWindowHandler(notifyWindow_);
    DestroyNotifyWindow(notifyWindow_);
    notifyWindow_ = 0;
}

void TSioCustomComPort::HandleNotification(TSioBaseDispatcher& dispatcher, unsigned msg, std::uint32_t wParam,
                                           std::uint32_t lParam) {
    // On the way out, however the handlers leave, what they did not read
    // goes back to the delivery.
    struct HandlerScope {
        TSioCustomComPort& port;
        TSioBaseDispatcher& dispatcher;
        HandlerScope(TSioCustomComPort& p, TSioBaseDispatcher& d) : port(p), dispatcher(d) { ++port.handlersRunning_; }
        ~HandlerScope() {
            --port.handlersRunning_;
            port.readAhead_.GiveBack(dispatcher);
        }
    } scope(*this, dispatcher);

    // Bytes still held from a delivery that outlived its time-out are
    // unread too, and come first.
    const Word triggerHandle =
        static_cast<Word>(wParam + (msg == MsgTriggerAvail ? readAhead_.Held(dispatcher) : 0));
    const Word data = msg == MsgTriggerAvail ? triggerHandle : static_cast<Word>(lParam & 0xFFFF);
    FireTrigger(static_cast<Word>(msg), triggerHandle, data);

    if (msg == MsgPortClosing) {
        FinishDeferredClose(dispatcher);
        return;
    }
    // The OnTrigger handler may have closed the port; what follows is data
    // only while it is still open on this dispatcher.
    auto stillOpen = [&] { return phase_ == phOpen && activeDispatcher_.get() == &dispatcher; };
    if (!stillOpen()) return;
    switch (msg) {
    case MsgTriggerAvail: FireTriggerAvail(data); break;
    case MsgTriggerData: FireTriggerData(triggerHandle); break;
    case MsgTriggerTimer: FireTriggerTimer(triggerHandle); break;
    case MsgTriggerStatus:
        FireTriggerStatus(triggerHandle);
        if (!stillOpen()) return;
        switch (triggerHandle & 7) {
        case 1: FireTriggerModemStatus(); break;
        case 2: {
            const Word error = static_cast<Word>(dispatcher.TakeLineError());
            FireTriggerLineError(error, dispatcher.TakeLineBreak());
            break;
        }
        case 3: FireTriggerOutbuffFree(); break;
        case 4: FireTriggerOutbuffUsed(); break;
        case 5: FireTriggerOutSent(); break;
        default: break;
        }
        break;
    default: break;
    }
}

// --- Events --------------------------------------------------------------------

void TSioCustomComPort::FireTrigger(Word Msg, Word TriggerHandle, Word Data) {
    if (onTrigger_) onTrigger_(this, Msg, TriggerHandle, Data);
}
void TSioCustomComPort::FireTriggerAvail(Word Count) {
    if (onTriggerAvail_) onTriggerAvail_(this, Count);
}
void TSioCustomComPort::FireTriggerData(Word TriggerHandle) {
    if (onTriggerData_) onTriggerData_(this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerStatus(Word TriggerHandle) {
    if (onTriggerStatus_) onTriggerStatus_(this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerTimer(Word TriggerHandle) {
    if (onTriggerTimer_) onTriggerTimer_(this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerLineError(Word Error, bool LineBreak) {
    if (onTriggerLineError_) onTriggerLineError_(this, Error, LineBreak);
}
void TSioCustomComPort::FireTriggerModemStatus() {
    if (onTriggerModemStatus_) onTriggerModemStatus_(this);
}
void TSioCustomComPort::FireTriggerOutbuffFree() {
    if (onTriggerOutbuffFree_) onTriggerOutbuffFree_(this);
}
void TSioCustomComPort::FireTriggerOutbuffUsed() {
    if (onTriggerOutbuffUsed_) onTriggerOutbuffUsed_(this);
}
void TSioCustomComPort::FireTriggerOutSent() {
    if (onTriggerOutSent_) onTriggerOutSent_(this);
}
void TSioCustomComPort::FireWaitChar() {
    if (onWaitChar_) onWaitChar_(this);
}

bool TSioCustomComPort::AnyTriggerEventAssigned() const {
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
           onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ ||
           onTriggerOutSent_;
}

// Without any trigger event the dispatcher need not deliver to this
// component's window at all.
void TSioCustomComPort::SyncHandlerInstalled() {
    if (activeDispatcher_) activeDispatcher_->UpdateServiceFlags(AnyTriggerEventAssigned() ? 1 : 2);
}

void TSioCustomComPort::SetOnTrigger(TTriggerEvent handler) {
    onTrigger_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent handler) {
    onTriggerAvail_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerData(TTriggerDataEvent handler) {
    onTriggerData_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent handler) {
    onTriggerStatus_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent handler) {
    onTriggerTimer_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent handler) {
    onTriggerLineError_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerModemStatus(TNotifyEvent handler) {
    onTriggerModemStatus_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent handler) {
    onTriggerOutbuffFree_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent handler) {
    onTriggerOutbuffUsed_ = std::move(handler);
    SyncHandlerInstalled();
}
void TSioCustomComPort::SetOnTriggerOutSent(TNotifyEvent handler) {
    onTriggerOutSent_ = std::move(handler);
    SyncHandlerInstalled();
}

}  // namespace sio
