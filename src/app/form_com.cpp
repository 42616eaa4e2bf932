#include "app/form_com.h"

#include "app/toolkit/files.h"
#include "app/traffic_log_file.h"

#include <initializer_list>
#include <string>

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
void AddNumbers(TComboBox* list, int count) {
    for (int i = 0; i < count; ++i) list->AddItem(std::to_string(i));
}

}  // namespace

TForm_Com::TForm_Com() : FEventWait(MakeMainEventWait()), FWaitClock(FEventWait.get()) {
    CreateControls();
    CreateActions();
    CreateSerialPort();
    ConnectHandlers();
    FormCreate(this);
}

TForm_Com::~TForm_Com() {
    // Closes an open port while the window its handler reports to is whole.
    SioComPort1.reset();
}

void TForm_Com::ConnectHandlers() {
    RadioGroup_cardnum->OnClick = [this] { RadioGroup_cardnumClick(RadioGroup_cardnum); };
    // Only the operator's choice: the program's own choices must not refill
    // the block list.
    ComboBox_SectorNum->OnChange = [this] { ComboBox_SectorNumChange(ComboBox_SectorNum); };
    CheckBox_cardflagsave->OnClick = [this] { CheckBox_cardflagsaveClick(CheckBox_cardflagsave); };
    Action_OpenCom->OnExecute = [this](TObject* sender) { Action_OpenComExecute(sender); };
    Action_OpenCom->OnUpdate = [this](TObject* sender) { Action_OpenComUpdate(sender); };
    Action_CloseCom->OnExecute = [this](TObject* sender) { Action_CloseComExecute(sender); };
    Action_BuidCard->OnExecute = [this](TObject* sender) { Action_BuidCardExecute(sender); };
    Action_BuidCard->OnUpdate = [this](TObject* sender) { Action_BuidCardUpdate(sender); };
    SioComPort1->SetOnTrigger([this](sio::TSioCustomComPort* CP, sio::Word Msg,
                                     sio::Word TriggerHandle, sio::Word Data) {
        SioComPort1Trigger(CP, Msg, TriggerHandle, Data);
    });
}

int TForm_Com::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
    return FWindow->MessageBox(Text, Caption, Flags);
}

bool TForm_Com::ConfirmYesNo(const std::string& Text) { return FWindow->ConfirmYesNo(Text); }

void TForm_Com::FormCreate(TObject*) {
    BuildPortList();
    FComReady = false;
    Button_genMcard->SetEnabled(false);
    PrepareTrafficLog(TrafficLogFolder(ProgramFolder()));
    AddNumbers(ComboBox_SectorNum, kSectorsS50);
    ComboBox_SectorNum->SetItemIndex(0);
    AddNumbers(ComboBox_BlockStartAdr, 16);
    ComboBox_BlockStartAdr->SetItemIndex(0);
    AddNumbers(ComboBox_BlockEndAdr, 16);
    ComboBox_BlockEndAdr->SetItemIndex(4);
    AddNumbers(ComboBox_BlockNum, kBlocksSmallSector);
    ComboBox_BlockNum->SetItemIndex(0);
}

void TForm_Com::BuildPortList() {
    ComboBox_ComNum->Clear();
    ComboBox_ComNum->AddItem(" AUTO ");
    for (int n = 1; n <= kPortCount; ++n) ComboBox_ComNum->AddItem(" COM" + std::to_string(n));
    ComboBox_ComNum->SetItemIndex(0);
}

void TForm_Com::PrepareTrafficLog(const std::string& folder) {
    FLogLines.clear();
    FLogFileName = TrafficLogFileName(folder, CurrentDateTime());
    // Looked at once: creating or deleting the switch file later changes
    // nothing until the next start.
    FLogEnabled = TrafficLogSwitchPresent(folder);
}

void TForm_Com::RadioGroup_cardnumClick(TObject*) {
    ComboBox_SectorNum->Clear();
    AddNumbers(ComboBox_SectorNum, RadioGroup_cardnum->ItemIndex() == 1 ? kSectorsS70 : kSectorsS50);
    ComboBox_SectorNum->SetItemIndex(0);
    // The sector is back at 0, so the blocks offered must be sector 0's;
    // a block kept from a large sector would make a master card that
    // points the reader at a block of another sector.
    ComboBox_BlockNum->Clear();
    AddNumbers(ComboBox_BlockNum, kBlocksSmallSector);
    ComboBox_BlockNum->SetItemIndex(0);
}

void TForm_Com::ComboBox_SectorNumChange(TObject*) {
    const int sector = ComboBox_SectorNum->ItemIndex();
    ComboBox_BlockNum->Clear();
    AddNumbers(ComboBox_BlockNum,
               sector >= kFirstLargeSector ? kBlocksLargeSector : kBlocksSmallSector);
    ComboBox_BlockNum->SetItemIndex(0);
}

