// The window's behaviour while no port is connected and with FComReady set
// by hand: its lists, its enabling rules and the lock confirmation. Written
// in the toolkit layer's vocabulary only, so every toolkit implementation
// runs it.
#include "form_com_fixture.h"

#include "app/toolkit/action.h"
#include "app/toolkit/files.h"
#include "app/traffic_log_file.h"
#include "serial/errors/errors.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::string> Items(const TComboBox* list) {
    std::vector<std::string> items;
    for (int i = 0; i < list->Count(); ++i) items.push_back(list->Items(i));
    return items;
}

std::vector<std::string> Numbers(int count) {
    std::vector<std::string> numbers;
    for (int i = 0; i < count; ++i) numbers.push_back(std::to_string(i));
    return numbers;
}

TEST(FormComCreation, SettingsStayEnabledUntilTheFirstIdleMoment) {
    TestForm form;  // never shown, so no idle update has run
    EXPECT_TRUE(form.RadioGroup_cardnum->Enabled());
    EXPECT_TRUE(form.ComboBox_SectorNum->Enabled());
    EXPECT_TRUE(form.CheckBox_cardflagsave->Enabled());
    EXPECT_FALSE(form.Button_genMcard->Enabled());
    EXPECT_FALSE(form.FComReady);
}

TEST_F(FormCom, AfterStartOnlyThePortControlsAreUsable) {
    ExpectEnabled(GroupA(), false);
    ExpectEnabled(GroupB(), false);
    ExpectEnabled(GroupC(), false);
    ExpectEnabled(GroupD(), false);
    EXPECT_FALSE(form.Button_genMcard->Enabled());
    EXPECT_TRUE(form.ComboBox_ComNum->Enabled());
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_FALSE(form.Button2->Enabled());
    EXPECT_EQ(form.StatusBar1->Panels(1)->Text(), "");
    EXPECT_EQ(form.StatusBar1->Panels(3)->Text(), "");
    EXPECT_EQ(form.StatusBar1->Panels(4)->Text(), "");
}

// Tab and Shift+Tab enter a set of options at its checked option, and the
// arrow keys move on from there, choosing as they go.
TEST_F(FormCom, TabEntersOptionsAtTheCheckedOneAndArrowsMoveOn) {
    ConnectInModeOne();
    const auto moves = [](TFocus from, TKey key, TFocus to) {
        PressKey(from, key);
        return HasFocus(to);
    };
    // The byte-order pair: "低字节在前" is checked and second in the order.
    EXPECT_TRUE(moves({form.ComboBox_BlockEndAdr}, TKey::Tab, {form.RadioButton_OrderLow}));
    EXPECT_TRUE(moves({form.CheckBox_cardflagsave}, TKey::BackTab, {form.RadioButton_OrderLow}));
    EXPECT_TRUE(moves({form.RadioButton_OrderLow}, TKey::Tab, {form.CheckBox_cardflagsave}));
    // "高字节在前" lies below "低字节在前".
    EXPECT_TRUE(moves({form.RadioButton_OrderLow}, TKey::Down, {form.RadioButton_OrderHigh}));
    EXPECT_TRUE(form.RadioButton_OrderHigh->Checked());
    EXPECT_TRUE(moves({form.ComboBox_BlockEndAdr}, TKey::Tab, {form.RadioButton_OrderHigh}));

    // A radio group, entered from either side at its second option.
    ClickOption(form.RadioGroup_Outmode, 1);
    const TFocus decimal{form.RadioGroup_Outmode, 0};
    const TFocus hexadecimal{form.RadioGroup_Outmode, 1};
    EXPECT_TRUE(moves({form.RadioGroup_outdatamode0_1, 1}, TKey::Tab, hexadecimal));
    EXPECT_TRUE(moves({form.ComboBox_SectorNum}, TKey::BackTab, hexadecimal));
    EXPECT_TRUE(moves(hexadecimal, TKey::Left, decimal));
    EXPECT_EQ(form.RadioGroup_Outmode->ItemIndex(), 0);
    EXPECT_TRUE(moves({form.ComboBox_SectorNum}, TKey::BackTab, decimal));
}

