// The window as designed: every control's kind, parent, place, size, text
// and initial state, compared against a table, so a moved, renamed or
// re-captioned control fails here.
#include "app_test_support.h"

#include "app/action.h"
#include "app/action_list.h"
#include "app/radio_group.h"
#include "app/status_bar.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <set>

namespace {

struct ControlRow {
    const char* name;
    const char* kind;    // the Qt class that stands for the design's kind
    const char* parent;
    int left, top, width, height;
    const char* text;    // caption or text; nullptr where the control has none
};

const ControlRow kControls[] = {
    {"Panel1", "QFrame", "Form_Com", 0, 0, 771, 562, nullptr},
    {"Panel2", "QFrame", "Panel1", 4, 2, 143, 123, nullptr},
    {"Panel5", "QFrame", "Panel1", 4, 126, 143, 413, nullptr},
    {"Panel6", "QFrame", "Panel1", 148, 2, 621, 537, nullptr},
    {"Panel7", "QFrame", "Panel1", 1, 540, 769, 21, nullptr},
    {"StatusBar1", "TStatusBar", "Panel7", 1, 1, 767, 19, nullptr},
    {"Label1", "QLabel", "Panel2", 14, 18, 51, 13, "端口号： "},
    {"ComboBox_ComNum", "QComboBox", "Panel2", 64, 14, 69, 21, nullptr},
    {"Button1", "QPushButton", "Panel2", 10, 44, 123, 31, "打开端口(&S)"},
    {"Button2", "QPushButton", "Panel2", 10, 76, 123, 29, "关闭端口(&C)"},
    {"Button_genMcard", "QPushButton", "Panel5", 8, 160, 127, 27, "生成母卡(&G)"},
    {"RadioGroup_cardnum", "TRadioGroup", "Panel6", 4, 2, 611, 37, "卡类型："},
    {"RadioGroup_outdatamode0_1", "TRadioGroup", "Panel6", 4, 40, 611, 37, "输出数据方式："},
    {"RadioGroup_Outmode", "TRadioGroup", "Panel6", 3, 78, 612, 37, "输出模式："},
    {"RadioGroup_OutStyle_bit7", "TRadioGroup", "Panel6", 4, 116, 611, 37, "输出位数："},
    {"RadioGroup_OutStyle", "TRadioGroup", "Panel6", 4, 154, 611, 81, "输出格式："},
    {"RadioGroup_OutStyle_bit6", "TRadioGroup", "Panel6", 12, 168, 127, 58, ""},
    {"RadioGroup_OutStyle_bit5", "TRadioGroup", "Panel6", 138, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit4", "TRadioGroup", "Panel6", 244, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit3", "TRadioGroup", "Panel6", 360, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit2", "TRadioGroup", "Panel6", 478, 168, 131, 58, ""},
    {"RadioGroup_bandrate_OutStyle_bit1_0", "TRadioGroup", "Panel6", 4, 234, 611, 37, "波特率："},
    {"RadioGroup_content_parameter", "TRadioGroup", "Panel6", 4, 272, 611, 37, "内容参数："},
    {"GroupBox_DataOrder", "QGroupBox", "Panel6", 4, 314, 611, 83, "数据块参数："},
    {"RadioGroup_KeyCheck", "TRadioGroup", "Panel6", 4, 394, 611, 65, "密钥验证："},
    {"StaticText1", "QLabel", "Panel6", 78, 424, 40, 17, "密钥："},
    {"Edit_KeyCheck", "QLineEdit", "Panel6", 128, 422, 121, 21, "3C5A7E91B2D4"},
    {"StaticText2", "QLabel", "Panel6", 274, 422, 173, 17, "6字节十六进制数，高字节在前"},
    {"RadioGroup_KeySet", "TRadioGroup", "Panel6", 4, 462, 423, 63, "配置密码："},
    {"StaticText3", "QLabel", "Panel6", 76, 492, 40, 17, "密码："},
    {"Edit_KeySet", "QLineEdit", "Panel6", 124, 486, 121, 21, "6E2B94D1"},
    {"StaticText8", "QLabel", "Panel6", 250, 488, 160, 17, "（启用或禁用均需配置密码）"},
    {"GroupBox2", "QGroupBox", "Panel6", 432, 462, 183, 63, "锁定配置："},
    {"Label4", "QLabel", "GroupBox_DataOrder", 10, 22, 48, 13, "扇区号："},
    {"Label5", "QLabel", "GroupBox_DataOrder", 12, 46, 45, 13, "块   号："},
    {"Label6", "QLabel", "GroupBox_DataOrder", 146, 16, 126, 13, "块内数据起始地址：      "},
    {"Label7", "QLabel", "GroupBox_DataOrder", 148, 44, 123, 13, "块内数据结束地址：     "},
    {"Label8", "QLabel", "GroupBox_DataOrder", 128, 62, 156, 13, "（有效长度不大于5字节）      "},
    {"Label9", "QLabel", "GroupBox_DataOrder", 376, 24, 63, 13, "字节顺序 ："},
    {"ComboBox_SectorNum", "QComboBox", "GroupBox_DataOrder", 66, 18, 55, 21, nullptr},
    {"ComboBox_BlockNum", "QComboBox", "GroupBox_DataOrder", 66, 42, 55, 21, nullptr},
    {"ComboBox_BlockStartAdr", "QComboBox", "GroupBox_DataOrder", 292, 16, 61, 21, nullptr},
    {"ComboBox_BlockEndAdr", "QComboBox", "GroupBox_DataOrder", 292, 40, 61, 21, nullptr},
    {"RadioButton_OrderHigh", "QRadioButton", "GroupBox_DataOrder", 474, 56, 101, 17, "高字节在前"},
    {"RadioButton_OrderLow", "QRadioButton", "GroupBox_DataOrder", 472, 22, 99, 17, "低字节在前"},
    {"CheckBox_cardflagsave", "QCheckBox", "GroupBox2", 32, 26, 121, 17, "开启锁定功能"},
};

struct RadioGroupRow {
    const char* name;
    int columns;
    std::vector<const char*> items;
    int chosen;
};

const RadioGroupRow kRadioGroups[] = {
    {"RadioGroup_cardnum", 2, {"S50", "S70"}, 0},
    {"RadioGroup_outdatamode0_1", 2,
     {"Mode0：输出卡的序列号", "MOde1：输出卡的扇区密码后，输出扇区数据"}, 0},
    {"RadioGroup_Outmode", 2, {"转为十进制输出", "十六进制输出"}, 0},
    {"RadioGroup_OutStyle_bit7", 2, {"满十位输出", "按实际位输出"}, 0},
    {"RadioGroup_OutStyle", 1, {}, -1},
    {"RadioGroup_OutStyle_bit6", 1, {"带起始符（02H）", "不带起始符"}, 0},
    {"RadioGroup_OutStyle_bit5", 1, {"带回车", "不带回车"}, 0},
    {"RadioGroup_OutStyle_bit4", 1, {"带换行", "不带换行"}, 0},
    {"RadioGroup_OutStyle_bit3", 1, {"带校验和", "不带校验和"}, 1},
    {"RadioGroup_OutStyle_bit2", 1, {"带结束符（03H）", "不带结束符"}, 0},
    {"RadioGroup_bandrate_OutStyle_bit1_0", 3, {"9600", "19200", "38400"}, 0},
    {"RadioGroup_content_parameter", 3, {"8H", "6H", "4H+2H"}, 0},
    {"RadioGroup_KeyCheck", 1, {"密钥A", "密钥B"}, 0},
    {"RadioGroup_KeySet", 1, {"启用", "禁用"}, 1},
};

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
    return {};
}

// Shown, because Qt lays out the inside of a hidden widget only when it is
// first shown.
class FormLayout : public testing::Test {
protected:
    void SetUp() override { form.show(); }
    TestForm form;
};

TEST_F(FormLayout, EveryControlHasItsDesignedKindParentPlaceAndText) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        auto* w = form.findChild<QWidget*>(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(row.kind)) << w->metaObject()->className();
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), row.parent);
        EXPECT_EQ(w->geometry(), QRect(row.left, row.top, row.width, row.height));
        if (row.text != nullptr) {
            EXPECT_EQ(TextOf(w), QString::fromUtf8(row.text));
        }
    }
}

