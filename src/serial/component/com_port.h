// The serial port component: a program owns a TSioComPort, sets its
// properties, opens a COM port, writes byte strings that return at once and
// receives its bytes through OnTrigger on the thread that opened the port.
//
// The component never touches the device itself: each open creates a
// dispatcher (the device layer plus three workers) that it owns until the
// close, and a hidden notification window on the opening thread through
// which the dispatcher's triggers arrive. Every operation is called on that
// thread.
#pragma once

#include "serial/component/com_port_types.h"
#include "serial/core/dispatcher.h"
#include "serial/component/read_ahead.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sio {

// The toolkit's component: a component state (being designed, being loaded
// from stored settings) and the end-of-loading notification.
class TSioBaseComponent {
public:
    TSioBaseComponent() = default;
    TSioBaseComponent(const TSioBaseComponent&) = delete;
    TSioBaseComponent& operator=(const TSioBaseComponent&) = delete;
    virtual ~TSioBaseComponent() = default;

    // Read-only, never stored.
    std::string Version() const;

    bool Designing() const { return designing_; }
    bool Loading() const { return loading_; }
    // A designer sets this; the running program never does.
    void SetDesigning(bool designing) { designing_ = designing; }

    // Stored settings are about to be read into the component: setters only
    // store until Loaded() says the reading is over.
    void BeginLoading() { loading_ = true; }
    // The end-of-loading notification.
    virtual void Loaded() { loading_ = false; }

private:
    bool designing_ = false;
    bool loading_ = false;
};

// Makes the dispatcher for an open instead of the built-in choice.
using TDispatcherFactory = std::function<std::unique_ptr<TSioBaseDispatcher>(TSioCustomComPort& owner)>;

// A companion object told about open, close and closing: by a message sent
// to its window, or by its callback.
struct TPortUser {
    WindowHandle Window = 0;
    std::function<void(unsigned Msg)> Callback;
    bool WantsClosing = false;  // closing is announced only to those that ask
};

class TSioCustomComPort : public TSioBaseComponent {
public:
    TSioCustomComPort();
    ~TSioCustomComPort() override;

