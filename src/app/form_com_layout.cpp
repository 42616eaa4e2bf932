// The window's fixed design: every control with its name, kind, parent,
// place, size, text and initial state, the actions, and the keyboard order.
#include "app/action.h"
#include "app/action_list.h"
#include "app/form_com.h"
#include "app/option_tab_stop.h"
#include "app/radio_group.h"
#include "app/status_bar.h"
#include "app/upper_case_validator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

template <class Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

QFrame* Panel(QWidget* parent, const char* name, int left, int top, int width, int height,
              QFrame::Shadow bevel = QFrame::Raised) {
    auto* panel = Place(new QFrame(parent), name, left, top, width, height);
    panel->setFrameStyle(QFrame::Panel | bevel);
    return panel;
}

QLabel* Label(QWidget* parent, const char* name, const char* text, int left, int top, int width,
              int height) {
    auto* label = Place(new QLabel(QString::fromUtf8(text), parent), name, left, top, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

// A drop-down list: the operator picks an item but cannot type a text.
QComboBox* DropDownList(QWidget* parent, const char* name, int left, int top, int width,
                        int height) {
    auto* list = Place(new QComboBox(parent), name, left, top, width, height);
    list->setEditable(false);
    list->setMaxVisibleItems(8);
    return list;
}

TRadioGroup* RadioGroup(QWidget* parent, const char* name, const char* caption,
                        const QStringList& items, int columns, int chosen, int left, int top,
                        int width, int height) {
    auto* group = Place(new TRadioGroup(parent, QString::fromUtf8(caption), items, columns), name,
                        left, top, width, height);
    group->SetItemIndex(chosen);
    return group;
}

QLineEdit* UpperCaseEdit(QWidget* parent, const char* name, const char* text, int maxLength,
                         int left, int top, int width, int height) {
    auto* edit = Place(new QLineEdit(parent), name, left, top, width, height);
    edit->setValidator(new TUpperCaseValidator(edit));
    edit->setMaxLength(maxLength);
    edit->setText(QString::fromUtf8(text));
    return edit;
}

QStringList Texts(std::initializer_list<const char*> items) {
    QStringList texts;
    for (const char* item : items) texts << QString::fromUtf8(item);
    return texts;
}

}  // namespace

void TForm_Com::CreateControls() {
    Panel1 = Panel(this, "Panel1", 0, 0, 771, 562, QFrame::Sunken);
    Panel2 = Panel(Panel1, "Panel2", 4, 2, 143, 123);
    Panel5 = Panel(Panel1, "Panel5", 4, 126, 143, 413);
    Panel6 = Panel(Panel1, "Panel6", 148, 2, 621, 537);
    Panel7 = Panel(Panel1, "Panel7", 1, 540, 769, 21);
    StatusBar1 = Place(new TStatusBar(Panel7, {40, 150, 70, 280, 50}), "StatusBar1", 1, 1, 767, 19);
    StatusBar1->Panels(0)->setText(QString::fromUtf8("端口："));
    StatusBar1->Panels(2)->setText(QString::fromUtf8("操作状态："));

    // Port controls and the generate button.
    Label1 = Label(Panel2, "Label1", "端口号： ", 14, 18, 51, 13);
    ComboBox_ComNum = DropDownList(Panel2, "ComboBox_ComNum", 64, 14, 69, 21);
    Button1 = Place(new QPushButton(Panel2), "Button1", 10, 44, 123, 31);
    Button2 = Place(new QPushButton(Panel2), "Button2", 10, 76, 123, 29);
    Button_genMcard = Place(new QPushButton(Panel5), "Button_genMcard", 8, 160, 127, 27);

    // Configuration settings, in the order they are stacked: the five
    // caption-less groups lie over the "输出格式：" frame, the key and
    // password fields over their radio groups.
    RadioGroup_cardnum = RadioGroup(Panel6, "RadioGroup_cardnum", "卡类型：", {"S50", "S70"}, 2,
                                    0, 4, 2, 611, 37);
    RadioGroup_outdatamode0_1 = RadioGroup(
        Panel6, "RadioGroup_outdatamode0_1", "输出数据方式：",
        Texts({"Mode0：输出卡的序列号", "MOde1：输出卡的扇区密码后，输出扇区数据"}), 2, 0, 4, 40,
        611, 37);
    RadioGroup_Outmode = RadioGroup(Panel6, "RadioGroup_Outmode", "输出模式：",
                                    Texts({"转为十进制输出", "十六进制输出"}), 2, 0, 3, 78, 612, 37);
    RadioGroup_OutStyle_bit7 =
        RadioGroup(Panel6, "RadioGroup_OutStyle_bit7", "输出位数：",
                   Texts({"满十位输出", "按实际位输出"}), 2, 0, 4, 116, 611, 37);
    RadioGroup_OutStyle =
        RadioGroup(Panel6, "RadioGroup_OutStyle", "输出格式：", {}, 1, -1, 4, 154, 611, 81);
    RadioGroup_OutStyle_bit6 = RadioGroup(Panel6, "RadioGroup_OutStyle_bit6", "",
                                          Texts({"带起始符（02H）", "不带起始符"}), 1, 0, 12, 168,
                                          127, 58);
    RadioGroup_OutStyle_bit5 = RadioGroup(Panel6, "RadioGroup_OutStyle_bit5", "",
                                          Texts({"带回车", "不带回车"}), 1, 0, 138, 168, 119, 58);
    RadioGroup_OutStyle_bit4 = RadioGroup(Panel6, "RadioGroup_OutStyle_bit4", "",
                                          Texts({"带换行", "不带换行"}), 1, 0, 244, 168, 119, 58);
    RadioGroup_OutStyle_bit3 = RadioGroup(Panel6, "RadioGroup_OutStyle_bit3", "",
                                          Texts({"带校验和", "不带校验和"}), 1, 1, 360, 168, 119,
                                          58);
    RadioGroup_OutStyle_bit2 = RadioGroup(Panel6, "RadioGroup_OutStyle_bit2", "",
                                          Texts({"带结束符（03H）", "不带结束符"}), 1, 0, 478, 168,
                                          131, 58);
    RadioGroup_bandrate_OutStyle_bit1_0 =
        RadioGroup(Panel6, "RadioGroup_bandrate_OutStyle_bit1_0", "波特率：",
                   {"9600", "19200", "38400"}, 3, 0, 4, 234, 611, 37);
    RadioGroup_content_parameter =
        RadioGroup(Panel6, "RadioGroup_content_parameter", "内容参数：", {"8H", "6H", "4H+2H"}, 3,
                   0, 4, 272, 611, 37);

    GroupBox_DataOrder = Place(new QGroupBox(QString::fromUtf8("数据块参数："), Panel6),
                               "GroupBox_DataOrder", 4, 314, 611, 83);
    Label4 = Label(GroupBox_DataOrder, "Label4", "扇区号：", 10, 22, 48, 13);
    Label5 = Label(GroupBox_DataOrder, "Label5", "块   号：", 12, 46, 45, 13);
    Label6 = Label(GroupBox_DataOrder, "Label6", "块内数据起始地址：      ", 146, 16, 126, 13);
    Label7 = Label(GroupBox_DataOrder, "Label7", "块内数据结束地址：     ", 148, 44, 123, 13);
    Label8 = Label(GroupBox_DataOrder, "Label8", "（有效长度不大于5字节）      ", 128, 62, 156, 13);
    Label9 = Label(GroupBox_DataOrder, "Label9", "字节顺序 ：", 376, 24, 63, 13);
    ComboBox_SectorNum = DropDownList(GroupBox_DataOrder, "ComboBox_SectorNum", 66, 18, 55, 21);
    ComboBox_BlockNum = DropDownList(GroupBox_DataOrder, "ComboBox_BlockNum", 66, 42, 55, 21);
    ComboBox_BlockStartAdr =
        DropDownList(GroupBox_DataOrder, "ComboBox_BlockStartAdr", 292, 16, 61, 21);
    ComboBox_BlockEndAdr = DropDownList(GroupBox_DataOrder, "ComboBox_BlockEndAdr", 292, 40, 61, 21);
    RadioButton_OrderHigh =
        Place(new QRadioButton(QString::fromUtf8("高字节在前"), GroupBox_DataOrder),
              "RadioButton_OrderHigh", 474, 56, 101, 17);
    RadioButton_OrderLow = Place(new QRadioButton(QString::fromUtf8("低字节在前"), GroupBox_DataOrder),
                                 "RadioButton_OrderLow", 472, 22, 99, 17);
    RadioButton_OrderLow->setChecked(true);
    KeepTabStopOnCheckedOption({RadioButton_OrderHigh, RadioButton_OrderLow});

    RadioGroup_KeyCheck = RadioGroup(Panel6, "RadioGroup_KeyCheck", "密钥验证：",
                                     Texts({"密钥A", "密钥B"}), 1, 0, 4, 394, 611, 65);
    StaticText1 = Label(Panel6, "StaticText1", "密钥：", 78, 424, 40, 17);
    Edit_KeyCheck = UpperCaseEdit(Panel6, "Edit_KeyCheck", "3C5A7E91B2D4", 12, 128, 422, 121, 21);
    StaticText2 = Label(Panel6, "StaticText2", "6字节十六进制数，高字节在前", 274, 422, 173, 17);
    RadioGroup_KeySet = RadioGroup(Panel6, "RadioGroup_KeySet", "配置密码：",
                                   Texts({"启用", "禁用"}), 1, 1, 4, 462, 423, 63);
    StaticText3 = Label(Panel6, "StaticText3", "密码：", 76, 492, 40, 17);
    Edit_KeySet = UpperCaseEdit(Panel6, "Edit_KeySet", "6E2B94D1", 8, 124, 486, 121, 21);
    StaticText8 = Label(Panel6, "StaticText8", "（启用或禁用均需配置密码）", 250, 488, 160, 17);

    GroupBox2 = Place(new QGroupBox(QString::fromUtf8("锁定配置："), Panel6), "GroupBox2", 432, 462,
                      183, 63);
    CheckBox_cardflagsave = Place(new QCheckBox(QString::fromUtf8("开启锁定功能"), GroupBox2),
                                  "CheckBox_cardflagsave", 32, 26, 121, 17);
}

void TForm_Com::CreateActions() {
    ActionList1 = new TActionList(this);
    Action_SendData = ActionList1->Add("Action_SendData", QString::fromUtf8("发送"),
                                       QString::fromUtf8("发送数据"));
    Action_OpenCom = ActionList1->Add("Action_OpenCom", QString::fromUtf8("端口操作"),
                                      QString::fromUtf8("打开端口(&S)"));
    Action_CloseCom = ActionList1->Add("Action_CloseCom", QString::fromUtf8("端口操作"),
                                       QString::fromUtf8("关闭端口(&C)"));
    Action_BuidCard = ActionList1->Add("Action_BuidCard", QString::fromUtf8("母卡操作"),
                                       QString::fromUtf8("生成母卡(&G)"));
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

// Tab walks the containers in their order and, inside each, the controls in
// theirs: the port controls, the generate button, then the settings.
void TForm_Com::SetTabOrder() {
    std::vector<QWidget*> order = {ComboBox_ComNum, Button1, Button2, Button_genMcard};
    auto addGroup = [&order](TRadioGroup* group) {
        for (int i = 0; i < group->Count(); ++i) order.push_back(group->Button(i));
    };
    addGroup(RadioGroup_cardnum);
    addGroup(RadioGroup_outdatamode0_1);
    addGroup(RadioGroup_Outmode);
    order.insert(order.end(), {ComboBox_SectorNum, ComboBox_BlockNum, ComboBox_BlockStartAdr,
                               ComboBox_BlockEndAdr, RadioButton_OrderHigh, RadioButton_OrderLow,
                               CheckBox_cardflagsave});
    addGroup(RadioGroup_KeyCheck);
    order.push_back(Edit_KeyCheck);
    addGroup(RadioGroup_KeySet);
    order.push_back(Edit_KeySet);
    for (TRadioGroup* group :
         {RadioGroup_OutStyle_bit7, RadioGroup_bandrate_OutStyle_bit1_0,
          RadioGroup_content_parameter, RadioGroup_OutStyle_bit6, RadioGroup_OutStyle_bit5,
          RadioGroup_OutStyle_bit4, RadioGroup_OutStyle_bit3, RadioGroup_OutStyle_bit2})
        addGroup(group);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}
