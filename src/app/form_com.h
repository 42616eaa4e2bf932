// The program's one window: every setting a master card carries to a card
// reader, the port controls, the generate button and the status bar. The
// window holds no copy of the settings; they are read from the controls at
// the moment they are needed.
#pragma once

#include "app/reply_wait.h"
#include "app/toolkit/action_list.h"
#include "app/toolkit/controls.h"
#include "app/toolkit/date_time.h"
#include "app/toolkit/window.h"
#include "app/traffic_log_file.h"
#include "mastercard/master_card_config.h"
#include "serial/component/com_port.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TForm_Com : public TObject {
public:
    TForm_Com();
    ~TForm_Com() override;
    TForm_Com(const TForm_Com&) = delete;
    TForm_Com& operator=(const TForm_Com&) = delete;

    // The window the controls lie in, built by the toolkit in use.
    TWindow& Window() const { return *FWindow; }
    void Show() { FWindow->Show(); }

    // The two dialogs the window shows, overridable so that tests can read
    // the texts and answer without a person.
    virtual int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags);
    virtual bool ConfirmYesNo(const std::string& Text);

    // The operator's settings as they stand in the controls right now.
    mastercard::MasterCardSettings ReadMasterCardSettings() const;

    // Fills ComboBox_ComNum: " AUTO ", then " COM1" to " COM12".
    void BuildPortList();

    // Sets FLogLines, FLogFileName and FLogEnabled for the log folder
    // `logFolder` (ending with a separator; see TrafficLogFolder).
    void PrepareTrafficLog(const std::string& logFolder);

    // The writer link: the serial port's trigger handler, one request with
    // the wait for the first reply bytes, and one line of the traffic log.
    void SioComPort1Trigger(sio::TSioCustomComPort* CP, sio::Word Msg, sio::Word TriggerHandle,
                            sio::Word Data);
    void SendAndWait(const std::string& Data);
    void LogTraffic(const std::string& HexText, const std::string& Label,
                    const std::string& TimeStamp);

    // The clock the reply waits read and sleep on: the steady clock unless
    // a test puts in one of its own (which must outlive its use here).
    void SetReplyWaitClock(ReplyWaitClock* Clock);

    // Closes the port, selects COM`PortNumber` and opens it; false, with
    // nothing shown, when any of that fails.
    bool TryOpenPort(unsigned long PortNumber);

    // Handlers, named after their control or action and the event.
    void FormCreate(TObject* Sender);
    void RadioGroup_cardnumClick(TObject* Sender);
    void ComboBox_SectorNumChange(TObject* Sender);
    void CheckBox_cardflagsaveClick(TObject* Sender);
    void Action_BuidCardUpdate(TObject* Sender);
    void Action_OpenComUpdate(TObject* Sender);
    void Action_OpenComExecute(TObject* Sender);
    void Action_CloseComExecute(TObject* Sender);
    void Action_BuidCardExecute(TObject* Sender);

private:
    // First, so they outlive the controls' users below: the window holds the
    // controls, the list the actions.
    std::unique_ptr<TWindow> FWindow;
    std::unique_ptr<TActionList> FActionList;

public:
    // The port is open and the writer device answered the handshake.
    bool FComReady = false;

    // The line to the writer device. Closed until the operator opens a port;
    // destroying the window closes it.
    std::unique_ptr<sio::TSioComPort> SioComPort1;

    // Bytes received since the last send, time of the last send and time at
    // which the last received bytes were added (wall clock, for the log).
    std::string FRecvText;
    TDateTime FSendTime;
    TDateTime FRecvTime;

    // The traffic log: its lines in memory, its file and whether the file
    // is written.
    std::vector<std::string> FLogLines;
    std::string FLogFileName;
    bool FLogEnabled = false;

    // Frame panels.
    TPanel* Panel1 = nullptr;
    TPanel* Panel2 = nullptr;
    TPanel* Panel5 = nullptr;
    TPanel* Panel6 = nullptr;
    TPanel* Panel7 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    // Port controls and the generate button.
    TLabel* Label1 = nullptr;
    TComboBox* ComboBox_ComNum = nullptr;
    TButton* Button1 = nullptr;
    TButton* Button2 = nullptr;
    TButton* Button_genMcard = nullptr;

    // Configuration settings.
    TRadioGroup* RadioGroup_cardnum = nullptr;
    TRadioGroup* RadioGroup_outdatamode0_1 = nullptr;
    TRadioGroup* RadioGroup_Outmode = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit7 = nullptr;
    TRadioGroup* RadioGroup_OutStyle = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit6 = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit5 = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit4 = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit3 = nullptr;
    TRadioGroup* RadioGroup_OutStyle_bit2 = nullptr;
    TRadioGroup* RadioGroup_bandrate_OutStyle_bit1_0 = nullptr;
    TRadioGroup* RadioGroup_content_parameter = nullptr;
    TGroupBox* GroupBox_DataOrder = nullptr;
    TRadioGroup* RadioGroup_KeyCheck = nullptr;
    TLabel* StaticText1 = nullptr;
    TEdit* Edit_KeyCheck = nullptr;
    TLabel* StaticText2 = nullptr;
    TRadioGroup* RadioGroup_KeySet = nullptr;
    TLabel* StaticText3 = nullptr;
    TEdit* Edit_KeySet = nullptr;
    TLabel* StaticText8 = nullptr;
    TGroupBox* GroupBox2 = nullptr;

    // Inside GroupBox_DataOrder.
    TLabel* Label4 = nullptr;
    TLabel* Label5 = nullptr;
    TLabel* Label6 = nullptr;
    TLabel* Label7 = nullptr;
    TLabel* Label8 = nullptr;
    TLabel* Label9 = nullptr;
    TComboBox* ComboBox_SectorNum = nullptr;
    TComboBox* ComboBox_BlockNum = nullptr;
    TComboBox* ComboBox_BlockStartAdr = nullptr;
    TComboBox* ComboBox_BlockEndAdr = nullptr;
    TRadioButton* RadioButton_OrderHigh = nullptr;
    TRadioButton* RadioButton_OrderLow = nullptr;

    // Inside GroupBox2.
    TCheckBox* CheckBox_cardflagsave = nullptr;

    TActionList* ActionList1 = nullptr;
    TAction* Action_SendData = nullptr;
    TAction* Action_OpenCom = nullptr;
    TAction* Action_CloseCom = nullptr;
    TAction* Action_BuidCard = nullptr;

private:
    void CreateControls();
    void CreateActions();
    void CreateSerialPort();
    void ConnectHandlers();

    // Clears FRecvText, notes the send time, writes `Data` and logs it as
    // `LoggedText`.
    void SendRequest(const std::string& Data, const std::string& LoggedText);
    // Waits for the reply to the last request; see WaitForReply.
    bool WaitForReply(const std::function<bool()>& accept);
    // Sends 0x02 and tells whether the device answered exactly 0x06.
    bool WriterAnswersHandshake();
    void ShowConnectedTo(unsigned long PortNumber);
    void ShowOpenFailure();
    void EndGeneration(const char* Panel3Text, const char* Message);
    void ShowGenerationMessage(const char* Message);

    // When the last request was sent, on the clock the waits are measured on.
    ReplyClock::time_point FSendClock;
    std::unique_ptr<ReplyWaitClock> FEventWait;
    ReplyWaitClock* FWaitClock = nullptr;
    // An open is running: its handshakes pump events, in which a second open
    // must not start.
    bool FOpenRunning = false;
    TrafficLogFileWriter FLogFile;

    // The lock box was just checked and the operator has not been asked yet.
    bool FLockPending = false;
};
