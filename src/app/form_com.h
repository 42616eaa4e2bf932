// The program's one window: every setting a master card carries to a card
// reader, the port controls, the generate button and the status bar. The
// window holds no copy of the settings; they are read from the controls at
// the moment they are needed.
#pragma once

#include "app/reply_wait.h"
#include "app/traffic_log_file.h"
#include "mastercard/master_card_config.h"
#include "serial/component/com_port.h"

#include <QDateTime>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QRadioButton;
class TAction;
class TActionList;
class TRadioGroup;
class TStatusBar;

class TForm_Com : public QWidget {
    Q_OBJECT
public:
    explicit TForm_Com(QWidget* parent = nullptr);
    ~TForm_Com() override;

    // The two dialogs the window shows, overridable so that tests can read
    // the texts and answer without a person.
    virtual int MessageBox(const QString& Text, const QString& Caption, unsigned Flags);
    virtual bool ConfirmYesNo(const QString& Text);

    // The operator's settings as they stand in the controls right now.
    mastercard::MasterCardSettings ReadMasterCardSettings() const;

    // Fills ComboBox_ComNum: " AUTO ", then " COM1" to " COM12".
    void BuildPortList();

    // Sets FLogLines, FLogFileName and FLogEnabled for the log folder
    // `logFolder` (ending with a separator; see TrafficLogFolder).
    void PrepareTrafficLog(const QString& logFolder);

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
    void FormCreate(QObject* Sender);
    void RadioGroup_cardnumClick(QObject* Sender);
    void ComboBox_SectorNumChange(QObject* Sender);
    void CheckBox_cardflagsaveClick(QObject* Sender);
    void Action_BuidCardUpdate(QObject* Sender);
    void Action_OpenComUpdate(QObject* Sender);
    void Action_OpenComExecute(QObject* Sender);
    void Action_CloseComExecute(QObject* Sender);
    void Action_BuidCardExecute(QObject* Sender);

    // The port is open and the writer device answered the handshake.
    bool FComReady = false;

    // The line to the writer device. Closed until the operator opens a port;
    // destroying the window closes it.
    std::unique_ptr<sio::TSioComPort> SioComPort1;

    // Bytes received since the last send, time of the last send and time at
    // which the last received bytes were added (wall clock, for the log).
    std::string FRecvText;
    QDateTime FSendTime;
    QDateTime FRecvTime;

    // The traffic log: its lines in memory, its file and whether the file
    // is written.
    std::vector<std::string> FLogLines;
    QString FLogFileName;
    bool FLogEnabled = false;

    // Frame panels.
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel5 = nullptr;
    QFrame* Panel6 = nullptr;
    QFrame* Panel7 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    // Port controls and the generate button.
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox_ComNum = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button_genMcard = nullptr;

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
    QGroupBox* GroupBox_DataOrder = nullptr;
    TRadioGroup* RadioGroup_KeyCheck = nullptr;
    QLabel* StaticText1 = nullptr;
    QLineEdit* Edit_KeyCheck = nullptr;
    QLabel* StaticText2 = nullptr;
    TRadioGroup* RadioGroup_KeySet = nullptr;
    QLabel* StaticText3 = nullptr;
    QLineEdit* Edit_KeySet = nullptr;
    QLabel* StaticText8 = nullptr;
    QGroupBox* GroupBox2 = nullptr;

    // Inside GroupBox_DataOrder.
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QComboBox* ComboBox_SectorNum = nullptr;
    QComboBox* ComboBox_BlockNum = nullptr;
    QComboBox* ComboBox_BlockStartAdr = nullptr;
    QComboBox* ComboBox_BlockEndAdr = nullptr;
    QRadioButton* RadioButton_OrderHigh = nullptr;
    QRadioButton* RadioButton_OrderLow = nullptr;

    // Inside GroupBox2.
    QCheckBox* CheckBox_cardflagsave = nullptr;

    TActionList* ActionList1 = nullptr;
    TAction* Action_SendData = nullptr;
    TAction* Action_OpenCom = nullptr;
    TAction* Action_CloseCom = nullptr;
    TAction* Action_BuidCard = nullptr;

private:
    void CreateControls();
    void CreateActions();
    void CreateSerialPort();
    void SetTabOrder();
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
    EventLoopReplyClock FEventLoopClock;
    ReplyWaitClock* FWaitClock = &FEventLoopClock;
    // An open is running: its handshakes pump events, in which a second open
    // must not start.
    bool FOpenRunning = false;
    TrafficLogFileWriter FLogFile;

    // The lock box was just checked and the operator has not been asked yet.
    bool FLockPending = false;
};
