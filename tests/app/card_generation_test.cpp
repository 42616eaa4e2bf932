// Generating a master card against the simulated writer device on a real
// pseudo-terminal: the six exchanges, every verdict, the replies the program
// must not take for an answer, validation, and a port closed mid-way.
#include "writer_test_support.h"

#include "mastercard/hex_codec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const QString kInfo = QString::fromUtf8("信息提示|");
const QString kSucceeded = QString::fromUtf8("生成母卡执行成功");
const QString kFailed = QString::fromUtf8("生成母卡执行失败");

std::string FrameFor(const mastercard::MasterCardSettings& settings) {
    const mastercard::ConfigBuildResult built = mastercard::BuildMasterCardConfig(settings);
    EXPECT_EQ(built.failure, mastercard::ConfigFailure::None);
    return mastercard::BuildConfigFrame(built.config);
}

class CardGeneration : public WriterTest {
protected:
    // A writer device on COM3, connected through " AUTO ".
    SimulatedWriter& Connect(const mastercard::WriterFaults& faults = {}) {
        SimulatedWriter& writer = AddWriter(3, faults);
        OpenPort(0);
        EXPECT_TRUE(form.FComReady);
        logBefore_ = form.FLogLines.size();
        return writer;
    }
    Lines GenerationLog() const { return LogWithoutStamps(logBefore_); }

    std::size_t logBefore_ = 0;
};

TEST_F(CardGeneration, SucceedsThroughTheSixExchanges) {
    SimulatedWriter& writer = Connect();
    Generate();

    EXPECT_EQ(Panel(3), kSucceeded);
    EXPECT_EQ(form.messages, QStringList{kInfo + kSucceeded});
    // The button comes back first, then panel 3, then the message.
    EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{true});
    EXPECT_EQ(form.panel3AtMessage, QStringList{kSucceeded});
    EXPECT_TRUE(form.Button_genMcard->Enabled());

    const std::string frame = FrameFor({});
    EXPECT_EQ(GenerationLog(), (Lines{"Sendhex ; 02;", "Recevhex ; 06;", "Sendhex ; " + frame + ";",
                                      "Recevhex ; 02;", "Sendhex ; 06;",
                                      "Recevhex ; 20 00 00 00 03;"}));
    const QRegularExpression line("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\d;(Send|Recev)hex ; [0-9A-F ]+;$");
    for (const std::string& logged : form.FLogLines)
        EXPECT_TRUE(line.match(QString::fromStdString(logged)).hasMatch()) << logged;

    ASSERT_TRUE(writer.Device().WaitForFrames(1, 5s));
    EXPECT_EQ(writer.Device().Frames(), Lines{mastercard::HexToBytes(frame)});
}

TEST_F(CardGeneration, StatusFFIsAFailure) {
    mastercard::WriterFaults faults;
    faults.status = 0xFF;
    Connect(faults);
    Generate();
    EXPECT_EQ(Panel(3), kFailed);
    EXPECT_EQ(form.messages, QStringList{kInfo + kFailed});
    EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{true});
    EXPECT_EQ(GenerationLog().back(), "Recevhex ; 20 FF 00 00 03;");
}

TEST_F(CardGeneration, AnyOtherStatusIsAnError) {
    mastercard::WriterFaults faults;
    faults.status = 0x01;
    Connect(faults);
    Generate();
    EXPECT_EQ(Panel(3), kFailed);
    EXPECT_EQ(form.messages, QStringList{kInfo + QString::fromUtf8("生成母卡执行失败error")});
}

TEST_F(CardGeneration, AStatusReplyInTwoPiecesIsTakenWhenWhole) {
    mastercard::WriterFaults faults;
    faults.delayed = {false, false, true};
    faults.chunk_delay_ms = 40;
    faults.chunk_sizes = {3, 2};
    Connect(faults);
    Generate();
    EXPECT_EQ(Panel(3), kSucceeded);
    EXPECT_EQ(GenerationLog().back(), "Recevhex ; 20 00 00 00 03;");
}

