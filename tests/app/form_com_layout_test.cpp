// The window as designed, through the toolkit layer: every control's kind,
// parent, place, size, text and initial state, compared against a table, so
// a moved, renamed or re-captioned control fails here. Written in the
// layer's vocabulary only, so every toolkit implementation runs it.
#include "operator.h"
#include "test_form.h"

#include "app/toolkit/action.h"
#include "app/toolkit/action_list.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using K = TControlKind;

struct ControlRow {
    const char* name;
    TControlKind kind;
    const char* parent;
    int left, top, width, height;
    const char* text;    // caption or text; nullptr where the control has none
};

const ControlRow kControls[] = {
    {"Panel1", K::Panel, "Form_Com", 0, 0, 771, 562, nullptr},
    {"Panel2", K::Panel, "Panel1", 4, 2, 143, 123, nullptr},
    {"Panel5", K::Panel, "Panel1", 4, 126, 143, 413, nullptr},
    {"Panel6", K::Panel, "Panel1", 148, 2, 621, 537, nullptr},
    {"Panel7", K::Panel, "Panel1", 1, 540, 769, 21, nullptr},
    {"StatusBar1", K::StatusBar, "Panel7", 1, 1, 767, 19, nullptr},
    {"Label1", K::Label, "Panel2", 14, 18, 51, 13, "端口号： "},
    {"ComboBox_ComNum", K::ComboBox, "Panel2", 64, 14, 69, 21, nullptr},
    {"Button1", K::Button, "Panel2", 10, 44, 123, 31, "打开端口(&S)"},
    {"Button2", K::Button, "Panel2", 10, 76, 123, 29, "关闭端口(&C)"},
    {"Button_genMcard", K::Button, "Panel5", 8, 160, 127, 27, "生成母卡(&G)"},
    {"RadioGroup_cardnum", K::RadioGroup, "Panel6", 4, 2, 611, 37, "卡类型："},
    {"RadioGroup_outdatamode0_1", K::RadioGroup, "Panel6", 4, 40, 611, 37, "输出数据方式："},
    {"RadioGroup_Outmode", K::RadioGroup, "Panel6", 3, 78, 612, 37, "输出模式："},
    {"RadioGroup_OutStyle_bit7", K::RadioGroup, "Panel6", 4, 116, 611, 37, "输出位数："},
    {"RadioGroup_OutStyle", K::RadioGroup, "Panel6", 4, 154, 611, 81, "输出格式："},
    {"RadioGroup_OutStyle_bit6", K::RadioGroup, "Panel6", 12, 168, 127, 58, ""},
    {"RadioGroup_OutStyle_bit5", K::RadioGroup, "Panel6", 138, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit4", K::RadioGroup, "Panel6", 244, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit3", K::RadioGroup, "Panel6", 360, 168, 119, 58, ""},
    {"RadioGroup_OutStyle_bit2", K::RadioGroup, "Panel6", 478, 168, 131, 58, ""},
    {"RadioGroup_bandrate_OutStyle_bit1_0", K::RadioGroup, "Panel6", 4, 234, 611, 37, "波特率："},
    {"RadioGroup_content_parameter", K::RadioGroup, "Panel6", 4, 272, 611, 37, "内容参数："},
    {"GroupBox_DataOrder", K::GroupBox, "Panel6", 4, 314, 611, 83, "数据块参数："},
    {"RadioGroup_KeyCheck", K::RadioGroup, "Panel6", 4, 394, 611, 65, "密钥验证："},
    {"StaticText1", K::Label, "Panel6", 78, 424, 40, 17, "密钥："},
    {"Edit_KeyCheck", K::Edit, "Panel6", 128, 422, 121, 21, "3C5A7E91B2D4"},
    {"StaticText2", K::Label, "Panel6", 274, 422, 173, 17, "6字节十六进制数，高字节在前"},
    {"RadioGroup_KeySet", K::RadioGroup, "Panel6", 4, 462, 423, 63, "配置密码："},
    {"StaticText3", K::Label, "Panel6", 76, 492, 40, 17, "密码："},
    {"Edit_KeySet", K::Edit, "Panel6", 124, 486, 121, 21, "6E2B94D1"},
    {"StaticText8", K::Label, "Panel6", 250, 488, 160, 17, "（启用或禁用均需配置密码）"},
    {"GroupBox2", K::GroupBox, "Panel6", 432, 462, 183, 63, "锁定配置："},
    {"Label4", K::Label, "GroupBox_DataOrder", 10, 22, 48, 13, "扇区号："},
    {"Label5", K::Label, "GroupBox_DataOrder", 12, 46, 45, 13, "块   号："},
    {"Label6", K::Label, "GroupBox_DataOrder", 146, 16, 126, 13, "块内数据起始地址：      "},
    {"Label7", K::Label, "GroupBox_DataOrder", 148, 44, 123, 13, "块内数据结束地址：     "},
    {"Label8", K::Label, "GroupBox_DataOrder", 128, 62, 156, 13, "（有效长度不大于5字节）      "},
    {"Label9", K::Label, "GroupBox_DataOrder", 376, 24, 63, 13, "字节顺序 ："},
    {"ComboBox_SectorNum", K::ComboBox, "GroupBox_DataOrder", 66, 18, 55, 21, nullptr},
    {"ComboBox_BlockNum", K::ComboBox, "GroupBox_DataOrder", 66, 42, 55, 21, nullptr},
    {"ComboBox_BlockStartAdr", K::ComboBox, "GroupBox_DataOrder", 292, 16, 61, 21, nullptr},
    {"ComboBox_BlockEndAdr", K::ComboBox, "GroupBox_DataOrder", 292, 40, 61, 21, nullptr},
    {"RadioButton_OrderHigh", K::RadioButton, "GroupBox_DataOrder", 474, 56, 101, 17, "高字节在前"},
    {"RadioButton_OrderLow", K::RadioButton, "GroupBox_DataOrder", 472, 22, 99, 17, "低字节在前"},
    {"CheckBox_cardflagsave", K::CheckBox, "GroupBox2", 32, 26, 121, 17, "开启锁定功能"},
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

std::string ParentName(const TForm_Com& form, const TControl& control) {
    return control.Parent() != nullptr ? control.Parent()->Name() : form.Window().Name();
}

// Shown, because a toolkit may lay out the inside of a window only when it
// is first shown.
class FormLayout : public testing::Test {
protected:
    void SetUp() override { form.Show(); }
    TestForm form;
};

TEST_F(FormLayout, EveryControlHasItsDesignedKindParentPlaceAndText) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        TControl* control = form.Window().FindControl(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->Kind(), row.kind);
        EXPECT_EQ(ParentName(form, *control), row.parent);
        EXPECT_EQ(control->BoundsRect(), (TRect{row.left, row.top, row.width, row.height}));
        if (row.text != nullptr) {
            EXPECT_EQ(control->Text(), row.text);
        }
    }
}

