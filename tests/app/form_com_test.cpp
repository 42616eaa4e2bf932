// The window's behaviour while no port is connected and with FComReady set
// by hand: its lists, its enabling rules and the lock confirmation.
#include "app_test_support.h"

#include "app/action.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/status_bar.h"
#include "app/traffic_log_file.h"
#include "serial/errors/errors.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

QStringList Numbers(int count) {
    QStringList numbers;
    for (int i = 0; i < count; ++i) numbers << QString::number(i);
    return numbers;
}

class FormCom : public testing::Test {
protected:
    void SetUp() override {
        TestApp().reports.clear();
        form.show();
        RunUntilIdle();
    }

    // Sets the connection state by hand, as the port connection will, and
    // lets the window catch up at the next idle moment.
    void Connect(bool ready) {
        form.FComReady = ready;
        RunUntilIdle();
    }

    // Connected and reading sector data: every setting is open to the operator.
    void ConnectInModeOne() {
        Connect(true);
        ClickOption(form.RadioGroup_outdatamode0_1, 1);
        RunUntilIdle();
    }

    std::vector<QWidget*> GroupA() const {
        return {form.RadioGroup_cardnum,       form.RadioGroup_Outmode,
                form.RadioGroup_OutStyle_bit7, form.RadioGroup_OutStyle,
                form.RadioGroup_OutStyle_bit6, form.RadioGroup_OutStyle_bit5,
                form.RadioGroup_OutStyle_bit4, form.RadioGroup_OutStyle_bit3,
                form.RadioGroup_OutStyle_bit2, form.RadioGroup_bandrate_OutStyle_bit1_0,
                form.RadioGroup_content_parameter};
    }
    std::vector<QWidget*> GroupB() const { return {form.RadioGroup_outdatamode0_1}; }
    std::vector<QWidget*> GroupC() const {
        return {form.GroupBox_DataOrder,    form.ComboBox_SectorNum,   form.ComboBox_BlockNum,
                form.ComboBox_BlockStartAdr, form.ComboBox_BlockEndAdr, form.RadioButton_OrderLow,
                form.RadioButton_OrderHigh, form.RadioGroup_KeyCheck,  form.Edit_KeyCheck};
    }
    std::vector<QWidget*> GroupD() const {
        return {form.GroupBox2, form.CheckBox_cardflagsave, form.RadioGroup_KeySet, form.Edit_KeySet};
    }

    static void ExpectEnabled(const std::vector<QWidget*>& group, bool enabled) {
        for (QWidget* w : group) EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
    }

    TestForm form;
};

TEST(FormComCreation, SettingsStayEnabledUntilTheFirstIdleMoment) {
    TestForm form;  // never shown, so no idle update has run
    EXPECT_TRUE(form.RadioGroup_cardnum->isEnabled());
    EXPECT_TRUE(form.ComboBox_SectorNum->isEnabled());
    EXPECT_TRUE(form.CheckBox_cardflagsave->isEnabled());
    EXPECT_FALSE(form.Button_genMcard->isEnabled());
    EXPECT_FALSE(form.FComReady);
}

TEST_F(FormCom, AfterStartOnlyThePortControlsAreUsable) {
    ExpectEnabled(GroupA(), false);
    ExpectEnabled(GroupB(), false);
    ExpectEnabled(GroupC(), false);
    ExpectEnabled(GroupD(), false);
    EXPECT_FALSE(form.Button_genMcard->isEnabled());
    EXPECT_TRUE(form.ComboBox_ComNum->isEnabled());
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_FALSE(form.Button2->isEnabled());
    EXPECT_TRUE(form.StatusBar1->Panels(1)->text().isEmpty());
    EXPECT_TRUE(form.StatusBar1->Panels(3)->text().isEmpty());
    EXPECT_TRUE(form.StatusBar1->Panels(4)->text().isEmpty());
}