TEST_F(FormCom, AfterStartTheListsHoldTheirItemsAndChoices) {
    const std::vector<std::string> ports = {" AUTO ", " COM1", " COM2",  " COM3",  " COM4",
                                            " COM5",  " COM6", " COM7",  " COM8",  " COM9",
                                            " COM10", " COM11", " COM12"};
    EXPECT_EQ(Items(form.ComboBox_ComNum), ports);
    EXPECT_EQ(form.ComboBox_ComNum->ItemIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_SectorNum), Numbers(16));
    EXPECT_EQ(form.ComboBox_SectorNum->ItemIndex(), 0);
    // Exactly four: filling the sector list by program must not have
    // refilled the block list as well.
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    EXPECT_EQ(form.ComboBox_BlockNum->ItemIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_BlockStartAdr), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockStartAdr->ItemIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_BlockEndAdr), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockEndAdr->ItemIndex(), 4);
}

TEST_F(FormCom, ConnectedEnablingFollowsTheOutputDataMode) {
    Connect(true);
    ExpectEnabled(GroupA(), true);
    ExpectEnabled(GroupB(), true);
    ExpectEnabled(GroupC(), false);  // mode 0 reads no sector
    ExpectEnabled(GroupD(), true);
    EXPECT_FALSE(form.Button1->Enabled());
    EXPECT_TRUE(form.Button2->Enabled());
    EXPECT_TRUE(form.ComboBox_ComNum->Enabled());
    // The generate button is switched by the port handlers, never at idle.
    EXPECT_FALSE(form.Button_genMcard->Enabled());

    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    RunUntilIdle();
    ExpectEnabled(GroupC(), true);

    ClickOption(form.RadioGroup_outdatamode0_1, 0);
    RunUntilIdle();
    ExpectEnabled(GroupC(), false);
    ExpectEnabled(GroupA(), true);
}

TEST_F(FormCom, DisconnectingDisablesEverythingButKeepsEveryValue) {
    Connect(true);
    form.answers = {true};
    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    ClickOption(form.RadioGroup_bandrate_OutStyle_bit1_0, 2);
    Click(form.CheckBox_cardflagsave);
    RunUntilIdle();
    ASSERT_TRUE(form.CheckBox_cardflagsave->Checked());

    Connect(false);
    ExpectEnabled(GroupA(), false);
    ExpectEnabled(GroupB(), false);
    ExpectEnabled(GroupC(), false);
    ExpectEnabled(GroupD(), false);
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_FALSE(form.Button2->Enabled());
    EXPECT_TRUE(form.CheckBox_cardflagsave->Checked());
    EXPECT_EQ(form.RadioGroup_outdatamode0_1->ItemIndex(), 1);
    EXPECT_EQ(form.RadioGroup_bandrate_OutStyle_bit1_0->ItemIndex(), 2);
    EXPECT_EQ(form.questions.size(), 1);
}

TEST_F(FormCom, SectorChoiceRefillsTheBlocksOfThatSector) {
    ConnectInModeOne();
    ClickOption(form.RadioGroup_cardnum, 1);  // S70
    EXPECT_EQ(Items(form.ComboBox_SectorNum), Numbers(40));
    EXPECT_EQ(form.ComboBox_SectorNum->ItemIndex(), 0);

    ChooseItem(form.ComboBox_SectorNum, 31);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    ChooseItem(form.ComboBox_SectorNum, 32);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(16));
    ChooseItem(form.ComboBox_BlockNum, 10);
    ChooseItem(form.ComboBox_SectorNum, 39);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockNum->ItemIndex(), 0);  // same count, still reset

    ChooseItem(form.ComboBox_BlockNum, 2);
    ChooseItem(form.ComboBox_SectorNum, 39);  // the same sector again
    EXPECT_EQ(form.ComboBox_BlockNum->ItemIndex(), 0);
}