TEST_F(CardGeneration, AFourByteStatusFailsAtTheDeadlineWithPanelThreeSet) {
    mastercard::WriterFaults faults;
    faults.status_length = 4;
    Connect(faults);
    Generate();
    EXPECT_EQ(Panel(3), kFailed);
    EXPECT_EQ(form.messages, QStringList{kInfo + kFailed});
    EXPECT_EQ(form.panel3AtMessage, QStringList{kFailed});
    EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{true});
    EXPECT_EQ(GenerationLog().size(), 5u);  // the short reply is never logged
    EXPECT_EQ(GenerationLog().back(), "Sendhex ; 06;");
}

TEST_F(CardGeneration, APromptWithMoreBytesIsNoPromptAndLeavesPanelThree) {
    mastercard::WriterFaults faults;
    faults.prompt_extra = "\x03";
    SimulatedWriter& writer = Connect(faults);
    form.StatusBar1->Panels(3)->SetText("earlier result");
    Generate();
    EXPECT_EQ(Panel(3), "earlier result");
    EXPECT_EQ(form.messages, QStringList{kInfo + kFailed});
    EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{true});
    EXPECT_EQ(GenerationLog().size(), 3u);  // up to the frame
    EXPECT_TRUE(form.Button_genMcard->Enabled());
    EXPECT_EQ(writer.Requests().size(), 3u);  // no acknowledge was sent
}

TEST_F(CardGeneration, ANoAnswerToTheHandshakeFailsBeforeTheButtonReturns) {
    AddWriter(1, SilentHandshake());
    ASSERT_TRUE(form.TryOpenPort(1));
    form.FComReady = true;  // as if the device had answered at the open
    form.Button_genMcard->SetEnabled(true);
    RunUntilIdle();
    Generate();
    EXPECT_EQ(form.messages, QStringList{kInfo + kFailed});
    EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{false});  // message first
    EXPECT_EQ(Panel(3), "");
    EXPECT_TRUE(form.Button_genMcard->Enabled());
    EXPECT_EQ(LogWithoutStamps(), Lines{"Sendhex ; 02;"});
}

TEST_F(CardGeneration, ClosingThePortDuringAWaitFailsAndTheNextPressReportsIt) {
    mastercard::WriterFaults faults;
    faults.silent.prompt = true;
    Connect(faults);
    // The operator closes the port while the program waits for the prompt.
    bool closed = false;
    DoWhen([this] { return form.FLogLines.size() == logBefore_ + 3; },  // the frame is out
           [&] {
               Press(form.Button2);
               closed = true;
           });
    Generate();
    EXPECT_TRUE(closed);
    EXPECT_EQ(GenerationLog().size(), 3u);  // up to the frame
    EXPECT_FALSE(form.SioComPort1->Open());
    EXPECT_FALSE(form.FComReady);
    EXPECT_EQ(form.messages, QStringList{kInfo + kFailed});
    // As designed, the button is back although no port is open; the next
    // press fails at its first write and the toolkit reports why.
    ASSERT_TRUE(form.Button_genMcard->Enabled());
    Generate();
    EXPECT_EQ(TestApp().reports, QStringList{"ie_NOpen - device not open"});
    EXPECT_FALSE(form.Button_genMcard->Enabled());
}

// The verdict is the second byte of a status reply of five bytes or more,
// whatever the bytes before and after it hold; the whole reply is logged.
TEST_F(CardGeneration, TheStatusIsTheSecondByteOfAReplyOfFiveOrMore) {
    ScriptedDevice device(portDir_.path().toStdString(), 4);
    const QString failedWithError = QString::fromUtf8("生成母卡执行失败error");
    struct Case {
        std::string reply;
        const char* logged;
        QString verdict;  // panel 3 and the message
        QString message;
    };
    const Case cases[] = {
        {std::string("\xFF\x00\xFF\xFF\xFF", 5), "Recevhex ; FF 00 FF FF FF;", kSucceeded, kSucceeded},
        {std::string("\x00\xFF\x00\x00\x00\x00", 6), "Recevhex ; 00 FF 00 00 00 00;", kFailed, kFailed},
        {std::string("\x00\x0F\x00\xFF\x00\xFF\x00", 7), "Recevhex ; 00 0F 00 FF 00 FF 00;", kFailed,
         failedWithError},
        {std::string("\x20\x00\x01\x02\x03\xFF\x06\x03", 8), "Recevhex ; 20 00 01 02 03 FF 06 03;",
         kSucceeded, kSucceeded},
        {std::string("\x00\x00\x0F\x00\x00\x00", 6), "Recevhex ; 00 00 0F 00 00 00;", kSucceeded, kSucceeded},
    };
    for (const Case& c : cases) device.statusReplies.push_back(c.reply);
    OpenPort(4);
    ASSERT_TRUE(form.FComReady);
    for (const Case& c : cases) {
        form.messages.clear();
        form.StatusBar1->Panels(3)->SetText("stale");
        const std::size_t before = form.FLogLines.size();
        Generate();
        EXPECT_EQ(Panel(3), c.verdict) << c.logged;
        EXPECT_EQ(form.messages, QStringList{kInfo + c.message}) << c.logged;
        const Lines log = LogWithoutStamps(before);
        ASSERT_EQ(log.size(), 6u) << c.logged;
        EXPECT_EQ(log.back(), c.logged);
    }
}