TEST_F(FormCom, AfterStartTheListsHoldTheirItemsAndChoices) {
    QStringList ports = {" AUTO "};
    for (int n = 1; n <= 12; ++n) ports << " COM" + QString::number(n);
    EXPECT_EQ(Items(form.ComboBox_ComNum), ports);
    EXPECT_EQ(form.ComboBox_ComNum->currentIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_SectorNum), Numbers(16));
    EXPECT_EQ(form.ComboBox_SectorNum->currentIndex(), 0);
    // Exactly four: filling the sector list by program must not have
    // refilled the block list as well.
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    EXPECT_EQ(form.ComboBox_BlockNum->currentIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_BlockStartAdr), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockStartAdr->currentIndex(), 0);
    EXPECT_EQ(Items(form.ComboBox_BlockEndAdr), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockEndAdr->currentIndex(), 4);
}

TEST_F(FormCom, ConnectedEnablingFollowsTheOutputDataMode) {
    Connect(true);
    ExpectEnabled(GroupA(), true);
    ExpectEnabled(GroupB(), true);
    ExpectEnabled(GroupC(), false);  // mode 0 reads no sector
    ExpectEnabled(GroupD(), true);
    EXPECT_FALSE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button2->isEnabled());
    EXPECT_TRUE(form.ComboBox_ComNum->isEnabled());
    // The generate button is switched by the port handlers, never at idle.
    EXPECT_FALSE(form.Button_genMcard->isEnabled());

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
    QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    RunUntilIdle();
    ASSERT_TRUE(form.CheckBox_cardflagsave->isChecked());

    Connect(false);
    ExpectEnabled(GroupA(), false);
    ExpectEnabled(GroupB(), false);
    ExpectEnabled(GroupC(), false);
    ExpectEnabled(GroupD(), false);
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_FALSE(form.Button2->isEnabled());
    EXPECT_TRUE(form.CheckBox_cardflagsave->isChecked());
    EXPECT_EQ(form.RadioGroup_outdatamode0_1->ItemIndex(), 1);
    EXPECT_EQ(form.RadioGroup_bandrate_OutStyle_bit1_0->ItemIndex(), 2);
    EXPECT_EQ(form.questions.size(), 1);
}

TEST_F(FormCom, SectorChoiceRefillsTheBlocksOfThatSector) {
    ConnectInModeOne();
    ClickOption(form.RadioGroup_cardnum, 1);  // S70
    EXPECT_EQ(Items(form.ComboBox_SectorNum), Numbers(40));
    EXPECT_EQ(form.ComboBox_SectorNum->currentIndex(), 0);

    ChooseItem(form.ComboBox_SectorNum, 31);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    ChooseItem(form.ComboBox_SectorNum, 32);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(16));
    ChooseItem(form.ComboBox_BlockNum, 10);
    ChooseItem(form.ComboBox_SectorNum, 39);
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(16));
    EXPECT_EQ(form.ComboBox_BlockNum->currentIndex(), 0);  // same count, still reset

    ChooseItem(form.ComboBox_BlockNum, 2);
    ChooseItem(form.ComboBox_SectorNum, 39);  // the same sector again
    EXPECT_EQ(form.ComboBox_BlockNum->currentIndex(), 0);
}

// Tab and Shift+Tab enter a set of options at its checked option, and the
// arrow keys move on from there, choosing as they go.
TEST_F(FormCom, TabEntersOptionsAtTheCheckedOneAndArrowsMoveOn) {
    ConnectInModeOne();
    QApplication::setActiveWindow(&form);
    auto press = [](QWidget* from, Qt::Key key) -> QWidget* {
        from->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(from, key);
        return QApplication::focusWidget();
    };
    // The byte-order pair: "低字节在前" is checked and second in the order.
    EXPECT_EQ(press(form.ComboBox_BlockEndAdr, Qt::Key_Tab), form.RadioButton_OrderLow);
    EXPECT_EQ(press(form.CheckBox_cardflagsave, Qt::Key_Backtab), form.RadioButton_OrderLow);
    EXPECT_EQ(press(form.RadioButton_OrderLow, Qt::Key_Tab), form.CheckBox_cardflagsave);
    // "高字节在前" lies below "低字节在前".
    EXPECT_EQ(press(form.RadioButton_OrderLow, Qt::Key_Down), form.RadioButton_OrderHigh);
    EXPECT_TRUE(form.RadioButton_OrderHigh->isChecked());
    EXPECT_EQ(press(form.ComboBox_BlockEndAdr, Qt::Key_Tab), form.RadioButton_OrderHigh);

    // A radio group, entered from either side at its second option.
    ClickOption(form.RadioGroup_Outmode, 1);
    QRadioButton* decimal = form.RadioGroup_Outmode->Button(0);
    QRadioButton* hexadecimal = form.RadioGroup_Outmode->Button(1);
    EXPECT_EQ(press(form.RadioGroup_outdatamode0_1->Button(1), Qt::Key_Tab), hexadecimal);
    EXPECT_EQ(press(form.ComboBox_SectorNum, Qt::Key_Backtab), hexadecimal);
    EXPECT_EQ(press(hexadecimal, Qt::Key_Left), decimal);
    EXPECT_EQ(form.RadioGroup_Outmode->ItemIndex(), 0);
    EXPECT_EQ(press(form.ComboBox_SectorNum, Qt::Key_Backtab), decimal);
}