    // --- Published settings (TSioComPort publishes them all) ---------------
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer value);
    Word ComNumber() const { return comNumber_; }
    void SetComNumber(Word value);
    int Baud() const { return baud_; }
    void SetBaud(int value);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool value) { promptForPort_ = value; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    Word DataBits() const { return dataBits_; }
    void SetDataBits(Word value);
    Word StopBits() const { return stopBits_; }
    void SetStopBits(Word value);
    Word InSize() const { return inSize_; }
    void SetInSize(Word value);
    Word OutSize() const { return outSize_; }
    void SetOutSize(Word value);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    bool Open() const { return open_; }
    void SetOpen(bool value);
    bool DTR() const { return dtr_; }
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptionSet value);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions value);
    char XOnChar() const { return xOnChar_; }
    void SetXOnChar(char value);
    char XOffChar() const { return xOffChar_; }
    void SetXOffChar(char value);
    Word BufferFull() const { return bufferFull_; }
    void SetBufferFull(Word value);
    Word BufferResume() const { return bufferResume_; }
    void SetBufferResume(Word value);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState value);
    std::uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(std::uint32_t value);
    const std::string& TraceName() const { return traceName_; }
    void SetTraceName(const std::string& value);
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool value) { traceHex_ = value; }
    bool TraceAllHex() const { return traceAllHex_; }
    void SetTraceAllHex(bool value) { traceAllHex_ = value; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState value);
    std::uint32_t LogSize() const { return logSize_; }
    void SetLogSize(std::uint32_t value);
    const std::string& LogName() const { return logName_; }
    void SetLogName(const std::string& value);
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool value) { logHex_ = value; }
    bool LogAllHex() const { return logAllHex_; }
    void SetLogAllHex(bool value) { logAllHex_ = value; }
    bool UseMSRShadow() const { return useMSRShadow_; }
    virtual void SetUseMSRShadow(bool value);
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool value);
    Word CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(Word value);
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode value) { tapiMode_ = value; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool value);

    // --- Events ---------------------------------------------------------------
    // Assigning any trigger event tells the dispatcher whether the component
    // wants its triggers delivered at all.
    const TNotifyEvent& OnPortClose() const { return onPortClose_; }
    void SetOnPortClose(TNotifyEvent handler) { onPortClose_ = std::move(handler); }
    const TNotifyEvent& OnPortOpen() const { return onPortOpen_; }
    void SetOnPortOpen(TNotifyEvent handler) { onPortOpen_ = std::move(handler); }
    const TTriggerEvent& OnTrigger() const { return onTrigger_; }
    void SetOnTrigger(TTriggerEvent handler);
    const TTriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    void SetOnTriggerAvail(TTriggerAvailEvent handler);
    const TTriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
    void SetOnTriggerData(TTriggerDataEvent handler);
    const TTriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    void SetOnTriggerStatus(TTriggerStatusEvent handler);
    const TTriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
    void SetOnTriggerTimer(TTriggerTimerEvent handler);
    const TTriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
    void SetOnTriggerLineError(TTriggerLineErrorEvent handler);
    const TNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void SetOnTriggerModemStatus(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void SetOnTriggerOutbuffFree(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void SetOnTriggerOutbuffUsed(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
    void SetOnTriggerOutSent(TNotifyEvent handler);

    // --- Operations -------------------------------------------------------------
    // Queues every byte for sending and returns once they are in the output
    // ring. Nothing while a close is under way; an empty string does nothing.
    void WriteString(const std::string& text);
    // Takes the next received byte. During a close: 0, nothing taken.
    char ReadChar();
    virtual void YieldToDevice();
    // The dispatcher, opening the port first when AutoOpen allows it.
    TSioBaseDispatcher* CurrentDispatcher();
    // The same; raises ECommNotOpen when there is none.
    TSioBaseDispatcher& RequireDispatcher();
    // Copies the settings (not the open state) of another component.
    void Assign(const TSioBaseComponent& source);
    void Loaded() override;

    // Result-code check of the public operations: raises the code's exception
    // (not while loading) and otherwise returns the code.
    int RaiseOnError(int code) const;

    // --- State that is not published ------------------------------------------
    TPortPhase Phase() const { return phase_; }
    TSioBaseDispatcher* ActiveDispatcher() const { return activeDispatcher_.get(); }
    WindowHandle NotifyWindow() const { return notifyWindow_; }
    bool ReopenRequested() const { return reopenRequested_; }
    bool RestoreTriggersOnOpen() const { return restoreTriggersOnOpen_; }
    const TSioTriggerSet& SavedTriggers() const { return savedTriggers_; }
    Word AvailThreshold() const { return availThreshold_; }
    void SetAvailThreshold(Word value);
    std::uint8_t WorkerPriorityBoost() const { return workerPriorityBoost_; }
    void SetWorkerPriorityBoost(std::uint8_t value);
    std::vector<TPortUser>& PortUsers() { return portUsers_; }
    TDispatcherFactory DispatcherFactory;
    int TapiDeviceHandle = 0;

protected:
    // Overridable steps, in the order the component's derived classes expect.
    virtual std::unique_ptr<TSioBaseDispatcher> CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual void OpenDevice();
    virtual void AttachNotifyWindow(bool attach);
    virtual void EnsurePortSelected();
    virtual void FireTrigger(Word Msg, Word TriggerHandle, Word Data);
    virtual void FireTriggerAvail(Word Count);
    virtual void FireTriggerData(Word TriggerHandle);
    virtual void FireTriggerStatus(Word TriggerHandle);
    virtual void FireTriggerTimer(Word TriggerHandle);
    virtual void SyncHandlerInstalled();
    virtual void FireTriggerLineError(Word Error, bool LineBreak);
    virtual void FireTriggerModemStatus();
    virtual void FireTriggerOutbuffFree();
    virtual void FireTriggerOutbuffUsed();
    virtual void FireTriggerOutSent();
    virtual void FireWaitChar();
public:
    virtual void ClosePort();
protected:
    virtual void NotifyPortOpened();
    virtual void NotifyPortClosed();
    virtual void NotifyPortClosing();
    virtual void OpenPort();

private:
    friend class ComPortWindowProcedure;

    // What the hidden window does with a message for this component: the
    // event and the per-message step. `dispatcher` is the one that sent it.
    void HandleNotification(TSioBaseDispatcher& dispatcher, unsigned msg, std::uint32_t wParam, std::uint32_t lParam);
    // Completes a close that was deferred because it was asked for while the
    // dispatcher was delivering a trigger.
    void FinishDeferredClose(TSioBaseDispatcher& dispatcher);
    void ReleaseDispatcher();
    // Opens the port if an open was asked for while it was closing.
    void OpenIfRequested();
    void TellPortUsers(unsigned msg, bool closingOnly);
    void ApplyAllSettings();
    void ApplyFlowSettings();
    void ApplyTraceState(TTraceLogState& field, TTraceLogState value, bool trace);
    void RestartDiagnostic(bool trace);
    void ConfigureLineNow();
    bool AnyTriggerEventAssigned() const;

    TDeviceLayer deviceLayer_ = dlWin32;
    Word comNumber_ = 0;
    int baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    Word dataBits_ = 8;
    Word stopBits_ = 1;
    Word inSize_ = 4096;
    Word outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlowOptions_;
    TSWFlowOptions swFlowOptions_ = swfNone;
    char xOnChar_ = 17;
    char xOffChar_ = 19;
    Word bufferFull_ = 0;
    Word bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    std::uint32_t traceSize_ = 10000;
    std::string traceName_ = "SIOP.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    TTraceLogState logging_ = tlOff;
    std::uint32_t logSize_ = 10000;
    std::string logName_ = "SIOP.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    bool useMSRShadow_ = true;
    bool useEventWord_ = true;
    Word commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;

    TNotifyEvent onPortClose_;
    TNotifyEvent onPortOpen_;
    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_;
    TNotifyEvent onTriggerOutbuffFree_;
    TNotifyEvent onTriggerOutbuffUsed_;
    TNotifyEvent onTriggerOutSent_;
    TNotifyEvent onWaitChar_;  // never assigned; kept for FireWaitChar

    TPortPhase phase_ = phClosed;
    std::unique_ptr<TSioBaseDispatcher> activeDispatcher_;
    WindowHandle notifyWindow_ = 0;
    bool applyAll_ = false;
    bool reopenRequested_ = false;
    bool openAfterLoad_ = false;
    TSioTriggerSet savedTriggers_;
    bool restoreTriggersOnOpen_ = false;
    Word availThreshold_ = 1;
    std::uint8_t workerPriorityBoost_ = 0;
    std::vector<TPortUser> portUsers_;
    bool destroying_ = false;  // a close from the destructor reopens nothing
    int handlersRunning_ = 0;  // notifications of this port being handled on the stack
    ReadAhead readAhead_;      // bytes ReadChar has taken but not yet returned
};

// Publishes the settings of TSioCustomComPort; adds nothing else.
class TSioComPort : public TSioCustomComPort {
public:
    using TSioCustomComPort::TSioCustomComPort;
};

}  // namespace sio