// Each reply of a generation is stamped with its own arrival, not with the
// send before it: the device answers every request 60 ms late.
TEST_F(CardGeneration, EveryReplyIsStampedWithItsArrival) {
    ScriptedDevice device(portDir_.path().toStdString(), 4);
    device.statusReplies.push_back(std::string("\x20\x00\x00\x00\x03", 5));
    OpenPort(4);
    ASSERT_TRUE(form.FComReady);
    device.replyDelayMs = 60;
    const std::size_t before = form.FLogLines.size();
    Generate();
    ASSERT_EQ(Panel(3), kSucceeded);
    ASSERT_EQ(form.FLogLines.size(), before + 6);
    const auto stamp = [&](std::size_t i) {
        return QTime::fromString(QString::fromStdString(form.FLogLines[before + i].substr(0, 12)),
                                 "hh:mm:ss zzz");
    };
    for (std::size_t reply : {1u, 3u, 5u}) {
        SCOPED_TRACE(form.FLogLines[before + reply]);
        ASSERT_TRUE(stamp(reply - 1).isValid() && stamp(reply).isValid());
        // Stamps are cut to the millisecond, so 60 ms can show as 59.
        EXPECT_GE(stamp(reply - 1).msecsTo(stamp(reply)), 59);
    }
}

// What the operator sees of a generation's outcome: the program's own box,
// captioned "信息提示", with the information icon and a single OK.
TEST_F(CardGeneration, OutcomesShowAnInformationBoxWithOK) {
    Connect();
    form.realMessageBoxes = true;
    QStringList seen;
    auto inspect = [&](QMessageBox& box) {
        seen << box.windowTitle() + "|" + box.text() + "|" + QString::number(box.icon()) + "|" +
                    QString::number(static_cast<int>(box.standardButtons()), 16);
    };
    AnswerNextMessageBox(Qt::Key_Return, inspect);
    Generate();
    ClickOption(form.RadioGroup_outdatamode0_1, 1);
    form.Edit_KeyCheck->SetText("12345");
    RunUntilIdle();
    AnswerNextMessageBox(Qt::Key_Return, inspect);
    Generate();
    EXPECT_EQ(seen, (QStringList{QString::fromUtf8("信息提示|生成母卡执行成功|1|400"),
                                 QString::fromUtf8("信息提示|密钥错误|1|400")}));
}

class CardGenerationSettings : public CardGeneration {
protected:
    void SetUp() override {
        writer_ = &Connect();
        ClickOption(form.RadioGroup_outdatamode0_1, 1);
        RunUntilIdle();
    }
    void ExpectRefused(const char* message) {
        form.messages.clear();
        form.buttonEnabledAtMessage.clear();
        Generate();
        EXPECT_EQ(form.messages, QStringList{kInfo + QString::fromUtf8(message)});
        EXPECT_EQ(form.buttonEnabledAtMessage, std::vector<bool>{true});
    }
    SimulatedWriter* writer_ = nullptr;
};

TEST_F(CardGenerationSettings, RefusalsComeOneAtATimeInOrderAndSendNothing) {
    form.Edit_KeyCheck->SetText("12345");
    ChooseItem(form.ComboBox_BlockStartAdr, 9);
    ChooseItem(form.ComboBox_BlockEndAdr, 3);
    form.Edit_KeySet->SetText("XYZ");
    ExpectRefused("密钥错误");
    form.Edit_KeyCheck->SetText("A1B2C3D4E5F6");
    ExpectRefused("数据块起始结束地址选择错误");
    ChooseItem(form.ComboBox_BlockEndAdr, 14);  // six bytes: one too many
    ExpectRefused("数据块起始结束地址选择错误");
    ChooseItem(form.ComboBox_BlockEndAdr, 13);
    ExpectRefused("密码错误");
    EXPECT_EQ(GenerationLog().size(), 0u);
    EXPECT_EQ(writer_->Requests().size(), 1u);  // the open's handshake only
}

