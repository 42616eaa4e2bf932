#include "app/form_com.h"

#include "app/action.h"
#include "app/action_list.h"
#include "app/application.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/status_bar.h"
#include "app/traffic_log_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

// Sector counts of the two card types; sectors from 32 on hold 16 blocks.
constexpr int kSectorsS50 = 16;
constexpr int kSectorsS70 = 40;
constexpr int kFirstLargeSector = 32;
constexpr int kBlocksSmallSector = 4;
constexpr int kBlocksLargeSector = 16;
constexpr int kPortCount = 12;

const char* const kLockQuestion =
    "选择开启锁定功能将锁定通用读卡器的配置不可更改，请确认是否选择此项操作?";

// Appends "0" to "count - 1"; an item's index is the number it shows.
void AddNumbers(QComboBox* list, int count) {
    for (int i = 0; i < count; ++i) list->addItem(QString::number(i));
}

// Idle-time handlers call this at every idle moment; touching only what
// changes keeps an idle loop from waking itself up again.
void SetEnabledIfChanged(QWidget* control, bool enabled) {
    if (control->testAttribute(Qt::WA_ForceDisabled) == enabled) control->setEnabled(enabled);
}

}  // namespace

TForm_Com::TForm_Com(QWidget* parent) : QWidget(parent) {
    setObjectName("Form_Com");
    setWindowTitle(QString::fromUtf8("RS232接口母卡生成程序V1.0"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The design font cannot show Chinese; this one shows both scripts at
    // the size the design's Chinese captions were laid out for.
    QFont font;
    font.setFamilies({"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Sans Serif"});
    font.setPixelSize(12);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);
    setFixedSize(771, 562);
    move(140, 77);

    CreateControls();
    CreateActions();
    CreateSerialPort();
    SetTabOrder();
    ConnectHandlers();
    FormCreate(this);
}

TForm_Com::~TForm_Com() {
    // Closes an open port while the window its handler reports to is whole.
    SioComPort1.reset();
}

void TForm_Com::ConnectHandlers() {
    connect(RadioGroup_cardnum, &TRadioGroup::Click, this,
            Guarded([this] { RadioGroup_cardnumClick(RadioGroup_cardnum); }));
    // activated is the operator's choice only; the program's own choices
    // must not refill the block list.
    connect(ComboBox_SectorNum, &QComboBox::activated, this,
            Guarded([this] { ComboBox_SectorNumChange(ComboBox_SectorNum); }));
    connect(CheckBox_cardflagsave, &QCheckBox::toggled, this,
            Guarded([this] { CheckBox_cardflagsaveClick(CheckBox_cardflagsave); }));
    Action_OpenCom->OnExecute = [this](QObject* sender) { Action_OpenComExecute(sender); };
    Action_OpenCom->OnUpdate = [this](QObject* sender) { Action_OpenComUpdate(sender); };
    Action_CloseCom->OnExecute = [this](QObject* sender) { Action_CloseComExecute(sender); };
    Action_BuidCard->OnExecute = [this](QObject* sender) { Action_BuidCardExecute(sender); };
    Action_BuidCard->OnUpdate = [this](QObject* sender) { Action_BuidCardUpdate(sender); };
    SioComPort1->SetOnTrigger([this](sio::TSioCustomComPort* CP, sio::Word Msg,
                                     sio::Word TriggerHandle, sio::Word Data) {
        SioComPort1Trigger(CP, Msg, TriggerHandle, Data);
    });
}

int TForm_Com::MessageBox(const QString& Text, const QString& Caption, unsigned Flags) {
    return ShowMessageBoxDialog(this, Text, Caption, Flags);
}

bool TForm_Com::ConfirmYesNo(const QString& Text) { return ShowConfirmationDialog(this, Text); }

void TForm_Com::FormCreate(QObject*) {
    BuildPortList();
    FComReady = false;
    Button_genMcard->setEnabled(false);
    PrepareTrafficLog(TrafficLogFolder(ProgramFolder()));
    AddNumbers(ComboBox_SectorNum, kSectorsS50);
    ComboBox_SectorNum->setCurrentIndex(0);
    AddNumbers(ComboBox_BlockStartAdr, 16);
    ComboBox_BlockStartAdr->setCurrentIndex(0);
    AddNumbers(ComboBox_BlockEndAdr, 16);
    ComboBox_BlockEndAdr->setCurrentIndex(4);
    AddNumbers(ComboBox_BlockNum, kBlocksSmallSector);
    ComboBox_BlockNum->setCurrentIndex(0);
}

void TForm_Com::BuildPortList() {
    ComboBox_ComNum->clear();
    ComboBox_ComNum->addItem(" AUTO ");
    for (int n = 1; n <= kPortCount; ++n) ComboBox_ComNum->addItem(" COM" + QString::number(n));
    ComboBox_ComNum->setCurrentIndex(0);
}

void TForm_Com::PrepareTrafficLog(const QString& folder) {
    FLogLines.clear();
    FLogFileName = TrafficLogFileName(folder, QDateTime::currentDateTime());
    // Looked at once: creating or deleting the switch file later changes
    // nothing until the next start.
    FLogEnabled = TrafficLogSwitchPresent(folder);
}

void TForm_Com::RadioGroup_cardnumClick(QObject*) {
    ComboBox_SectorNum->clear();
    AddNumbers(ComboBox_SectorNum, RadioGroup_cardnum->ItemIndex() == 1 ? kSectorsS70 : kSectorsS50);
    ComboBox_SectorNum->setCurrentIndex(0);
    // The sector is back at 0, so the blocks offered must be sector 0's;
    // a block kept from a large sector would make a master card that
    // points the reader at a block of another sector.
    ComboBox_BlockNum->clear();
    AddNumbers(ComboBox_BlockNum, kBlocksSmallSector);
    ComboBox_BlockNum->setCurrentIndex(0);
}

void TForm_Com::ComboBox_SectorNumChange(QObject*) {
    const int sector = ComboBox_SectorNum->currentIndex();
    ComboBox_BlockNum->clear();
    AddNumbers(ComboBox_BlockNum,
               sector >= kFirstLargeSector ? kBlocksLargeSector : kBlocksSmallSector);
    ComboBox_BlockNum->setCurrentIndex(0);
}

void TForm_Com::CheckBox_cardflagsaveClick(QObject*) {
    FLockPending = CheckBox_cardflagsave->isChecked();
}

void TForm_Com::Action_BuidCardUpdate(QObject*) {
    const bool modeOne = RadioGroup_outdatamode0_1->ItemIndex() == 1;
    const bool outputSettings = FComReady;
    const bool outputDataMode = FComReady;
    const bool sectorDataAndKey = FComReady && modeOne;
    const bool lockAndPassword = FComReady;
    for (QWidget* control : std::initializer_list<QWidget*>{
             RadioGroup_cardnum, RadioGroup_Outmode, RadioGroup_OutStyle_bit7, RadioGroup_OutStyle,
             RadioGroup_OutStyle_bit6, RadioGroup_OutStyle_bit5, RadioGroup_OutStyle_bit4,
             RadioGroup_OutStyle_bit3, RadioGroup_OutStyle_bit2,
             RadioGroup_bandrate_OutStyle_bit1_0, RadioGroup_content_parameter})
        SetEnabledIfChanged(control, outputSettings);
    SetEnabledIfChanged(RadioGroup_outdatamode0_1, outputDataMode);
    for (QWidget* control : std::initializer_list<QWidget*>{
             GroupBox_DataOrder, ComboBox_SectorNum, ComboBox_BlockNum, ComboBox_BlockStartAdr,
             ComboBox_BlockEndAdr, RadioButton_OrderLow, RadioButton_OrderHigh,
             RadioGroup_KeyCheck, Edit_KeyCheck})
        SetEnabledIfChanged(control, sectorDataAndKey);
    for (QWidget* control : std::initializer_list<QWidget*>{GroupBox2, CheckBox_cardflagsave,
                                                            RadioGroup_KeySet, Edit_KeySet})
        SetEnabledIfChanged(control, lockAndPassword);

    if (!FLockPending) return;
    // Asked once per check: answering anything but Yes unchecks the box,
    // whose click handler clears the flag, and the flag is cleared anyway
    // before the next idle moment.
    const bool confirmed = ConfirmYesNo(QString::fromUtf8(kLockQuestion));
    CheckBox_cardflagsave->setChecked(confirmed);
    FLockPending = false;
}

void TForm_Com::Action_OpenComUpdate(QObject*) {
    Action_OpenCom->SetEnabled(!FComReady);
    Action_CloseCom->SetEnabled(FComReady);
}

mastercard::MasterCardSettings TForm_Com::ReadMasterCardSettings() const {
    mastercard::MasterCardSettings s;
    s.RadioGroup_outdatamode0_1 = RadioGroup_outdatamode0_1->ItemIndex();
    s.RadioGroup_content_parameter = RadioGroup_content_parameter->ItemIndex();
    s.ComboBox_SectorNum = ComboBox_SectorNum->currentIndex();
    s.ComboBox_BlockNum = ComboBox_BlockNum->currentIndex();
    s.RadioGroup_KeyCheck = RadioGroup_KeyCheck->ItemIndex();
    s.Edit_KeyCheck = Edit_KeyCheck->text().toStdString();
    s.ComboBox_BlockStartAdr = ComboBox_BlockStartAdr->currentIndex();
    s.ComboBox_BlockEndAdr = ComboBox_BlockEndAdr->currentIndex();
    s.RadioButton_OrderLow = RadioButton_OrderLow->isChecked();
    s.RadioButton_OrderHigh = RadioButton_OrderHigh->isChecked();
    s.RadioGroup_OutStyle_bit7 = RadioGroup_OutStyle_bit7->ItemIndex();
    s.RadioGroup_OutStyle_bit6 = RadioGroup_OutStyle_bit6->ItemIndex();
    s.RadioGroup_OutStyle_bit5 = RadioGroup_OutStyle_bit5->ItemIndex();
    s.RadioGroup_OutStyle_bit4 = RadioGroup_OutStyle_bit4->ItemIndex();
    s.RadioGroup_OutStyle_bit3 = RadioGroup_OutStyle_bit3->ItemIndex();
    s.RadioGroup_OutStyle_bit2 = RadioGroup_OutStyle_bit2->ItemIndex();
    s.RadioGroup_bandrate_OutStyle_bit1_0 = RadioGroup_bandrate_OutStyle_bit1_0->ItemIndex();
    s.RadioGroup_Outmode = RadioGroup_Outmode->ItemIndex();
    s.CheckBox_cardflagsave = CheckBox_cardflagsave->isChecked();
    s.Edit_KeySet = Edit_KeySet->text().toStdString();
    s.RadioGroup_KeySet = RadioGroup_KeySet->ItemIndex();
    return s;
}