TEST_F(FormCom, OperatorsKeyboardChoiceOfASectorIsAChoice) {
    ConnectInModeOne();
    ChooseItem(form.ComboBox_BlockNum, 3);
    form.ComboBox_SectorNum->setFocus();
    QTest::keyClick(form.ComboBox_SectorNum, Qt::Key_Down);
    EXPECT_EQ(form.ComboBox_SectorNum->currentIndex(), 1);
    EXPECT_EQ(form.ComboBox_BlockNum->currentIndex(), 0);
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
    EXPECT_EQ(form.ComboBox_SectorNum->currentIndex(), 0);
    // Sector 0 has four blocks: block 10 would belong to sector 2.
    EXPECT_EQ(Items(form.ComboBox_BlockNum), Numbers(4));
    EXPECT_EQ(form.ComboBox_BlockNum->currentIndex(), 0);
    // The address lists are never refilled.
    EXPECT_EQ(form.ComboBox_BlockStartAdr->currentIndex(), 7);
    EXPECT_EQ(form.ComboBox_BlockEndAdr->currentIndex(), 9);
}

TEST_F(FormCom, LockIsConfirmedOncePerCheckAndNeverOnUncheck) {
    Connect(true);
    auto clickLock = [this] {
        QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    };
    form.answers = {true};
    clickLock();
    RunUntilIdle();
    RunUntilIdle();
    ASSERT_EQ(form.questions.size(), 1);
    EXPECT_EQ(form.questions[0],
              QString::fromUtf8("选择开启锁定功能将锁定通用读卡器的配置不可更改，"
                                "请确认是否选择此项操作?"));
    EXPECT_TRUE(form.CheckBox_cardflagsave->isChecked());

    clickLock();  // uncheck: nothing asked
    RunUntilIdle();
    EXPECT_EQ(form.questions.size(), 1);
    EXPECT_FALSE(form.CheckBox_cardflagsave->isChecked());

    form.answers = {false};
    clickLock();  // check again: asked again, No unchecks it
    RunUntilIdle();
    RunUntilIdle();
    EXPECT_EQ(form.questions.size(), 2);
    EXPECT_FALSE(form.CheckBox_cardflagsave->isChecked());
}

TEST_F(FormCom, LockIsConfirmedBeforeAGenerationToo) {
    Connect(true);
    form.answers = {false};
    QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    // Executing an action runs its update first, even with no idle moment
    // in between. No port is open here, so the generation itself stops at
    // its first write.
    EXPECT_THROW(form.Action_BuidCard->Execute(), sio::ECommNotOpen);
    EXPECT_EQ(form.questions.size(), 1);
    EXPECT_FALSE(form.CheckBox_cardflagsave->isChecked());
}

// The real confirmation box, answered with the keyboard.
class FormComRealConfirmation : public testing::Test {
protected:
    void SetUp() override {
        form.show();
        form.FComReady = true;
        RunUntilIdle();
    }
    TForm_Com form;
};