void TForm_Com::CheckBox_cardflagsaveClick(TObject*) {
    FLockPending = CheckBox_cardflagsave->Checked();
}

void TForm_Com::Action_BuidCardUpdate(TObject*) {
    const bool modeOne = RadioGroup_outdatamode0_1->ItemIndex() == 1;
    const bool outputSettings = FComReady;
    const bool outputDataMode = FComReady;
    const bool sectorDataAndKey = FComReady && modeOne;
    const bool lockAndPassword = FComReady;
    // Set at every idle moment; a control is touched only when its state
    // changes, which keeps an idle loop from waking itself up again.
    for (TControl* control : std::initializer_list<TControl*>{
             RadioGroup_cardnum, RadioGroup_Outmode, RadioGroup_OutStyle_bit7, RadioGroup_OutStyle,
             RadioGroup_OutStyle_bit6, RadioGroup_OutStyle_bit5, RadioGroup_OutStyle_bit4,
             RadioGroup_OutStyle_bit3, RadioGroup_OutStyle_bit2,
             RadioGroup_bandrate_OutStyle_bit1_0, RadioGroup_content_parameter})
        control->SetEnabled(outputSettings);
    RadioGroup_outdatamode0_1->SetEnabled(outputDataMode);
    for (TControl* control : std::initializer_list<TControl*>{
             GroupBox_DataOrder, ComboBox_SectorNum, ComboBox_BlockNum, ComboBox_BlockStartAdr,
             ComboBox_BlockEndAdr, RadioButton_OrderLow, RadioButton_OrderHigh,
             RadioGroup_KeyCheck, Edit_KeyCheck})
        control->SetEnabled(sectorDataAndKey);
    for (TControl* control : std::initializer_list<TControl*>{GroupBox2, CheckBox_cardflagsave,
                                                              RadioGroup_KeySet, Edit_KeySet})
        control->SetEnabled(lockAndPassword);

    if (!FLockPending) return;
    // Asked once per check: answering anything but Yes unchecks the box,
    // whose click handler clears the flag, and the flag is cleared anyway
    // before the next idle moment.
    const bool confirmed = ConfirmYesNo(kLockQuestion);
    CheckBox_cardflagsave->SetChecked(confirmed);
    FLockPending = false;
}

void TForm_Com::Action_OpenComUpdate(TObject*) {
    Action_OpenCom->SetEnabled(!FComReady);
    Action_CloseCom->SetEnabled(FComReady);
}

mastercard::MasterCardSettings TForm_Com::ReadMasterCardSettings() const {
    mastercard::MasterCardSettings s;
    s.RadioGroup_outdatamode0_1 = RadioGroup_outdatamode0_1->ItemIndex();
    s.RadioGroup_content_parameter = RadioGroup_content_parameter->ItemIndex();
    s.ComboBox_SectorNum = ComboBox_SectorNum->ItemIndex();
    s.ComboBox_BlockNum = ComboBox_BlockNum->ItemIndex();
    s.RadioGroup_KeyCheck = RadioGroup_KeyCheck->ItemIndex();
    s.Edit_KeyCheck = Edit_KeyCheck->Text();
    s.ComboBox_BlockStartAdr = ComboBox_BlockStartAdr->ItemIndex();
    s.ComboBox_BlockEndAdr = ComboBox_BlockEndAdr->ItemIndex();
    s.RadioButton_OrderLow = RadioButton_OrderLow->Checked();
    s.RadioButton_OrderHigh = RadioButton_OrderHigh->Checked();
    s.RadioGroup_OutStyle_bit7 = RadioGroup_OutStyle_bit7->ItemIndex();
    s.RadioGroup_OutStyle_bit6 = RadioGroup_OutStyle_bit6->ItemIndex();
    s.RadioGroup_OutStyle_bit5 = RadioGroup_OutStyle_bit5->ItemIndex();
    s.RadioGroup_OutStyle_bit4 = RadioGroup_OutStyle_bit4->ItemIndex();
    s.RadioGroup_OutStyle_bit3 = RadioGroup_OutStyle_bit3->ItemIndex();
    s.RadioGroup_OutStyle_bit2 = RadioGroup_OutStyle_bit2->ItemIndex();
    s.RadioGroup_bandrate_OutStyle_bit1_0 = RadioGroup_bandrate_OutStyle_bit1_0->ItemIndex();
    s.RadioGroup_Outmode = RadioGroup_Outmode->ItemIndex();
    s.CheckBox_cardflagsave = CheckBox_cardflagsave->Checked();
    s.Edit_KeySet = Edit_KeySet->Text();
    s.RadioGroup_KeySet = RadioGroup_KeySet->ItemIndex();
    return s;
}