TEST_F(FormCom, CardTypeResetsSectorAndBlocksToSectorZero) {
    ConnectInModeOne();
    ClickOption(form.RadioGroup_cardnum, 1);
    ChooseItem(form.ComboBox_SectorNum, 35);
    ChooseItem(form.ComboBox_BlockNum, 10);
    ChooseItem(form.ComboBox_BlockStartAdr, 7);
    ChooseItem(form.ComboBox_BlockEndAdr, 9);

    ClickOption(form.RadioGroup_cardnum, 0);  // back to S50
    EXPECT_EQ(Items(form.ComboBox_SectorNum), Numbers(16));
    EXPECT_EQ(form.ComboBox_SectorNum->ItemIndex(), 0);
    // Sector 0 has four blocks: block 10 would belong to sector 2.
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    EXPECT_EQ(form.ComboBox_BlockNum->ItemIndex(), 0);
    // The address lists are never refilled.
    EXPECT_EQ(form.ComboBox_BlockStartAdr->ItemIndex(), 7);
    EXPECT_EQ(form.ComboBox_BlockEndAdr->ItemIndex(), 9);
}

TEST_F(FormCom, LockIsConfirmedOncePerCheckAndNeverOnUncheck) {
    Connect(true);
    auto clickLock = [this] {
        Click(form.CheckBox_cardflagsave);
    };
    form.answers = {true};
    clickLock();
    RunUntilIdle();
    RunUntilIdle();
    ASSERT_EQ(form.questions.size(), 1);
    EXPECT_EQ(form.questions[0],
              "选择开启锁定功能将锁定通用读卡器的配置不可更改，"
              "请确认是否选择此项操作?");
    EXPECT_TRUE(form.CheckBox_cardflagsave->Checked());

    clickLock();  // uncheck: nothing asked
    RunUntilIdle();
    EXPECT_EQ(form.questions.size(), 1);
    EXPECT_FALSE(form.CheckBox_cardflagsave->Checked());

    form.answers = {false};
    clickLock();  // check again: asked again, No unchecks it
    RunUntilIdle();
    RunUntilIdle();
    EXPECT_EQ(form.questions.size(), 2);
    EXPECT_FALSE(form.CheckBox_cardflagsave->Checked());
}

TEST_F(FormCom, LockIsConfirmedBeforeAGenerationToo) {
    Connect(true);
    form.answers = {false};
    Click(form.CheckBox_cardflagsave);
    // Executing an action runs its update first, even with no idle moment
    // in between. No port is open here, so the generation itself stops at
    // its first write.
    EXPECT_THROW(form.Action_BuidCard->Execute(), sio::ECommNotOpen);
    EXPECT_EQ(form.questions.size(), 1);
    EXPECT_FALSE(form.CheckBox_cardflagsave->Checked());
}

