// The toolkit layer under the window: actions and their buttons, idle-time
// updates, radio groups, the message box and the exception report, on Qt.
#include "app_test_support.h"

#include "app/toolkit/action.h"
#include "app/toolkit/action_list.h"
#include "app/toolkit/exception_report.h"
#include "app/toolkit/message_box.h"
#include "app/toolkit/window.h"

#include <QAbstractEventDispatcher>
#include <QDialog>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

// A window "W" with the controls of `rows` on it.
std::unique_ptr<TWindow> SmallWindow(std::vector<TControlDesign> rows = {}) {
    return BuildWindow({.Name = "W", .Caption = "", .Bounds = {0, 0, 320, 200}, .Controls = rows});
}

TEST(Action, ExecuteRunsTheUpdateFirstAndExecutesOnlyWhenEnabled) {
    TAction action("A", "c", "&Go");
    std::vector<std::string> calls;
    bool enable = false;
    action.OnUpdate = [&](TObject* sender) {
        EXPECT_EQ(sender, &action);
        calls.push_back("update");
        action.SetEnabled(enable);
    };
    action.OnExecute = [&](TObject*) { calls.push_back("execute"); };

    EXPECT_FALSE(action.Execute());
    EXPECT_EQ(calls, std::vector<std::string>{"update"});
    enable = true;
    EXPECT_TRUE(action.Execute());
    EXPECT_EQ(calls, (std::vector<std::string>{"update", "update", "execute"}));
}

TEST(Action, LinkedButtonFollowsCaptionAndEnabledAndExecutesOnClick) {
    const auto window = SmallWindow({{.Name = "B", .Kind = TControlKind::Button, .Parent = "W",
                                      .Bounds = {10, 10, 100, 30}}});
    auto* button = window->Find<TButton>("B");
    TAction action("A", "c", "&Open");
    int executed = 0;
    action.OnExecute = [&](TObject*) { ++executed; };
    LinkButton(button, &action);
    EXPECT_EQ(button->Text(), "&Open");

    Press(button);
    EXPECT_EQ(executed, 1);

    action.SetEnabled(false);
    EXPECT_FALSE(button->Enabled());
    action.SetCaption("&Close");
    EXPECT_EQ(button->Text(), "&Close");

    // Set directly, the button keeps its state until the action changes.
    action.SetEnabled(true);
    button->SetEnabled(false);
    action.SetEnabled(true);
    EXPECT_FALSE(button->Enabled());
}

class IdleUpdates : public testing::Test {
protected:
    void SetUp() override {
        TestApp().reports.clear();
        action = list.Add("A", "c", "a");
        action->OnUpdate = [this](TObject*) { ++updates; };
        window->Show();
    }
    QWidget& Widget() const { return *qtk::WidgetOf(*window); }
    std::unique_ptr<TWindow> window = SmallWindow();
    TActionList list{*window};
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
    Widget().hide();
    RunUntilIdle();
    EXPECT_EQ(updates, 0);
    Widget().show();
    Widget().setEnabled(false);
    RunUntilIdle();
    EXPECT_EQ(updates, 0);
    Widget().setEnabled(true);
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
    QDialog dialog(&Widget());
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
    second->OnUpdate = [&](TObject*) { ++secondUpdates; };
    action->OnUpdate = [](TObject*) { throw std::runtime_error("update failed"); };
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
    const auto window =
        SmallWindow({{.Name = "g", .Kind = TControlKind::RadioGroup, .Parent = "W",
                      .Bounds = {0, 0, 300, 37}, .Text = "g", .Items = {"a", "b", "c"}, .Columns = 3}});
    auto& group = *window->Find<TRadioGroup>("g");
    window->Show();
    group.SetItemIndex(0);
    int clicks = 0;
    group.OnClick = [&] { ++clicks; };
    group.SetItemIndex(0);  // no change
    EXPECT_EQ(clicks, 0);
    group.SetItemIndex(2);
    EXPECT_EQ(clicks, 1);
    ClickOption(&group, 1);
    EXPECT_EQ(clicks, 2);
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
    EXPECT_EQ(SmallWindow()->MessageBox("串口通信错误 ", "错误提示", MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(caption, QString::fromUtf8("错误提示"));
    EXPECT_EQ(text, QString::fromUtf8("串口通信错误 "));
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, 1);
}

}  // namespace
