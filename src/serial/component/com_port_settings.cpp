// TSioCustomComPort: the settings. While the port is closed a setter only
// stores; while it is open the new value is put on the device at once, and
// right after an open every setting is put on the device again, in a fixed
// order, with ApplyAll set so that unchanged values are applied too.
#include "serial/component/com_port.h"

#include "serial/errors/errors.h"
#include "serial/errors/result_codes.h"

#include <algorithm>

namespace sio {

namespace {

constexpr std::size_t kMaxPassStringLength = 255;

// value × numerator / denominator to the nearest integer, halves to even,
// computed exactly (0.9 and 0.1 have no exact binary form).
Word RoundHalfEven(unsigned value, unsigned numerator, unsigned denominator) {
    const unsigned long long product = static_cast<unsigned long long>(value) * numerator;
    unsigned long long quotient = product / denominator;
    const unsigned long long twiceRemainder = 2 * (product % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 == 1)) ++quotient;
    return static_cast<Word>(quotient);
}

unsigned SoftwareFlowBits(TSWFlowOptions options) {
    switch (options) {
    case swfReceive: return 2;
    case swfTransmit: return 1;
    case swfBoth: return 3;
    case swfNone: break;
    }
    return 0;
}

}  // namespace

void TSioCustomComPort::ApplyAllSettings() {
    applyAll_ = true;
    try {
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
        SetXOnChar(xOnChar_);
        SetXOffChar(xOffChar_);
        SetAvailThreshold(availThreshold_);
        SetDTR(dtr_);
        SetRTS(rts_);
        SetUseEventWord(useEventWord_);
        SetCommNotificationLevel(commNotificationLevel_);
        SetRS485Mode(rs485Mode_);
        SetWorkerPriorityBoost(workerPriorityBoost_);
    } catch (...) {
        applyAll_ = false;
        throw;
    }
    applyAll_ = false;
}

// --- Port and line -----------------------------------------------------------------

void TSioCustomComPort::SetDeviceLayer(TDeviceLayer value) {
    if (phase_ != phClosed) return;
    if (value != dlWin32) return;  // the only layer this build has
    if (value == deviceLayer_) return;
    deviceLayer_ = value;
    DeviceLayerChanged();
}

void TSioCustomComPort::SetComNumber(Word value) {
    if (value == comNumber_) return;
    if (phase_ != phOpen || Designing() || Loading()) {
        comNumber_ = value;
        return;
    }
    // Reopen on the new port with the same triggers and diagnostics.
    TSioTriggerSet triggers;
    activeDispatcher_->SaveTriggers(triggers);
    const TTraceLogState tracing = tracing_;
    const TTraceLogState logging = logging_;
    // The number goes in first: an open asked for while the close below
    // pumps events takes place when the close ends, and must find the new port.
    comNumber_ = value;
    SetOpen(false);
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (phase_ == phOpen && activeDispatcher_) activeDispatcher_->RestoreTriggers(triggers);
}

void TSioCustomComPort::ConfigureLineNow() {
    if (phase_ != phOpen) return;
    RaiseOnError(activeDispatcher_->ConfigureLine(baud_, parity_, dataBits_, stopBits_));
}

void TSioCustomComPort::SetBaud(int value) {
    if (value == baud_ && !applyAll_) return;
    baud_ = value;
    ConfigureLineNow();
}

void TSioCustomComPort::SetParity(TParity value) {
    if (value == parity_ && !applyAll_) return;
    parity_ = value;
    ConfigureLineNow();
}

void TSioCustomComPort::SetDataBits(Word value) {
    if (value == dataBits_ && !applyAll_) return;
    dataBits_ = value;
    ConfigureLineNow();
}

void TSioCustomComPort::SetStopBits(Word value) {
    if (value == stopBits_ && !applyAll_) return;
    stopBits_ = value;
    ConfigureLineNow();
}

void TSioCustomComPort::SetInSize(Word value) {
    if (value == inSize_ && !applyAll_) return;
    inSize_ = value;
    if (phase_ == phOpen) RaiseOnError(activeDispatcher_->DeviceSetupQueues(inSize_, outSize_));
}

