// The window's fixed design: every control with its name, kind, parent,
// place, size, text and initial state, the actions, and the keyboard order.
#include "app/form_com.h"

#include "app/toolkit/action.h"
#include "app/toolkit/action_list.h"

namespace {

using K = TControlKind;

// In the order they are stacked: the five caption-less groups lie over the
// "输出格式：" frame, the key and password fields over their radio groups.
const TWindowDesign kForm_Com = {
    .Name = "Form_Com",
    .Caption = "RS232接口母卡生成程序V1.0",
    .Bounds = {140, 77, 771, 562},
    .Controls = {
        {.Name = "Panel1", .Kind = K::Panel, .Parent = "Form_Com", .Bounds = {0, 0, 771, 562},
         .Sunken = true},
        {.Name = "Panel2", .Kind = K::Panel, .Parent = "Panel1", .Bounds = {4, 2, 143, 123}},
        {.Name = "Panel5", .Kind = K::Panel, .Parent = "Panel1", .Bounds = {4, 126, 143, 413}},
        {.Name = "Panel6", .Kind = K::Panel, .Parent = "Panel1", .Bounds = {148, 2, 621, 537}},
        {.Name = "Panel7", .Kind = K::Panel, .Parent = "Panel1", .Bounds = {1, 540, 769, 21}},
        {.Name = "StatusBar1", .Kind = K::StatusBar, .Parent = "Panel7", .Bounds = {1, 1, 767, 19},
         .PanelWidths = {40, 150, 70, 280, 50}, .PanelTexts = {"端口：", "", "操作状态："}},

        // Port controls and the generate button.
        {.Name = "Label1", .Kind = K::Label, .Parent = "Panel2", .Bounds = {14, 18, 51, 13},
         .Text = "端口号： "},
        {.Name = "ComboBox_ComNum", .Kind = K::ComboBox, .Parent = "Panel2",
         .Bounds = {64, 14, 69, 21}},
        {.Name = "Button1", .Kind = K::Button, .Parent = "Panel2", .Bounds = {10, 44, 123, 31}},
        {.Name = "Button2", .Kind = K::Button, .Parent = "Panel2", .Bounds = {10, 76, 123, 29}},
        {.Name = "Button_genMcard", .Kind = K::Button, .Parent = "Panel5",
         .Bounds = {8, 160, 127, 27}},

        // Configuration settings.
        {.Name = "RadioGroup_cardnum", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 2, 611, 37}, .Text = "卡类型：", .Items = {"S50", "S70"}, .Columns = 2,
         .ItemIndex = 0},
        {.Name = "RadioGroup_outdatamode0_1", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 40, 611, 37}, .Text = "输出数据方式：",
         .Items = {"Mode0：输出卡的序列号", "MOde1：输出卡的扇区密码后，输出扇区数据"},
         .Columns = 2, .ItemIndex = 0},
        {.Name = "RadioGroup_Outmode", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {3, 78, 612, 37}, .Text = "输出模式：", .Items = {"转为十进制输出", "十六进制输出"},
         .Columns = 2, .ItemIndex = 0},
        {.Name = "RadioGroup_OutStyle_bit7", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 116, 611, 37}, .Text = "输出位数：", .Items = {"满十位输出", "按实际位输出"},
         .Columns = 2, .ItemIndex = 0},
        {.Name = "RadioGroup_OutStyle", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 154, 611, 81}, .Text = "输出格式："},
        {.Name = "RadioGroup_OutStyle_bit6", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {12, 168, 127, 58}, .Items = {"带起始符（02H）", "不带起始符"}, .ItemIndex = 0},
        {.Name = "RadioGroup_OutStyle_bit5", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {138, 168, 119, 58}, .Items = {"带回车", "不带回车"}, .ItemIndex = 0},
        {.Name = "RadioGroup_OutStyle_bit4", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {244, 168, 119, 58}, .Items = {"带换行", "不带换行"}, .ItemIndex = 0},
        {.Name = "RadioGroup_OutStyle_bit3", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {360, 168, 119, 58}, .Items = {"带校验和", "不带校验和"}, .ItemIndex = 1},
        {.Name = "RadioGroup_OutStyle_bit2", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {478, 168, 131, 58}, .Items = {"带结束符（03H）", "不带结束符"}, .ItemIndex = 0},
        {.Name = "RadioGroup_bandrate_OutStyle_bit1_0", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 234, 611, 37}, .Text = "波特率：", .Items = {"9600", "19200", "38400"},
         .Columns = 3, .ItemIndex = 0},
        {.Name = "RadioGroup_content_parameter", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 272, 611, 37}, .Text = "内容参数：", .Items = {"8H", "6H", "4H+2H"},
         .Columns = 3, .ItemIndex = 0},

        {.Name = "GroupBox_DataOrder", .Kind = K::GroupBox, .Parent = "Panel6",
         .Bounds = {4, 314, 611, 83}, .Text = "数据块参数："},
        {.Name = "Label4", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {10, 22, 48, 13}, .Text = "扇区号："},
        {.Name = "Label5", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {12, 46, 45, 13}, .Text = "块   号："},
        {.Name = "Label6", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {146, 16, 126, 13}, .Text = "块内数据起始地址：      "},
        {.Name = "Label7", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {148, 44, 123, 13}, .Text = "块内数据结束地址：     "},
        {.Name = "Label8", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {128, 62, 156, 13}, .Text = "（有效长度不大于5字节）      "},
        {.Name = "Label9", .Kind = K::Label, .Parent = "GroupBox_DataOrder",
         .Bounds = {376, 24, 63, 13}, .Text = "字节顺序 ："},
        {.Name = "ComboBox_SectorNum", .Kind = K::ComboBox, .Parent = "GroupBox_DataOrder",
         .Bounds = {66, 18, 55, 21}},
        {.Name = "ComboBox_BlockNum", .Kind = K::ComboBox, .Parent = "GroupBox_DataOrder",
         .Bounds = {66, 42, 55, 21}},
        {.Name = "ComboBox_BlockStartAdr", .Kind = K::ComboBox, .Parent = "GroupBox_DataOrder",
         .Bounds = {292, 16, 61, 21}},
        {.Name = "ComboBox_BlockEndAdr", .Kind = K::ComboBox, .Parent = "GroupBox_DataOrder",
         .Bounds = {292, 40, 61, 21}},
        {.Name = "RadioButton_OrderHigh", .Kind = K::RadioButton, .Parent = "GroupBox_DataOrder",
         .Bounds = {474, 56, 101, 17}, .Text = "高字节在前"},
        {.Name = "RadioButton_OrderLow", .Kind = K::RadioButton, .Parent = "GroupBox_DataOrder",
         .Bounds = {472, 22, 99, 17}, .Text = "低字节在前", .Checked = true},

        {.Name = "RadioGroup_KeyCheck", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 394, 611, 65}, .Text = "密钥验证：", .Items = {"密钥A", "密钥B"},
         .ItemIndex = 0},
        {.Name = "StaticText1", .Kind = K::Label, .Parent = "Panel6", .Bounds = {78, 424, 40, 17},
         .Text = "密钥："},
        {.Name = "Edit_KeyCheck", .Kind = K::Edit, .Parent = "Panel6",
         .Bounds = {128, 422, 121, 21}, .Text = "3C5A7E91B2D4", .MaxLength = 12},
        {.Name = "StaticText2", .Kind = K::Label, .Parent = "Panel6",
         .Bounds = {274, 422, 173, 17}, .Text = "6字节十六进制数，高字节在前"},
        {.Name = "RadioGroup_KeySet", .Kind = K::RadioGroup, .Parent = "Panel6",
         .Bounds = {4, 462, 423, 63}, .Text = "配置密码：", .Items = {"启用", "禁用"},
         .ItemIndex = 1},
        {.Name = "StaticText3", .Kind = K::Label, .Parent = "Panel6", .Bounds = {76, 492, 40, 17},
         .Text = "密码："},
        {.Name = "Edit_KeySet", .Kind = K::Edit, .Parent = "Panel6", .Bounds = {124, 486, 121, 21},
         .Text = "6E2B94D1", .MaxLength = 8},
        {.Name = "StaticText8", .Kind = K::Label, .Parent = "Panel6",
         .Bounds = {250, 488, 160, 17}, .Text = "（启用或禁用均需配置密码）"},

        {.Name = "GroupBox2", .Kind = K::GroupBox, .Parent = "Panel6",
         .Bounds = {432, 462, 183, 63}, .Text = "锁定配置："},
        {.Name = "CheckBox_cardflagsave", .Kind = K::CheckBox, .Parent = "GroupBox2",
         .Bounds = {32, 26, 121, 17}, .Text = "开启锁定功能"},
    },
    // Tab walks the containers in their order and, inside each, the controls
    // in theirs: the port controls, the generate button, then the settings.
    .TabOrder = {"ComboBox_ComNum", "Button1", "Button2", "Button_genMcard",
                 "RadioGroup_cardnum", "RadioGroup_outdatamode0_1", "RadioGroup_Outmode",
                 "ComboBox_SectorNum", "ComboBox_BlockNum", "ComboBox_BlockStartAdr",
                 "ComboBox_BlockEndAdr", "RadioButton_OrderHigh", "RadioButton_OrderLow",
                 "CheckBox_cardflagsave", "RadioGroup_KeyCheck", "Edit_KeyCheck",
                 "RadioGroup_KeySet", "Edit_KeySet", "RadioGroup_OutStyle_bit7",
                 "RadioGroup_bandrate_OutStyle_bit1_0", "RadioGroup_content_parameter",
                 "RadioGroup_OutStyle_bit6", "RadioGroup_OutStyle_bit5",
                 "RadioGroup_OutStyle_bit4", "RadioGroup_OutStyle_bit3",
                 "RadioGroup_OutStyle_bit2"},
};

}  // namespace