TEST_F(FormLayout, NoControlBeyondTheDesign) {
    std::set<QString> designed;
    for (const ControlRow& row : kControls) designed.insert(QString::fromUtf8(row.name));
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
        EXPECT_TRUE(designed.count(w->objectName())) << w->objectName().toStdString();
    }
}

TEST_F(FormLayout, RadioGroupsHaveTheirOptionsColumnsAndChoice) {
    for (const RadioGroupRow& row : kRadioGroups) {
        SCOPED_TRACE(row.name);
        auto* group = form.findChild<TRadioGroup*>(row.name);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->Columns(), row.columns);
        ASSERT_EQ(group->Count(), static_cast<int>(row.items.size()));
        for (int i = 0; i < group->Count(); ++i)
            EXPECT_EQ(group->Button(i)->text(), QString::fromUtf8(row.items[static_cast<size_t>(i)]));
        EXPECT_EQ(group->ItemIndex(), row.chosen);
    }
}

TEST_F(FormLayout, OptionsSitSideBySideInColumnsAndStackInOne) {
    // Two columns: the second option starts half the group's width to the right.
    EXPECT_EQ(form.RadioGroup_cardnum->Button(0)->y(), form.RadioGroup_cardnum->Button(1)->y());
    EXPECT_EQ(form.RadioGroup_cardnum->Button(1)->x() - form.RadioGroup_cardnum->Button(0)->x(),
              (611 - 10) / 2);
    // One column: the options are stacked, inside the group.
    TRadioGroup* key = form.RadioGroup_KeyCheck;
    EXPECT_EQ(key->Button(0)->x(), key->Button(1)->x());
    EXPECT_LT(key->Button(0)->geometry().bottom(), key->Button(1)->y());
    EXPECT_LE(key->Button(1)->geometry().bottom(), key->height());
}

