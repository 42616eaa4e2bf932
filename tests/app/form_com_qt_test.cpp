// The window's behaviour where it rests on Qt itself: the keyboard among
// options and in a list, the real confirmation box, typing into the edit
// fields, the exception report, and the log's switch file.
#include "app_test_support.h"
#include "form_com_fixture.h"

#include "app/toolkit/action.h"
#include "app/traffic_log_file.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST_F(FormCom, OperatorsKeyboardChoiceOfASectorIsAChoice) {
    ConnectInModeOne();
    ChooseItem(form.ComboBox_BlockNum, 3);
    qtk::WidgetOf(form.ComboBox_SectorNum)->setFocus();
    QTest::keyClick(qtk::WidgetOf(form.ComboBox_SectorNum), Qt::Key_Down);
    EXPECT_EQ(form.ComboBox_SectorNum->ItemIndex(), 1);
    EXPECT_EQ(form.ComboBox_BlockNum->ItemIndex(), 0);
}

// The real confirmation box, answered with the keyboard.
class FormComRealConfirmation : public testing::Test {
protected:
    void SetUp() override {
        form.Show();
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
    Click(form.CheckBox_cardflagsave);
    RunUntilIdle();
    RunUntil([&] { return !caption.isEmpty() && QApplication::activeModalWidget() == nullptr; });
    EXPECT_EQ(caption, "Confirm");
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("选择开启锁定功能")));
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"&No", "&Yes"}));
    EXPECT_EQ(defaultButton, "&Yes");
    EXPECT_FALSE(form.CheckBox_cardflagsave->Checked());
}

TEST_F(FormComRealConfirmation, EnterTakesTheDefaultYes) {
    bool shown = false;
    AnswerNextMessageBox(Qt::Key_Return, [&](QMessageBox&) { shown = true; });
    Click(form.CheckBox_cardflagsave);
    RunUntilIdle();
    RunUntil([&] { return shown && QApplication::activeModalWidget() == nullptr; });
    EXPECT_TRUE(form.CheckBox_cardflagsave->Checked());
}

TEST_F(FormCom, EditFieldsKeepCapitalsAndTheirMaximumLength) {
    Connect(true);
    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    RunUntilIdle();
    form.Edit_KeyCheck->SetText("");
    QTest::keyClicks(qtk::WidgetOf(form.Edit_KeyCheck), "ab12cdef3456ffff");
    EXPECT_EQ(form.Edit_KeyCheck->Text(), "AB12CDEF3456");
    form.Edit_KeySet->SetText("");
    QTest::keyClicks(qtk::WidgetOf(form.Edit_KeySet), "6e2b94d1e");
    EXPECT_EQ(form.Edit_KeySet->Text(), "6E2B94D1");
}

TEST_F(FormCom, AnExceptionFromAHandlerIsReportedAndTheWindowGoesOn) {
    TestApp().reports.clear();
    form.Action_OpenCom->OnExecute = [](TObject*) { throw std::runtime_error("port exploded"); };
    Press(form.Button1);
    ASSERT_EQ(TestApp().reports, QStringList{"port exploded"});

    Connect(true);  // idle updates still run
    EXPECT_FALSE(form.Button1->Enabled());
    EXPECT_TRUE(form.Button2->Enabled());
}

TEST(TrafficLogFile, SwitchedOnOnlyByAFileNamedWritelog) {
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    EXPECT_FALSE(TrafficLogSwitchPresent(folder.toStdString()));
    QDir(folder).mkdir("writelog.txt");  // a folder of that name is no switch
    EXPECT_FALSE(TrafficLogSwitchPresent(folder.toStdString()));
    QDir(folder).rmdir("writelog.txt");
    QFile file(folder + "writelog.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(TrafficLogSwitchPresent(folder.toStdString()));
}

}  // namespace