void TForm_Com::CreateControls() {
    FWindow = BuildWindow(kForm_Com);
    const TWindow& w = *FWindow;
    Panel1 = w.Find<TPanel>("Panel1");
    Panel2 = w.Find<TPanel>("Panel2");
    Panel5 = w.Find<TPanel>("Panel5");
    Panel6 = w.Find<TPanel>("Panel6");
    Panel7 = w.Find<TPanel>("Panel7");
    StatusBar1 = w.Find<TStatusBar>("StatusBar1");
    Label1 = w.Find<TLabel>("Label1");
    ComboBox_ComNum = w.Find<TComboBox>("ComboBox_ComNum");
    Button1 = w.Find<TButton>("Button1");
    Button2 = w.Find<TButton>("Button2");
    Button_genMcard = w.Find<TButton>("Button_genMcard");
    RadioGroup_cardnum = w.Find<TRadioGroup>("RadioGroup_cardnum");
    RadioGroup_outdatamode0_1 = w.Find<TRadioGroup>("RadioGroup_outdatamode0_1");
    RadioGroup_Outmode = w.Find<TRadioGroup>("RadioGroup_Outmode");
    RadioGroup_OutStyle_bit7 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit7");
    RadioGroup_OutStyle = w.Find<TRadioGroup>("RadioGroup_OutStyle");
    RadioGroup_OutStyle_bit6 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit6");
    RadioGroup_OutStyle_bit5 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit5");
    RadioGroup_OutStyle_bit4 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit4");
    RadioGroup_OutStyle_bit3 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit3");
    RadioGroup_OutStyle_bit2 = w.Find<TRadioGroup>("RadioGroup_OutStyle_bit2");
    RadioGroup_bandrate_OutStyle_bit1_0 = w.Find<TRadioGroup>("RadioGroup_bandrate_OutStyle_bit1_0");
    RadioGroup_content_parameter = w.Find<TRadioGroup>("RadioGroup_content_parameter");
    GroupBox_DataOrder = w.Find<TGroupBox>("GroupBox_DataOrder");
    Label4 = w.Find<TLabel>("Label4");
    Label5 = w.Find<TLabel>("Label5");
    Label6 = w.Find<TLabel>("Label6");
    Label7 = w.Find<TLabel>("Label7");
    Label8 = w.Find<TLabel>("Label8");
    Label9 = w.Find<TLabel>("Label9");
    ComboBox_SectorNum = w.Find<TComboBox>("ComboBox_SectorNum");
    ComboBox_BlockNum = w.Find<TComboBox>("ComboBox_BlockNum");
    ComboBox_BlockStartAdr = w.Find<TComboBox>("ComboBox_BlockStartAdr");
    ComboBox_BlockEndAdr = w.Find<TComboBox>("ComboBox_BlockEndAdr");
    RadioButton_OrderHigh = w.Find<TRadioButton>("RadioButton_OrderHigh");
    RadioButton_OrderLow = w.Find<TRadioButton>("RadioButton_OrderLow");
    RadioGroup_KeyCheck = w.Find<TRadioGroup>("RadioGroup_KeyCheck");
    StaticText1 = w.Find<TLabel>("StaticText1");
    Edit_KeyCheck = w.Find<TEdit>("Edit_KeyCheck");
    StaticText2 = w.Find<TLabel>("StaticText2");
    RadioGroup_KeySet = w.Find<TRadioGroup>("RadioGroup_KeySet");
    StaticText3 = w.Find<TLabel>("StaticText3");
    Edit_KeySet = w.Find<TEdit>("Edit_KeySet");
    StaticText8 = w.Find<TLabel>("StaticText8");
    GroupBox2 = w.Find<TGroupBox>("GroupBox2");
    CheckBox_cardflagsave = w.Find<TCheckBox>("CheckBox_cardflagsave");
}