void TSioCustomComPort::SetOutSize(Word value) {
    if (value == outSize_ && !applyAll_) return;
    outSize_ = value;
    // The output ring keeps the size it got at open; only the device's own
    // queues follow.
    if (phase_ == phOpen) RaiseOnError(activeDispatcher_->DeviceSetupQueues(inSize_, outSize_));
}

// --- Line levels -------------------------------------------------------------------

// A line under automatic control (flow control, RS-485) answers 1: it is left
// alone and the property keeps its value.
void TSioCustomComPort::SetDTR(bool value) {
    if (value == dtr_ && !applyAll_) return;
    if (phase_ != phOpen) {
        dtr_ = value;
        return;
    }
    if (RaiseOnError(activeDispatcher_->DriveDTR(value)) == 0) dtr_ = value;
}

void TSioCustomComPort::SetRTS(bool value) {
    if (value == rts_ && !applyAll_) return;
    if (phase_ != phOpen) {
        rts_ = value;
        return;
    }
    if (RaiseOnError(activeDispatcher_->DriveRTS(value)) == 0) rts_ = value;
}

// --- Flow control ------------------------------------------------------------------

void TSioCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
    if (value == hwFlowOptions_ && !applyAll_) return;
    if (!value.Empty()) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = RoundHalfEven(inSize_, 9, 10);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = RoundHalfEven(inSize_, 1, 10);
    }
    if (phase_ == phOpen)
        RaiseOnError(activeDispatcher_->ApplyHardwareFlow(bufferFull_, bufferResume_, value.Bits()));
    hwFlowOptions_ = value;
    // RTS cannot both pace the peer and switch the RS-485 transmitter.
    if (value.Contains(hwfUseRTS) || value.Contains(hwfRequireCTS)) SetRS485Mode(false);
}

void TSioCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
    if (value == swFlowOptions_ && !applyAll_) return;
    const unsigned bits = SoftwareFlowBits(value);
    if (bits != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = RoundHalfEven(inSize_, 3, 4);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = RoundHalfEven(inSize_, 1, 4);
    }
    if (phase_ == phOpen) {
        if (bits != 0)
            RaiseOnError(activeDispatcher_->ApplySoftwareFlow(bufferFull_, bufferResume_, bits));
        else
            RaiseOnError(activeDispatcher_->SoftwareFlowOff());
    }
    swFlowOptions_ = value;
}

void TSioCustomComPort::ApplyFlowSettings() {
    const bool wasApplyAll = applyAll_;
    applyAll_ = true;
    try {
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
    } catch (...) {
        applyAll_ = wasApplyAll;
        throw;
    }
    applyAll_ = wasApplyAll;
}

void TSioCustomComPort::SetBufferFull(Word value) {
    if (value == bufferFull_ && !applyAll_) return;
    bufferFull_ = value > inSize_ ? RoundHalfEven(value, 9, 10) : value;
    ApplyFlowSettings();
}

void TSioCustomComPort::SetBufferResume(Word value) {
    if (value == bufferResume_ && !applyAll_) return;
    bufferResume_ = value > bufferFull_ ? RoundHalfEven(bufferFull_, 1, 10) : value;
    ApplyFlowSettings();
}

void TSioCustomComPort::SetXOnChar(char value) {
    if (value == xOnChar_ && !applyAll_) return;
    xOnChar_ = value;
    if (phase_ == phOpen) RaiseOnError(activeDispatcher_->ApplyFlowChars(xOnChar_, xOffChar_));
}

void TSioCustomComPort::SetXOffChar(char value) {
    if (value == xOffChar_ && !applyAll_) return;
    xOffChar_ = value;
    if (phase_ == phOpen) RaiseOnError(activeDispatcher_->ApplyFlowChars(xOnChar_, xOffChar_));
}

