// Connecting to the writer device over real pseudo-terminals: the " AUTO "
// scan, a chosen port, the handshake's strict answer, and closing.
#include "writer_test_support.h"

#include "holding_process.h"
#include "port_dir.h"

#include "app/toolkit/action.h"

#include <QComboBox>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Requests = std::vector<std::string>;
const QString kOpenFailed = QString::fromUtf8("错误提示|串口通信错误 ");

class PortConnection : public WriterTest {};

TEST_F(PortConnection, AutoSkipsSilentPortsAndStopsAtTheFirstWriter) {
    SimulatedWriter& com1 = AddWriter(1, SilentHandshake());
    SimulatedWriter& com2 = AddWriter(2, SilentHandshake());
    SimulatedWriter& com3 = AddWriter(3);
    SimulatedWriter& com4 = AddWriter(4);

    OpenPort(0);

    EXPECT_TRUE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("打开串口COM3"));
    EXPECT_TRUE(form.Button_genMcard->Enabled());
    EXPECT_FALSE(form.Button1->Enabled());
    EXPECT_TRUE(form.Button2->Enabled());
    EXPECT_TRUE(form.messages.empty());
    EXPECT_TRUE(form.SioComPort1->Open());
    EXPECT_EQ(form.SioComPort1->ComNumber(), 3);
    EXPECT_EQ(com1.Requests(), Requests{"recv 02"});
    EXPECT_EQ(com2.Requests(), Requests{"recv 02"});
    EXPECT_EQ(com3.Requests(), Requests{"recv 02"});
    EXPECT_TRUE(com4.Lines().empty());  // never opened
    EXPECT_EQ(LogWithoutStamps(), (Requests{"Sendhex ; 02;", "Sendhex ; 02;", "Sendhex ; 02;",
                                            "Recevhex ; 06;"}));
}

TEST_F(PortConnection, AutoWithoutPortsFailsAtOnceAndFindsComTwelve) {
    OpenPort(0);
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("串口打开失败"));
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_FALSE(form.SioComPort1->Open());
    EXPECT_TRUE(form.FLogLines.empty());  // no port opened, nothing sent

    AddWriter(12);
    OpenPort(0);
    EXPECT_TRUE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("打开串口COM12"));
}

// Ports that other programs hold are passed over untouched: no handshake is
// sent to them, and they keep their settings and the input they have not
// read yet.
TEST_F(PortConnection, AutoLeavesPortsThatOtherProgramsHoldAsTheyAre) {
    using sio::test::Hold;
    std::vector<sio::PseudoTerminal> lines;
    std::vector<std::unique_ptr<sio::test::HoldingProcess>> holders;
    const std::string dir = portDir_.path().toStdString();
    for (Hold how : {Hold::LockFile, Hold::Flock, Hold::Exclusive}) {
        lines.push_back(sio::OpenPseudoTerminal());
        const std::string& path = lines.back().slavePath;
        sio::test::LinkComPort(dir, static_cast<int>(lines.size()), path);
        std::string lockFile = dir + "/LCK..pts_" + path.substr(std::string("/dev/pts/").size());
        holders.push_back(std::make_unique<sio::test::HoldingProcess>(
            sio::test::HoldTerminal(path, lines.back().master.get(), how, lockFile)));
        ASSERT_TRUE(holders.back()->Ready());
    }
    AddWriter(4);

    OpenPort(0);

    EXPECT_TRUE(form.FComReady);
    EXPECT_EQ(form.SioComPort1->ComNumber(), 4);
    EXPECT_EQ(LogWithoutStamps(), (Requests{"Sendhex ; 02;", "Recevhex ; 06;"}));
    for (std::size_t i = 0; i < holders.size(); ++i)
        EXPECT_EQ(holders[i]->Finish(), 0) << "COM" << i + 1 << " (1: settings changed, 2: input changed)";
}

// Twelve ports that open but answer nothing: each is given the whole
// 1500 ms (on a clock the test moves), in ascending order, and the scan
// fails with COM12 left open.
TEST_F(PortConnection, AutoWithEveryPortSilentWaitsOutEachInTurnAndFails) {
    std::vector<std::unique_ptr<ScriptedDevice>> devices;
    for (int com = 1; com <= 12; ++com) {
        devices.push_back(std::make_unique<ScriptedDevice>(portDir_.path().toStdString(), com));
        devices.back()->handshakeReply.clear();
    }
    ScriptedReplyClock clock;
    form.SetReplyWaitClock(&clock);
    std::vector<int> opened;
    form.SioComPort1->SetOnPortOpen(
        [&](sio::TSioCustomComPort* port) { opened.push_back(port->ComNumber()); });

    OpenPort(0);
    form.SetReplyWaitClock(nullptr);

    EXPECT_EQ(opened, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(clock.Elapsed()).count(), 18000);
    EXPECT_EQ(LogWithoutStamps(), Requests(12, "Sendhex ; 02;"));
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("串口打开失败"));
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_TRUE(form.SioComPort1->Open());
    EXPECT_EQ(form.SioComPort1->ComNumber(), 12);
    EXPECT_FALSE(form.Button_genMcard->Enabled());
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_FALSE(form.Button2->Enabled());
}