TEST_F(FormLayout, OtherInitialStates) {
    EXPECT_TRUE(form.RadioButton_OrderLow->isChecked());
    EXPECT_FALSE(form.RadioButton_OrderHigh->isChecked());
    EXPECT_FALSE(form.CheckBox_cardflagsave->isChecked());
    EXPECT_EQ(form.Edit_KeyCheck->maxLength(), 12);
    EXPECT_EQ(form.Edit_KeySet->maxLength(), 8);
    for (QComboBox* list : form.findChildren<QComboBox*>()) EXPECT_FALSE(list->isEditable());
}

TEST_F(FormLayout, WindowCaptionSizePlaceAndTitleBar) {
    EXPECT_EQ(form.objectName(), "Form_Com");
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("RS232接口母卡生成程序V1.0"));
    EXPECT_EQ(form.minimumSize(), QSize(771, 562));
    EXPECT_EQ(form.maximumSize(), QSize(771, 562));
    EXPECT_EQ(form.pos(), QPoint(140, 77));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(FormLayout, FontShowsEveryChineseText) {
    // A font without these glyphs shows boxes; the design's Chinese must be
    // legible in the font the window actually uses.
    QFontMetrics metrics(form.font());
    QString all;
    for (const ControlRow& row : kControls)
        if (row.text) all += QString::fromUtf8(row.text);
    for (const RadioGroupRow& row : kRadioGroups)
        for (const char* item : row.items) all += QString::fromUtf8(item);
    for (QChar c : all) EXPECT_TRUE(metrics.inFont(c)) << QString(c).toStdString();
}