TEST_F(CardGenerationSettings, ModeZeroIgnoresTheKeyText) {
    form.Edit_KeyCheck->SetText("12345");
    ClickOption(form.RadioGroup_outdatamode0_1, 0);
    RunUntilIdle();
    Generate();
    EXPECT_EQ(Panel(3), kSucceeded);
}

TEST_F(CardGenerationSettings, EveryNonDefaultChoiceReachesTheDeviceByteForByte) {
    ClickOption(form.RadioGroup_cardnum, 1);
    ChooseItem(form.ComboBox_SectorNum, 33);
    ChooseItem(form.ComboBox_BlockNum, 5);
    ChooseItem(form.ComboBox_BlockStartAdr, 2);
    ChooseItem(form.ComboBox_BlockEndAdr, 6);
    ClickOption(form.RadioGroup_content_parameter, 2);
    ClickOption(form.RadioGroup_KeyCheck, 1);
    form.Edit_KeyCheck->SetText("A1B2C3D4E5F6");
    Click(form.RadioButton_OrderHigh);
    ClickOption(form.RadioGroup_OutStyle_bit7, 1);
    ClickOption(form.RadioGroup_OutStyle_bit6, 1);
    ClickOption(form.RadioGroup_OutStyle_bit5, 1);
    ClickOption(form.RadioGroup_OutStyle_bit4, 1);
    ClickOption(form.RadioGroup_OutStyle_bit3, 0);
    ClickOption(form.RadioGroup_OutStyle_bit2, 1);
    ClickOption(form.RadioGroup_bandrate_OutStyle_bit1_0, 2);
    ClickOption(form.RadioGroup_Outmode, 1);
    ClickOption(form.RadioGroup_KeySet, 0);
    form.Edit_KeySet->SetText("12345678");
    Click(form.CheckBox_cardflagsave);
    RunUntilIdle();  // the lock is confirmed (Yes)
    ASSERT_TRUE(form.CheckBox_cardflagsave->Checked());

    Generate();
    ASSERT_EQ(Panel(3), kSucceeded);

    mastercard::MasterCardSettings expected;
    expected.RadioGroup_outdatamode0_1 = 1;
    expected.ComboBox_SectorNum = 33;
    expected.ComboBox_BlockNum = 5;
    expected.ComboBox_BlockStartAdr = 2;
    expected.ComboBox_BlockEndAdr = 6;
    expected.RadioGroup_content_parameter = 2;
    expected.RadioGroup_KeyCheck = 1;
    expected.Edit_KeyCheck = "A1B2C3D4E5F6";
    expected.RadioButton_OrderLow = false;
    expected.RadioButton_OrderHigh = true;
    expected.RadioGroup_OutStyle_bit7 = 1;
    expected.RadioGroup_OutStyle_bit6 = 1;
    expected.RadioGroup_OutStyle_bit5 = 1;
    expected.RadioGroup_OutStyle_bit4 = 1;
    expected.RadioGroup_OutStyle_bit3 = 0;
    expected.RadioGroup_OutStyle_bit2 = 1;
    expected.RadioGroup_bandrate_OutStyle_bit1_0 = 2;
    expected.RadioGroup_Outmode = 1;
    expected.RadioGroup_KeySet = 0;
    expected.Edit_KeySet = "12345678";
    expected.CheckBox_cardflagsave = true;
    const std::string frame = mastercard::HexToBytes(FrameFor(expected));
    ASSERT_TRUE(writer_->Device().WaitForFrames(1, 5s));
    EXPECT_EQ(writer_->Device().Frames(), Lines{frame});
    // The key and the password travel as typed, high byte first.
    EXPECT_EQ(mastercard::BytesToHex(frame.substr(8, 6)), "A1 B2 C3 D4 E5 F6");
    EXPECT_NE(frame, mastercard::HexToBytes(FrameFor({})));
}

}  // namespace