// What the operator sees of a failed open: the program's own box.
TEST_F(PortConnection, AFailedOpenShowsAnErrorNoticeWithTheInformationIconAndOK) {
    form.realMessageBoxes = true;
    QString seen;
    AnswerNextMessageBox(Qt::Key_Return, [&](QMessageBox& box) {
        seen = box.windowTitle() + "|" + box.text() + "|" + QString::number(box.icon()) + "|" +
               QString::number(static_cast<int>(box.standardButtons()), 16);
    });
    OpenPort(5);
    EXPECT_EQ(seen, QString::fromUtf8("错误提示|串口通信错误 |1|400"));  // Information, Ok
}

TEST_F(PortConnection, AChosenAbsentPortFailsWithThePortClosed) {
    AddWriter(3);
    OpenPort(5);
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("串口打开失败"));
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_FALSE(form.SioComPort1->Open());
    EXPECT_FALSE(form.Button_genMcard->Enabled());
}

TEST_F(PortConnection, AChosenSilentPortStaysOpenUntilTheNextOpen) {
    SimulatedWriter& com5 = AddWriter(5, SilentHandshake());
    AddWriter(6);

    OpenPort(5);
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("串口打开失败"));
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_TRUE(form.SioComPort1->Open());
    EXPECT_EQ(form.SioComPort1->ComNumber(), 5);
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_FALSE(form.Button2->Enabled());
    EXPECT_EQ(LogWithoutStamps(), Requests{"Sendhex ; 02;"});

    OpenPort(6);
    EXPECT_TRUE(form.FComReady);
    EXPECT_EQ(form.SioComPort1->ComNumber(), 6);
    EXPECT_EQ(Panel(1), QString::fromUtf8("打开串口COM6"));
    EXPECT_EQ(com5.Requests(), Requests{"recv 02"});
}

TEST_F(PortConnection, OnlyASingleSixIsAnAnswer) {
    mastercard::WriterFaults twoSixes;
    twoSixes.handshake_reply = "\x06\x06";
    mastercard::WriterFaults nak;
    nak.handshake_reply = "\x15";
    AddWriter(1, twoSixes);
    AddWriter(2, nak);

    OpenPort(1);
    EXPECT_FALSE(form.FComReady);
    OpenPort(2);
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(form.messages, (QStringList{kOpenFailed, kOpenFailed}));
    EXPECT_EQ(LogWithoutStamps(), (Requests{"Sendhex ; 02;", "Recevhex ; 06 06;", "Sendhex ; 02;",
                                            "Recevhex ; 15;"}));
}

TEST_F(PortConnection, ASixAfterTheDeadlineIsNoAnswerAndIsNotLogged) {
    mastercard::WriterFaults late;
    late.reply_delay_ms = 1600;
    AddWriter(1, late);
    OpenPort(1);
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_EQ(LogWithoutStamps(), Requests{"Sendhex ; 02;"});
}

TEST_F(PortConnection, ASecondOpenWhileOneWaitsIsIgnored) {
    AddWriter(1, SilentHandshake());
    SimulatedWriter& com2 = AddWriter(2);
    ChooseItem(form.ComboBox_ComNum, 1);
    RunUntilIdle();
    // While the handshake on COM1 waits, the operator picks COM2 and presses
    // the open button again, which the wait leaves enabled.
    bool pressedAgain = false;
    QMetaObject::invokeMethod(
        qtk::WidgetOf(form.Window()),
        [&] {
            ChooseItem(form.ComboBox_ComNum, 2);
            EXPECT_TRUE(form.Button1->Enabled());
            Press(form.Button1);
            pressedAgain = true;
        },
        Qt::QueuedConnection);
    Press(form.Button1);

    EXPECT_TRUE(pressedAgain);

    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(Panel(1), QString::fromUtf8("串口打开失败"));
    EXPECT_EQ(form.messages, QStringList{kOpenFailed});
    EXPECT_EQ(form.SioComPort1->ComNumber(), 1);
    EXPECT_TRUE(com2.Lines().empty());
}

TEST_F(PortConnection, CloseEmptiesThePanelsAndDisablesGeneration) {
    AddWriter(3);
    OpenPort(3);
    ASSERT_TRUE(form.FComReady);
    form.StatusBar1->Panels(3)->SetText("earlier result");

    ClosePort();
    EXPECT_FALSE(form.FComReady);
    EXPECT_FALSE(form.SioComPort1->Open());
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(Panel(3), "");
    EXPECT_FALSE(form.Button_genMcard->Enabled());
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_FALSE(form.Button2->Enabled());
}

TEST_F(PortConnection, AnOutOfRangePortNumberIsRefusedBeforeThePort) {
    AddWriter(1);
    EXPECT_TRUE(form.TryOpenPort(1));
    EXPECT_FALSE(form.TryOpenPort(65536 + 1));  // would wrap to COM1
    EXPECT_FALSE(form.SioComPort1->Open());
    EXPECT_FALSE(form.TryOpenPort(2));  // absent
}

}  // namespace