TEST_F(FormComRealConfirmation, EscapeMeansNo) {
    QString caption, text;
    QStringList buttons;
    QString defaultButton;
    AnswerNextMessageBox(Qt::Key_Escape, [&](QMessageBox& box) {
        caption = box.windowTitle();
        text = box.text();
        for (QAbstractButton* b : box.buttons()) buttons << b->text();
        defaultButton = box.defaultButton() ? box.defaultButton()->text() : QString();
    });
    QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    RunUntilIdle();
    RunUntil([&] { return !caption.isEmpty() && QApplication::activeModalWidget() == nullptr; });
    EXPECT_EQ(caption, "Confirm");
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("选择开启锁定功能")));
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"&No", "&Yes"}));
    EXPECT_EQ(defaultButton, "&Yes");
    EXPECT_FALSE(form.CheckBox_cardflagsave->isChecked());
}

TEST_F(FormComRealConfirmation, EnterTakesTheDefaultYes) {
    bool shown = false;
    AnswerNextMessageBox(Qt::Key_Return, [&](QMessageBox&) { shown = true; });
    QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    RunUntilIdle();
    RunUntil([&] { return shown && QApplication::activeModalWidget() == nullptr; });
    EXPECT_TRUE(form.CheckBox_cardflagsave->isChecked());
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
    QTest::mouseClick(form.RadioButton_OrderHigh, Qt::LeftButton, {}, QPoint(6, 8));
    QTest::mouseClick(form.CheckBox_cardflagsave, Qt::LeftButton, {}, QPoint(6, 8));
    form.Edit_KeyCheck->setText("A1B2C3D4E5F6");
    form.Edit_KeySet->setText("12345678");

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

TEST_F(FormCom, EditFieldsKeepCapitalsAndTheirMaximumLength) {
    Connect(true);
    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    RunUntilIdle();
    form.Edit_KeyCheck->clear();
    QTest::keyClicks(form.Edit_KeyCheck, "ab12cdef3456ffff");
    EXPECT_EQ(form.Edit_KeyCheck->text(), "AB12CDEF3456");
    form.Edit_KeySet->clear();
    QTest::keyClicks(form.Edit_KeySet, "6e2b94d1e");
    EXPECT_EQ(form.Edit_KeySet->text(), "6E2B94D1");
}

TEST_F(FormCom, AnExceptionFromAHandlerIsReportedAndTheWindowGoesOn) {
    form.Action_OpenCom->OnExecute = [](QObject*) { throw std::runtime_error("port exploded"); };
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_EQ(TestApp().reports, QStringList{"port exploded"});

    Connect(true);  // idle updates still run
    EXPECT_FALSE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button2->isEnabled());
}

TEST_F(FormCom, TrafficLogIsPreparedButNotSwitchedOn) {
    EXPECT_TRUE(form.FLogLines.empty());
    const QString name = form.FLogFileName;
    EXPECT_TRUE(name.startsWith(ProgramFolder()));
    EXPECT_TRUE(QRegularExpression("^\\d{12}\\.Log$")
                    .match(name.mid(ProgramFolder().size()))
                    .hasMatch())
        << name.toStdString();
    EXPECT_EQ(form.FLogEnabled, QFile::exists(ProgramFolder() + "writelog.txt"));
}

TEST(TrafficLogFile, NamedAfterTheStartMinuteInTwentyFourHours) {
    const QDate day(2025, 3, 7);
    EXPECT_EQ(TrafficLogFileName("/opt/w/", QDateTime(day, QTime(9, 5, 59))),
              "/opt/w/202503070905.Log");
    EXPECT_EQ(TrafficLogFileName("/opt/w/", QDateTime(day, QTime(21, 5))),
              "/opt/w/202503072105.Log");
}

TEST(TrafficLogFile, SwitchedOnOnlyByAFileNamedWritelog) {
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    EXPECT_FALSE(TrafficLogSwitchPresent(folder));
    QDir(folder).mkdir("writelog.txt");  // a folder of that name is no switch
    EXPECT_FALSE(TrafficLogSwitchPresent(folder));
    QDir(folder).rmdir("writelog.txt");
    QFile file(folder + "writelog.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(TrafficLogSwitchPresent(folder));
}

}  // namespace