TEST_F(FormLayout, NoControlBeyondTheDesign) {
    std::set<std::string> designed;
    for (const ControlRow& row : kControls) designed.insert(row.name);
    std::set<std::string> built;
    for (TControl* control : form.Window().Controls()) built.insert(control->Name());
    EXPECT_EQ(built, designed);
}

TEST_F(FormLayout, RadioGroupsHaveTheirOptionsColumnsAndChoice) {
    for (const RadioGroupRow& row : kRadioGroups) {
        SCOPED_TRACE(row.name);
        auto* group = form.Window().Find<TRadioGroup>(row.name);
        EXPECT_EQ(group->Columns(), row.columns);
        ASSERT_EQ(group->Count(), static_cast<int>(row.items.size()));
        for (int i = 0; i < group->Count(); ++i)
            EXPECT_EQ(group->Items(i), row.items[static_cast<size_t>(i)]);
        EXPECT_EQ(group->ItemIndex(), row.chosen);
    }
}

TEST_F(FormLayout, OtherInitialStates) {
    EXPECT_TRUE(form.RadioButton_OrderLow->Checked());
    EXPECT_FALSE(form.RadioButton_OrderHigh->Checked());
    EXPECT_FALSE(form.CheckBox_cardflagsave->Checked());
    EXPECT_EQ(form.Edit_KeyCheck->MaxLength(), 12);
    EXPECT_EQ(form.Edit_KeySet->MaxLength(), 8);
}

TEST_F(FormLayout, WindowNameCaptionPlaceAndSize) {
    EXPECT_EQ(form.Window().Name(), "Form_Com");
    EXPECT_EQ(form.Window().Caption(), "RS232接口母卡生成程序V1.0");
    EXPECT_EQ(form.Window().BoundsRect(), (TRect{140, 77, 771, 562}));
}

TEST_F(FormLayout, StatusBarHasFivePanelsOfDesignedWidthsAndTexts) {
    TStatusBar* bar = form.StatusBar1;
    ASSERT_EQ(bar->PanelCount(), 5);
    const int widths[] = {40, 150, 70, 280};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar->PanelRect(i), (TRect{left, 0, widths[i], 19})) << i;
        left += widths[i];
    }
    EXPECT_EQ(bar->PanelRect(4), (TRect{left, 0, 767 - left, 19}));  // the rest
    const char* texts[] = {"端口：", "", "操作状态：", "", ""};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bar->Panels(i)->Text(), texts[i]) << i;
}

TEST_F(FormLayout, ActionsWithCategoriesCaptionsAndTheirButtons) {
    struct Row {
        TAction* action;
        const char* name;
        const char* category;
        const char* caption;
        TButton* shownOn;
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
        EXPECT_EQ(row.action->Name(), row.name);
        EXPECT_EQ(row.action->Category(), row.category);
        EXPECT_EQ(row.action->Caption(), row.caption);
        if (row.shownOn) {
            EXPECT_EQ(row.shownOn->Text(), row.action->Caption());
        }
    }
    // The send action is inert: nothing shows it and it has no handlers.
    EXPECT_FALSE(form.Action_SendData->OnExecute);
    EXPECT_FALSE(form.Action_SendData->OnUpdate);
}

}  // namespace
