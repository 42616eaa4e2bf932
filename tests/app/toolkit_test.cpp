// The toolkit layer under the window: actions and their buttons, idle-time
// updates, radio groups, the message box and the exception report.
#include "app_test_support.h"

#include "app/action.h"
#include "app/action_list.h"
#include "app/dialogs.h"
#include "app/radio_group.h"

#include <QAbstractEventDispatcher>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

TEST(Action, ExecuteRunsTheUpdateFirstAndExecutesOnlyWhenEnabled) {
    TAction action(nullptr, "A", "c", "&Go");
    std::vector<std::string> calls;
    bool enable = false;
    action.OnUpdate = [&](QObject* sender) {
        EXPECT_EQ(sender, &action);
        calls.push_back("update");
        action.SetEnabled(enable);
    };
    action.OnExecute = [&](QObject*) { calls.push_back("execute"); };

    EXPECT_FALSE(action.Execute());
    EXPECT_EQ(calls, std::vector<std::string>{"update"});
    enable = true;
    EXPECT_TRUE(action.Execute());
    EXPECT_EQ(calls, (std::vector<std::string>{"update", "update", "execute"}));
}

TEST(Action, LinkedButtonFollowsCaptionAndEnabledAndExecutesOnClick) {
    QWidget window;
    auto* button = new QPushButton(&window);
    TAction action(nullptr, "A", "c", "&Open");
    int executed = 0;
    action.OnExecute = [&](QObject*) { ++executed; };
    LinkButton(button, &action);
    EXPECT_EQ(button->text(), "&Open");

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(executed, 1);

    action.SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    action.SetCaption("&Close");
    EXPECT_EQ(button->text(), "&Close");

    // Set directly, the button keeps its state until the action changes.
    action.SetEnabled(true);
    button->setEnabled(false);
    action.SetEnabled(true);
    EXPECT_FALSE(button->isEnabled());
}

class IdleUpdates : public testing::Test {
protected:
    void SetUp() override {
        TestApp().reports.clear();
        action = list.Add("A", "c", "a");
        action->OnUpdate = [this](QObject*) { ++updates; };
        window.show();
    }
    QWidget window;
    TActionList list{&window};
    TAction* action = nullptr;
    int updates = 0;
};

TEST_F(IdleUpdates, RunWheneverTheEventQueueRunsDry) {
    RunUntilIdle();
    const int first = updates;
    EXPECT_GE(first, 1);
    QTimer::singleShot(0, [] {});  // one more event, then idle again
    RunUntilIdle();
    RunUntilIdle();
    EXPECT_GT(updates, first);
}

TEST_F(IdleUpdates, SkippedWhileTheWindowIsHiddenOrDisabledOrPaused) {
    window.hide();
    RunUntilIdle();
    EXPECT_EQ(updates, 0);
    window.show();
    window.setEnabled(false);
    RunUntilIdle();
    EXPECT_EQ(updates, 0);
    window.setEnabled(true);
    {
        TActionList::Pause pause(list);
        RunUntilIdle();
        EXPECT_EQ(updates, 0);
    }
    RunUntilIdle();
    EXPECT_GE(updates, 1);
}

TEST_F(IdleUpdates, SkippedWhileAModalBoxRunsItsOwnLoop) {
    RunUntilIdle();
    const int updatesBefore = updates;
    int idleWhileModal = 0;
    QDialog dialog(&window);
    // Let the dialog's own loop go idle three times, waking it with an
    // empty event in between, then close it.
    auto connection = QObject::connect(QAbstractEventDispatcher::instance(),
                                       &QAbstractEventDispatcher::aboutToBlock, &dialog, [&] {
                                           if (!dialog.isVisible()) return;
                                           if (++idleWhileModal < 3)
                                               QTimer::singleShot(0, &dialog, [] {});
                                           else
                                               QTimer::singleShot(0, &dialog, &QDialog::accept);
                                       });
    dialog.exec();
    QObject::disconnect(connection);
    EXPECT_GE(idleWhileModal, 3);
    EXPECT_EQ(updates, updatesBefore);
}

TEST_F(IdleUpdates, AFailingUpdateIsReportedAndTheOthersStillRun) {
    TAction* second = list.Add("B", "c", "b");
    int secondUpdates = 0;
    second->OnUpdate = [&](QObject*) { ++secondUpdates; };
    action->OnUpdate = [](QObject*) { throw std::runtime_error("update failed"); };
    list.UpdateActions();
    EXPECT_EQ(TestApp().reports, QStringList{"update failed"});
    EXPECT_EQ(secondUpdates, 1);
}

TEST(ExceptionReport, AnExceptionEscapingAnEventHandlerIsReported) {
    TestApp().reports.clear();
    bool after = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("from a timer"); });
    QTimer::singleShot(0, [&] { after = true; });
    RunUntil([&] { return after; });
    EXPECT_EQ(TestApp().reports, QStringList{"from a timer"});
}

TEST(ExceptionReport, AWorkerThreadsReportReachesTheMainThread) {
    TestApp().reports.clear();
    std::thread worker([] { ReportExceptionMessage("Port is not open"); });
    worker.join();
    EXPECT_TRUE(TestApp().reports.isEmpty());  // queued, not shown from the worker
    RunUntil([] { return !TestApp().reports.isEmpty(); });
    EXPECT_EQ(TestApp().reports, QStringList{"Port is not open"});
}

TEST(RadioGroup, ClickOnceForEveryChangeByOperatorOrProgram) {
    TRadioGroup group(nullptr, "g", {"a", "b", "c"}, 3);
    group.resize(300, 37);
    group.SetItemIndex(0);
    QSignalSpy clicks(&group, &TRadioGroup::Click);
    group.SetItemIndex(0);  // no change
    EXPECT_EQ(clicks.count(), 0);
    group.SetItemIndex(2);
    EXPECT_EQ(clicks.count(), 1);
    ClickOption(&group, 1);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(group.ItemIndex(), 1);
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
}

TEST(MessageBoxDialog, ShowsTextCaptionAndInformationIcon) {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    AnswerNextMessageBox(Qt::Key_Return, [&](QMessageBox& box) {
        caption = box.windowTitle();
        text = box.text();
        icon = box.icon();
        buttons = static_cast<int>(box.buttons().size());
    });
    EXPECT_EQ(ShowMessageBoxDialog(nullptr, QString::fromUtf8("串口通信错误 "),
                                   QString::fromUtf8("错误提示"), MB_ICONINFORMATION),
              IDOK);
    EXPECT_EQ(caption, QString::fromUtf8("错误提示"));
    EXPECT_EQ(text, QString::fromUtf8("串口通信错误 "));
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, 1);
}

}  // namespace