TEST_F(FormLayout, StatusBarHasFivePanelsOfDesignedWidthsAndTexts) {
    TStatusBar* bar = form.StatusBar1;
    ASSERT_EQ(bar->PanelCount(), 5);
    const int widths[] = {40, 150, 70, 280};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar->Panels(i)->geometry(), QRect(left, 0, widths[i], 19)) << i;
        left += widths[i];
    }
    EXPECT_EQ(bar->Panels(4)->geometry(), QRect(left, 0, 767 - left, 19));  // the rest
    const char* texts[] = {"端口：", "", "操作状态：", "", ""};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bar->Panels(i)->text(), QString::fromUtf8(texts[i])) << i;
}

TEST_F(FormLayout, ActionsWithCategoriesCaptionsAndTheirButtons) {
    struct Row {
        TAction* action;
        const char* name;
        const char* category;
        const char* caption;
        QPushButton* shownOn;
    };
    const Row rows[] = {
        {form.Action_SendData, "Action_SendData", "发送", "发送数据", nullptr},
        {form.Action_OpenCom, "Action_OpenCom", "端口操作", "打开端口(&S)", form.Button1},
        {form.Action_CloseCom, "Action_CloseCom", "端口操作", "关闭端口(&C)", form.Button2},
        {form.Action_BuidCard, "Action_BuidCard", "母卡操作", "生成母卡(&G)", form.Button_genMcard},
    };
    ASSERT_EQ(form.ActionList1->Actions().size(), 4u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.action->objectName(), row.name);
        EXPECT_EQ(row.action->Category(), QString::fromUtf8(row.category));
        EXPECT_EQ(row.action->Caption(), QString::fromUtf8(row.caption));
        if (row.shownOn) {
            EXPECT_EQ(row.shownOn->text(), row.action->Caption());
        }
    }
    // The send action is inert: nothing shows it and it has no handlers.
    EXPECT_FALSE(form.Action_SendData->OnExecute);
    EXPECT_FALSE(form.Action_SendData->OnUpdate);
}

TEST_F(FormLayout, TabWalksPortControlsThenGenerateThenSettingsInDesignOrder) {
    // Radio options count as their group; consecutive repeats collapse. Of
    // the byte-order pair only the checked option is a Tab stop.
    QStringList walk;
    QWidget* w = form.ComboBox_ComNum;
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            QString name = w->objectName();
            if (auto* group = qobject_cast<TRadioGroup*>(w->parentWidget())) name = group->objectName();
            if (!name.isEmpty() && (walk.isEmpty() || walk.last() != name)) walk << name;
        }
        w = w->nextInFocusChain();
    } while (w != form.ComboBox_ComNum);
    const QStringList expected = {
        "ComboBox_ComNum", "Button1", "Button2", "Button_genMcard", "RadioGroup_cardnum",
        "RadioGroup_outdatamode0_1", "RadioGroup_Outmode", "ComboBox_SectorNum",
        "ComboBox_BlockNum", "ComboBox_BlockStartAdr", "ComboBox_BlockEndAdr",
        "RadioButton_OrderLow", "CheckBox_cardflagsave",
        "RadioGroup_KeyCheck", "Edit_KeyCheck", "RadioGroup_KeySet", "Edit_KeySet",
        "RadioGroup_OutStyle_bit7", "RadioGroup_bandrate_OutStyle_bit1_0",
        "RadioGroup_content_parameter", "RadioGroup_OutStyle_bit6", "RadioGroup_OutStyle_bit5",
        "RadioGroup_OutStyle_bit4", "RadioGroup_OutStyle_bit3", "RadioGroup_OutStyle_bit2"};
    EXPECT_EQ(walk, expected);
}

}  // namespace