void TSioCustomComPort::SetRS485Mode(bool value) {
    if (value == rs485Mode_ && !applyAll_) return;
    rs485Mode_ = value;
    if (phase_ == phOpen) activeDispatcher_->SwitchRS485(value);
    if (value) {
        // The transmitter owns RTS now: neither flow control nor the RTS
        // property may drive it.
        THWFlowOptionSet options = hwFlowOptions_;
        options.Exclude(hwfUseRTS).Exclude(hwfRequireCTS);
        SetRTS(false);
        // Re-applied even when unchanged, so the device starts switching
        // RTS around each transmission now rather than at the next open.
        const bool wasApplyAll = applyAll_;
        applyAll_ = phase_ == phOpen || wasApplyAll;
        try {
            SetHWFlowOptions(options);
        } catch (...) {
            applyAll_ = wasApplyAll;
            throw;
        }
        applyAll_ = wasApplyAll;
    } else if (phase_ == phOpen && !applyAll_) {
        // Hand RTS back from the transmitter to the RTS property.
        ApplyFlowSettings();
    }
}

// --- Triggers and workers ----------------------------------------------------------

void TSioCustomComPort::SetAvailThreshold(Word value) {
    if (value == availThreshold_ && !applyAll_) return;
    availThreshold_ = value;
    if (phase_ == phOpen) activeDispatcher_->SetAvailThreshold(value);
}

void TSioCustomComPort::SetWorkerPriorityBoost(std::uint8_t value) {
    if (value == workerPriorityBoost_ && !applyAll_) return;
    workerPriorityBoost_ = value;
    if (phase_ == phOpen) activeDispatcher_->SetWorkerBoost(value);
}

void TSioCustomComPort::SetUseMSRShadow(bool value) { useMSRShadow_ = value; }

// The dispatcher's option word bit that mirrors this is read by nothing, so
// the component keeps the value to itself.
void TSioCustomComPort::SetUseEventWord(bool value) { useEventWord_ = value; }

void TSioCustomComPort::SetCommNotificationLevel(Word value) { commNotificationLevel_ = value; }

// --- Tracing and logging -----------------------------------------------------------

// While closed only "on" and "off" are kept; a request to dump, append,
// clear or pause a trace that does not exist leaves it off.
void TSioCustomComPort::ApplyTraceState(TTraceLogState& field, TTraceLogState value, bool trace) {
    if (value == field && !applyAll_) return;
    if (phase_ != phOpen) {
        field = (value == tlOn) ? tlOn : tlOff;
        return;
    }
    DumpOptions dump;
    dump.FileName = trace ? traceName_ : logName_;
    dump.Append = value == tlAppend;
    dump.Hex = trace ? traceHex_ : logHex_;
    dump.AllHex = trace ? traceAllHex_ : logAllHex_;
    const int result = trace ? activeDispatcher_->SwitchTrace(value, traceSize_, dump)
                             : activeDispatcher_->SwitchLog(value, logSize_, dump);
    switch (value) {
    case tlOn:
    case tlPause: field = value; break;
    case tlClear: break;  // emptied, still running or paused
    case tlDump:
    case tlAppend:
    case tlOff: field = tlOff; break;
    }
    RaiseOnError(result);
}

// A new size takes effect by starting the trace or log afresh.
void TSioCustomComPort::RestartDiagnostic(bool trace) {
    TTraceLogState& field = trace ? tracing_ : logging_;
    if (trace) {
        activeDispatcher_->SwitchTrace(tlOff, traceSize_);
        activeDispatcher_->SwitchTrace(tlOn, traceSize_);
    } else {
        activeDispatcher_->SwitchLog(tlOff, logSize_);
        activeDispatcher_->SwitchLog(tlOn, logSize_);
    }
    field = tlOn;
}

void TSioCustomComPort::SetTracing(TTraceLogState value) { ApplyTraceState(tracing_, value, true); }

void TSioCustomComPort::SetLogging(TTraceLogState value) { ApplyTraceState(logging_, value, false); }

void TSioCustomComPort::SetTraceSize(std::uint32_t value) {
    traceSize_ = std::min(value, kMaxTraceEntries);
    if (phase_ == phOpen && tracing_ != tlOff) RestartDiagnostic(true);
}

void TSioCustomComPort::SetLogSize(std::uint32_t value) {
    logSize_ = std::min(value, kMaxLogBytes);
    if (phase_ == phOpen && logging_ != tlOff) RestartDiagnostic(false);
}

void TSioCustomComPort::SetTraceName(const std::string& value) { traceName_ = value.substr(0, kMaxPassStringLength); }

void TSioCustomComPort::SetLogName(const std::string& value) { logName_ = value.substr(0, kMaxPassStringLength); }

}  // namespace sio