void TForm_Com::CreateActions() {
    FActionList = std::make_unique<TActionList>(*FWindow);
    ActionList1 = FActionList.get();
    Action_SendData = ActionList1->Add("Action_SendData", "发送", "发送数据");
    Action_OpenCom = ActionList1->Add("Action_OpenCom", "端口操作", "打开端口(&S)");
    Action_CloseCom = ActionList1->Add("Action_CloseCom", "端口操作", "关闭端口(&C)");
    Action_BuidCard = ActionList1->Add("Action_BuidCard", "母卡操作", "生成母卡(&G)");
    LinkButton(Button1, Action_OpenCom);
    LinkButton(Button2, Action_CloseCom);
    LinkButton(Button_genMcard, Action_BuidCard);
}

// The serial port's stored settings, read in as the toolkit loads a design:
// the setters only store until loading ends, and the port stays closed.
// 9600 baud, 8 data bits, no parity, 1 stop bit; RTS is left to the
// transmitter, which raises it only while it sends (RS-485).
void TForm_Com::CreateSerialPort() {
    SioComPort1 = std::make_unique<sio::TSioComPort>();
    sio::TSioComPort& port = *SioComPort1;
    port.BeginLoading();
    port.SetBaud(9600);
    port.SetInSize(40960);
    port.SetOutSize(40960);
    port.SetAutoOpen(false);
    port.SetRTS(false);
    port.SetBufferFull(35748);
    port.SetBufferResume(10240);
    port.SetTraceName("SIOP.TRC");
    port.SetLogName("SIOP.LOG");
    port.SetRS485Mode(true);
    port.Loaded();
}
