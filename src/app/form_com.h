// The program's one window: every setting a master card carries to a card
// reader, the port controls, the generate button and the status bar. The
// window holds no copy of the settings; they are read from the controls at
// the moment they are needed.
#pragma once

#include "mastercard/master_card_config.h"

#include <QString>
#include <QWidget>

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
    void SetTabOrder();
    void ConnectHandlers();
    void PrepareTrafficLog();

    // The lock box was just checked and the operator has not been asked yet.
    bool FLockPending = false;
};