TEST_F(FormCom, SettingsAreReadFromTheControlsAtTheMomentOfUse) {
    // Untouched, the window reads as the record's default settings.
    const auto fresh = mastercard::BuildMasterCardConfig(form.ReadMasterCardSettings());
    const auto defaults = mastercard::BuildMasterCardConfig(mastercard::MasterCardSettings{});
    EXPECT_EQ(fresh.config, defaults.config);

    Connect(true);
    form.answers = {true};
    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    RunUntilIdle();
    ClickOption(form.RadioGroup_cardnum, 1);
    ChooseItem(form.ComboBox_SectorNum, 33);
    ChooseItem(form.ComboBox_BlockNum, 5);
    ChooseItem(form.ComboBox_BlockStartAdr, 2);
    ChooseItem(form.ComboBox_BlockEndAdr, 6);
    ClickOption(form.RadioGroup_content_parameter, 2);
    ClickOption(form.RadioGroup_KeyCheck, 1);
    ClickOption(form.RadioGroup_OutStyle_bit7, 1);
    ClickOption(form.RadioGroup_OutStyle_bit6, 1);
    ClickOption(form.RadioGroup_OutStyle_bit5, 1);
    ClickOption(form.RadioGroup_OutStyle_bit4, 1);
    ClickOption(form.RadioGroup_OutStyle_bit3, 0);
    ClickOption(form.RadioGroup_OutStyle_bit2, 1);
    ClickOption(form.RadioGroup_bandrate_OutStyle_bit1_0, 1);
    ClickOption(form.RadioGroup_Outmode, 1);
    ClickOption(form.RadioGroup_KeySet, 0);
    Click(form.RadioButton_OrderHigh);
    Click(form.CheckBox_cardflagsave);
    form.Edit_KeyCheck->SetText("A1B2C3D4E5F6");
    form.Edit_KeySet->SetText("12345678");

    const mastercard::MasterCardSettings s = form.ReadMasterCardSettings();
    EXPECT_EQ(s.RadioGroup_outdatamode0_1, 1);
    EXPECT_EQ(s.ComboBox_SectorNum, 33);
    EXPECT_EQ(s.ComboBox_BlockNum, 5);
    EXPECT_EQ(s.ComboBox_BlockStartAdr, 2);
    EXPECT_EQ(s.ComboBox_BlockEndAdr, 6);
    EXPECT_EQ(s.RadioGroup_content_parameter, 2);
    EXPECT_EQ(s.RadioGroup_KeyCheck, 1);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit7, 1);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit6, 1);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit5, 1);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit4, 1);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit3, 0);
    EXPECT_EQ(s.RadioGroup_OutStyle_bit2, 1);
    EXPECT_EQ(s.RadioGroup_bandrate_OutStyle_bit1_0, 1);
    EXPECT_EQ(s.RadioGroup_Outmode, 1);
    EXPECT_EQ(s.RadioGroup_KeySet, 0);
    EXPECT_TRUE(s.RadioButton_OrderHigh);
    EXPECT_FALSE(s.RadioButton_OrderLow);
    EXPECT_TRUE(s.CheckBox_cardflagsave);
    EXPECT_EQ(s.Edit_KeyCheck, "A1B2C3D4E5F6");
    EXPECT_EQ(s.Edit_KeySet, "12345678");
}

TEST_F(FormCom, TrafficLogIsPreparedButNotSwitchedOn) {
    EXPECT_TRUE(form.FLogLines.empty());
    const std::string& name = form.FLogFileName;
    ASSERT_EQ(name.rfind(ProgramFolder(), 0), 0u) << name;
    const std::string file = name.substr(ProgramFolder().size());  // "YYYYMMDDhhmm.Log"
    ASSERT_EQ(file.size(), 16u) << name;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    EXPECT_TRUE(std::all_of(file.begin(), file.begin() + 12, digit)) << name;
    EXPECT_EQ(file.substr(12), ".Log");
    EXPECT_EQ(form.FLogEnabled, IsFile(ProgramFolder() + "writelog.txt"));
}

TEST(TrafficLogFile, NamedAfterTheStartMinuteInTwentyFourHoursAndStampedToTheMillisecond) {
    EXPECT_EQ(TrafficLogFileName("/opt/w/", {2025, 3, 7, 9, 5, 59, 998}),
              "/opt/w/202503070905.Log");
    EXPECT_EQ(TrafficLogFileName("/opt/w/", {2025, 11, 27, 21, 5, 0, 0}),
              "/opt/w/202511272105.Log");
    EXPECT_EQ(TrafficLogStamp({2025, 3, 7, 9, 5, 7, 45}), "09:05:07 045");
    EXPECT_EQ(TrafficLogStamp({2025, 3, 7, 23, 59, 58, 999}), "23:59:58 999");
}

}  // namespace
