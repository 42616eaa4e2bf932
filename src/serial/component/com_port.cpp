// TSioCustomComPort: open and close, writing and reading, the dispatcher
// that each open creates, loading, destruction and Assign.
#include "serial/component/com_port.h"

#include "serial/component/com_port_hooks.h"
#include "serial/errors/errors.h"
#include "serial/core/message_link.h"
#include "serial/core/native_dispatcher.h"
#include "serial/notify/notify_window.h"
#include "serial/errors/result_codes.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

namespace sio {

namespace {

std::string ComName(Word number) {
    char text[16];
    std::snprintf(text, sizeof text, "COM%u", static_cast<unsigned>(number));
    return text;
}

std::string DeviceNameFor(Word number) { return "\\\\.\\" + ComName(number); }

// An open refused by the system for a port in use or a port that does not
// exist reads as the component's own codes for those two cases.
int RemapOpenResult(int code) {
    switch (code) {
    case -ERROR_ACCESS_DENIED: return ecAlreadyOpen;
    case -ERROR_FILE_NOT_FOUND:
    case -ERROR_PATH_NOT_FOUND: return ecBadId;
    default: return code;
    }
}

// lParam of the port messages: the dispatcher's handle in the high half.
LParam PortLParam(const TSioBaseDispatcher& dispatcher) {
    return static_cast<LParam>(static_cast<std::uint32_t>(dispatcher.Handle()) << 16);
}

}  // namespace

std::string TSioBaseComponent::Version() const { return "1.0"; }

TSioCustomComPort::TSioCustomComPort() = default;

TSioCustomComPort::~TSioCustomComPort() {
    destroying_ = true;
    if (phase_ == phOpen) {
        try {
            ClosePort();
        } catch (const std::exception& e) {
            ReportException(e);  // a destructor must not throw
        }
    }
    // A close that was still waiting for its workers ends here: the window
    // goes first so that no late notice can reach a half-destroyed component.
    if (notifyWindow_ != 0) AttachNotifyWindow(false);
    activeDispatcher_.reset();
    portUsers_.clear();
}

int TSioCustomComPort::RaiseOnError(int code) const { return sio::RaiseOnError(code, Loading()); }

// --- Open and close ------------------------------------------------------------

void TSioCustomComPort::SetOpen(bool value) {
    if (phase_ == phClosing) {
        // Open still reads True until a deferred close completes; a request
        // to open in the meantime is kept for then, a close cancels it.
        reopenRequested_ = value;
        return;
    }
    if (value == open_) return;
    if (Designing() || Loading()) {
        open_ = value;
        if (value) openAfterLoad_ = true;
        return;
    }
    if (!value) {
        ClosePort();
    } else if (phase_ != phClosed) {
        reopenRequested_ = true;  // opens when the deferred close completes
    } else {
        OpenPort();
    }
}

void TSioCustomComPort::OpenPort() {
    // The dispatcher's workers reach this thread through the platform's
    // window messages; the first port to open puts that link in place for
    // the process.
    static std::once_flag linkInstalled;
    std::call_once(linkInstalled, [] {
        InstallNotifyLink();
        std::atexit([] { UninstallNotifyLink(); });
    });

    if (tapiMode_ != tmOn) EnsurePortSelected();

    activeDispatcher_ = CreateDispatcher();
    activeDispatcher_->DeviceName = ComName(comNumber_);

    try {
        if (tapiMode_ == tmOn && TapiDeviceHandle == 0) RaiseOnError(ecNotOpenedByTapi);
        OpenDevice();

        phase_ = phOpen;
        SyncHandlerInstalled();
        ApplyAllSettings();
        open_ = true;
        AttachNotifyWindow(true);
        if (restoreTriggersOnOpen_) {
            restoreTriggersOnOpen_ = false;
            activeDispatcher_->RestoreTriggers(savedTriggers_);
        }
        NotifyPortOpened();
    } catch (...) {
        // Nothing of a failed attempt remains.
        open_ = false;
        phase_ = phClosed;
        if (notifyWindow_ != 0) AttachNotifyWindow(false);
        activeDispatcher_.reset();
        throw;
    }
}

std::unique_ptr<TSioBaseDispatcher> TSioCustomComPort::CreateDispatcher() {
    if (DispatcherFactory) return DispatcherFactory(*this);
    if (deviceLayer_ != dlWin32) throw ENullApi(ecNullApi);
    if (tapiMode_ == tmOn) return CreateTapiDispatcher(this, TapiDeviceHandle);
    return CreateNativeDispatcher(this);
}

void TSioCustomComPort::OpenDevice() {
    int options = 0;
    if (dtr_) options |= optDtrLevel;
    if (rts_) options |= optRtsLevel;
    if (hwFlowOptions_.Contains(hwfUseDTR)) options |= optDtrHardwareFlow;
    if (hwFlowOptions_.Contains(hwfUseRTS)) options |= optRtsHardwareFlow;
    const std::string name = tapiMode_ == tmOn ? std::string() : DeviceNameFor(comNumber_);
    const int result = activeDispatcher_->OpenAndStart(name, baud_, parity_, dataBits_, stopBits_, inSize_,
                                                       outSize_, options);
    if (result != 0) RaiseOnError(RemapOpenResult(result));
}

void TSioCustomComPort::EnsurePortSelected() {
    if (comNumber_ != 0) return;
    if (!promptForPort_) throw ENoPortSelected(ecNoPortSelected);
    Word chosen = 0;
    if (!PromptForComPort(chosen) || chosen == 0) throw ENoPortSelected(ecNoPortSelected);
    comNumber_ = chosen;
}

void TSioCustomComPort::ClosePort() {
    if (phase_ != phOpen) return;
    TSioBaseDispatcher& dispatcher = *activeDispatcher_;
    // Only an open asked for while this close runs counts.
    reopenRequested_ = false;

    // Each writes its file only if it was on. A file that cannot be written
    // must not keep the port open: the close goes on and reports it after.
    std::exception_ptr dumpFailure;
    for (auto dump : {&TSioCustomComPort::SetTracing, &TSioCustomComPort::SetLogging}) {
        try {
            (this->*dump)(tlDump);
        } catch (...) {
            if (!dumpFailure) dumpFailure = std::current_exception();
        }
    }

    phase_ = phClosing;
    readAhead_.Drop();  // received bytes go with the port
    NotifyPortClosing();

    dispatcher.SaveTriggers(savedTriggers_);
    restoreTriggersOnOpen_ = true;

    dispatcher.ShutDown();

    bool closed = false;
    if (!dispatcher.IsCloseDeferred()) {
        ReleaseDispatcher();
        closed = true;
    } else if (handlersRunning_ == 0 && dispatcher.HandlersOnOwnerThread() == 0) {
        // A delivery was under way, but no handler of this port is on the
        // stack: the worker only waits for this thread to take its message.
        // Letting the queue run hands that notice to a closing port, which
        // passes nothing on, and the workers leave; the close then ends here
        // and a caller that opens the port again finds it closed. A handler
        // the dispatcher runs on this thread further up would never let the
        // worker go, so that case takes the deferred road below.
        while (dispatcher.RunningWorkers() > 0) {
            CurrentMessageLink().PumpOnce();
            std::this_thread::yield();
        }
        ReleaseDispatcher();
        closed = true;
    } else {
        // Asked for from inside a trigger handler: the dispatch worker is
        // still delivering, so the dispatcher may not go yet. The hidden
        // window finishes the close once the workers have left.
        CurrentMessageLink().PostMessage(notifyWindow_, MsgPortClosing, 0, PortLParam(dispatcher));
        CurrentMessageLink().PumpOnce();
    }
    NotifyPortClosed();
    // The events handled while closing may have asked for an open; the
    // caller of this close is not the one to hear how that open went.
    if (closed) {
        try {
            OpenIfRequested();
        } catch (const std::exception& e) {
            ReportException(e);
        }
    }
    if (dumpFailure) std::rethrow_exception(dumpFailure);
}

void TSioCustomComPort::OpenIfRequested() {
    if (!reopenRequested_ || phase_ != phClosed || destroying_) return;
    reopenRequested_ = false;
    OpenPort();
}

void TSioCustomComPort::FinishDeferredClose(TSioBaseDispatcher& dispatcher) {
    if (phase_ != phClosing || activeDispatcher_.get() != &dispatcher) return;
    if (dispatcher.RunningWorkers() > 0) {
        // Workers are still winding down; look again on the next pass of the
        // message loop.
        CurrentMessageLink().PostMessage(notifyWindow_, MsgPortClosing, 0, PortLParam(dispatcher));
        return;
    }
    ReleaseDispatcher();
    OpenIfRequested();
}

void TSioCustomComPort::ReleaseDispatcher() {
    readAhead_.Drop();
    AttachNotifyWindow(false);
    activeDispatcher_.reset();
    phase_ = phClosed;
    open_ = false;
}

// Port users hear of it from the last registered to the first.
void TSioCustomComPort::TellPortUsers(unsigned msg, bool closingOnly) {
    const LParam lParam = activeDispatcher_ ? PortLParam(*activeDispatcher_) : 0;
    for (auto it = portUsers_.rbegin(); it != portUsers_.rend(); ++it) {
        if (closingOnly && !it->WantsClosing) continue;
        if (it->Window != 0)
            CurrentMessageLink().SendMessageTimeout(it->Window, msg, 0, lParam, kDeliveryTimeoutMs);
        else if (it->Callback)
            it->Callback(msg);
    }
}

void TSioCustomComPort::NotifyPortOpened() {
    TellPortUsers(MsgPortOpened, false);
    if (onPortOpen_) onPortOpen_(this);
}

void TSioCustomComPort::NotifyPortClosed() {
    TellPortUsers(MsgPortClosed, false);
    if (onPortClose_) onPortClose_(this);
}

void TSioCustomComPort::NotifyPortClosing() { TellPortUsers(MsgPortClosing, true); }

// --- Dispatcher access ---------------------------------------------------------

TSioBaseDispatcher* TSioCustomComPort::CurrentDispatcher() {
    if (!activeDispatcher_ && !Designing() && !Loading() && phase_ != phOpen && autoOpen_) SetOpen(true);
    return activeDispatcher_.get();
}

TSioBaseDispatcher& TSioCustomComPort::RequireDispatcher() {
    TSioBaseDispatcher* dispatcher = CurrentDispatcher();
    if (dispatcher == nullptr) throw ECommNotOpen(ecCommNotOpen);
    return *dispatcher;
}

// --- Writing and reading -------------------------------------------------------

void TSioCustomComPort::WriteString(const std::string& text) {
    if (phase_ == phClosing || text.empty()) return;
    TSioBaseDispatcher& dispatcher = RequireDispatcher();
    const int result = dispatcher.QueueBlock(text.data(), static_cast<int>(text.size()));
    if (result < 0) RaiseOnError(result);
}

char TSioCustomComPort::ReadChar() {
    if (phase_ == phClosing) return 0;
    // Handlers call this once per received byte: an open port serves what
    // it took ahead, and otherwise goes straight to its dispatcher.
    char byte = 0;
    if (phase_ == phOpen && readAhead_.Next(*activeDispatcher_, byte)) return byte;
    TSioBaseDispatcher& dispatcher = phase_ == phOpen ? *activeDispatcher_ : RequireDispatcher();
    const int result = readAhead_.Fill(dispatcher);
    if (result == 0 && readAhead_.Next(dispatcher, byte)) return byte;
    RaiseOnError(result);
    return 0;
}

void TSioCustomComPort::YieldToDevice() {
    if (phase_ == phClosing) return;
    RaiseOnError(RequireDispatcher().DeviceYield());
}

// --- Loading, copying ------------------------------------------------------------

void TSioCustomComPort::Loaded() {
    TSioBaseComponent::Loaded();
    if (Designing()) return;
    if (openAfterLoad_) open_ = true;
    if (!open_) return;
    openAfterLoad_ = false;
    try {
        open_ = false;  // OpenPort sets it again once the port is open
        OpenPort();
    } catch (const std::exception& e) {
        open_ = false;
        ReportException(e);
    }
}

void TSioCustomComPort::Assign(const TSioBaseComponent& source) {
    const auto* other = dynamic_cast<const TSioCustomComPort*>(&source);
    if (other == nullptr) return;

    portUsers_ = other->portUsers_;
    if (other->phase_ == phOpen && other->activeDispatcher_) {
        other->activeDispatcher_->SaveTriggers(savedTriggers_);
        restoreTriggersOnOpen_ = true;
    }
    deviceLayer_ = other->deviceLayer_;
    comNumber_ = other->comNumber_;
    baud_ = other->baud_;
    parity_ = other->parity_;
    dataBits_ = other->dataBits_;
    stopBits_ = other->stopBits_;
    inSize_ = other->inSize_;
    outSize_ = other->outSize_;
    autoOpen_ = other->autoOpen_;
    promptForPort_ = other->promptForPort_;
    rs485Mode_ = other->rs485Mode_;
    workerPriorityBoost_ = other->workerPriorityBoost_;
    dtr_ = other->dtr_;
    rts_ = other->rts_;
    bufferFull_ = other->bufferFull_;
    bufferResume_ = other->bufferResume_;
    hwFlowOptions_ = other->hwFlowOptions_;
    swFlowOptions_ = other->swFlowOptions_;
    xOnChar_ = other->xOnChar_;
    xOffChar_ = other->xOffChar_;
    tracing_ = other->tracing_;
    traceSize_ = other->traceSize_;
    traceName_ = other->traceName_;
    traceHex_ = other->traceHex_;
    traceAllHex_ = other->traceAllHex_;
    logging_ = other->logging_;
    logSize_ = other->logSize_;
    logName_ = other->logName_;
    logHex_ = other->logHex_;
    logAllHex_ = other->logAllHex_;
    availThreshold_ = other->availThreshold_;
    onTrigger_ = other->onTrigger_;
    onTriggerAvail_ = other->onTriggerAvail_;
    onTriggerData_ = other->onTriggerData_;
    onTriggerStatus_ = other->onTriggerStatus_;
    onTriggerTimer_ = other->onTriggerTimer_;
    onPortOpen_ = other->onPortOpen_;
    onPortClose_ = other->onPortClose_;
    tapiMode_ = other->tapiMode_;
    open_ = false;
}

}  // namespace sio
