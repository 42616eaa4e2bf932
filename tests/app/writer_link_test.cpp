// The writer link underneath the connection and the generation: what the
// trigger handler collects, how a wait judges a reply in pieces, the wait's
// gate and deadline, and the traffic log file.
#include "writer_test_support.h"

#include "app/toolkit/action.h"
#include "app/toolkit/action_list.h"
#include "app/toolkit/window.h"
#include "app/reply_wait.h"
#include "app/traffic_log_file.h"
#include "port_link.h"
#include "serial/posix/pseudo_terminal.h"
#include "serial/core/dispatcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTime>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

QByteArray FileText(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray Joined(const Lines& lines) {
    QByteArray text;
    for (const std::string& line : lines) text += QByteArray::fromStdString(line) + "\r\n";
    return text;
}

class WriterLink : public WriterTest {};

TEST_F(WriterLink, TheTriggerHandlerTakesExactlyTheAnnouncedBytesInOrder) {
    sio::PseudoTerminal line = sio::OpenHeldPseudoTerminal();
    const writersim::PortLink link(portDir_.path().toStdString(), 1, line.slavePath);
    ASSERT_TRUE(form.TryOpenPort(1));
    const std::string bytes("\x00\x41\x00", 3);
    ASSERT_EQ(::write(line.master.get(), bytes.data(), bytes.size()), 3);
    RunUntil([&] { return form.FRecvText.size() >= 3; });
    EXPECT_EQ(form.FRecvText, bytes);
    const TDateTime received = form.FRecvTime;
    EXPECT_GE(received.Year, 2024);  // set from the wall clock

    // Only the data-available notice is handled.
    form.SioComPort1Trigger(form.SioComPort1.get(), sio::MsgTriggerTimer, 1, 0);
    form.SioComPort1Trigger(form.SioComPort1.get(), sio::MsgTriggerStatus, 3, 3);
    EXPECT_EQ(form.FRecvText, bytes);
    EXPECT_EQ(form.FRecvTime, received);

    // A notice for bytes that are not there loses that chunk, silently.
    form.SioComPort1Trigger(form.SioComPort1.get(), sio::MsgTriggerAvail, 2, 2);
    EXPECT_EQ(form.FRecvText, bytes);
    EXPECT_EQ(form.FRecvTime, received);
}

TEST_F(WriterLink, AWaitEndsAtTheFirstPieceAndLaterPiecesStillArrive) {
    sio::PseudoTerminal line = sio::OpenHeldPseudoTerminal();
    const writersim::PortLink link(portDir_.path().toStdString(), 1, line.slavePath);
    ASSERT_TRUE(form.TryOpenPort(1));
    // The device answers one byte before the first look; the second byte
    // comes only after the wait has ended.
    DoWhen([] { return true; }, [&] { ASSERT_EQ(::write(line.master.get(), "\x06", 1), 1); });

    form.SendAndWait("\x02");
    EXPECT_EQ(form.FRecvText, "\x06");
    EXPECT_EQ(LogWithoutStamps(), (Lines{"Sendhex ; 02;", "Recevhex ; 06;"}));

    ASSERT_EQ(::write(line.master.get(), "\x15", 1), 1);
    RunUntil([&] { return form.FRecvText.size() == 2; });
    EXPECT_EQ(form.FRecvText, "\x06\x15");
    EXPECT_EQ(form.FLogLines.size(), 2u);  // later pieces are not logged
}

// A log line's stamp: the time of day to the millisecond.
QTime Stamp(const std::string& line) {
    return QTime::fromString(QString::fromStdString(line.substr(0, 12)), "hh:mm:ss zzz");
}

// "Sendhex " carries the time of the send, "Recevhex " the time the reply
// arrived, 80 ms later.
TEST_F(WriterLink, SendsAreStampedWithTheSendTimeAndRepliesWithTheirArrival) {
    ScriptedDevice device(portDir_.path().toStdString(), 1);
    device.replyDelayMs = 80;
    ASSERT_TRUE(form.TryOpenPort(1));
    const QTime before = QTime::currentTime();
    form.SendAndWait("\x02");
    const QTime after = QTime::currentTime();

    ASSERT_EQ(LogWithoutStamps(), (Lines{"Sendhex ; 02;", "Recevhex ; 06;"}));
    ASSERT_EQ(device.repliedAt.size(), 1u);
    const QTime sent = Stamp(form.FLogLines[0]);
    const QTime received = Stamp(form.FLogLines[1]);
    const QTime replied = device.repliedAt[0].time();
    ASSERT_TRUE(sent.isValid() && received.isValid());
    EXPECT_LE(before, sent);
    EXPECT_LT(sent, replied);
    EXPECT_GE(sent.msecsTo(replied), 80);
    EXPECT_LE(replied, received);
    EXPECT_LE(received, after);
}

TEST(ReplyWait, LooksOnlyAfterTheGateAndGivesUpAtTheDeadline) {
    const auto window = BuildWindow({.Name = "W", .Caption = "", .Bounds = {0, 0, 100, 100}});
    TActionList actions(*window);
    int updates = 0;
    actions.Add("A", "c", "a")->OnUpdate = [&](TObject*) { ++updates; };
    window->Show();
    RunUntilIdle();
    updates = 0;

    const ReplyClock::time_point sent = ReplyClock::now();
    ReplyClock::duration firstLook{};
    int looks = 0;
    const auto wait = MakeMainEventWait();
    const bool accepted = WaitForReply(actions, *wait, sent, [&] {
        if (looks++ == 0) firstLook = ReplyClock::now() - sent;
        return false;
    });
    const ReplyClock::duration waited = ReplyClock::now() - sent;

    EXPECT_FALSE(accepted);
    EXPECT_GT(firstLook, kReplyGate);
    EXPECT_GE(waited, kReplyTimeout);
    EXPECT_GT(looks, 1);
    EXPECT_EQ(updates, 0);  // no idle-time updates inside the wait
}

// Nanoseconds since the send, so that a failure prints a number.
long long Ns(ReplyClock::duration d) { return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count(); }

// The gate and the deadline on a clock that the test moves. A wait wakes for
// an arrival, just after the 20 ms gate and at the 1500 ms deadline, and at
// no other time; a reply is taken at the first look after both the gate and
// its arrival.
TEST(ReplyWait, LooksFirstJustAfterTwentyMillisecondsAndGivesUpAtFifteenHundred) {
    using namespace std::chrono_literals;
    const auto window = BuildWindow({.Name = "W", .Caption = "", .Bounds = {0, 0, 100, 100}});
    TActionList actions(*window);
    struct Case {
        std::chrono::nanoseconds arrival;  // 0: never
        bool accepted;
        std::vector<long long> looks;  // ns after the send
    };
    const long long gateNs = 20'000'001, deadlineNs = 1'500'000'000;
    const Case cases[] = {
        {0ns, false, {gateNs, deadlineNs}},
        {5ms, true, {gateNs}},
        {20ms, true, {gateNs}},
        {700ms, true, {gateNs, 700'000'000}},
        {1499ms, true, {gateNs, 1'499'000'000}},
        {1501ms, false, {gateNs, deadlineNs}},
    };
    for (const Case& c : cases) {
        ScriptedReplyClock clock;
        bool arrived = false;
        if (c.arrival != 0ns) clock.At(c.arrival, [&] { arrived = true; });
        std::vector<long long> looks;
        const bool accepted = WaitForReply(actions, clock, clock.Now(), [&] {
            looks.push_back(Ns(clock.Elapsed()));
            return arrived;
        });
        EXPECT_EQ(accepted, c.accepted) << "arrival " << c.arrival.count() << " ns";
        EXPECT_EQ(looks, c.looks) << "arrival " << c.arrival.count() << " ns";
    }
}

class TrafficLogFileTest : public WriterTest {
protected:
    QTemporaryDir folder_;
};

TEST_F(TrafficLogFileTest, WithoutTheSwitchFileNothingIsWritten) {
    form.PrepareTrafficLog(S(folder_.path() + '/'));
    EXPECT_FALSE(form.FLogEnabled);
    AddWriter(1);
    OpenPort(1);
    EXPECT_EQ(form.FLogLines.size(), 2u);
    EXPECT_TRUE(QDir(folder_.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(TrafficLogFileTest, WithTheSwitchFileTheFileHoldsEveryLineAfterEachOne) {
    QFile(folder_.path() + "/writelog.txt").open(QIODevice::WriteOnly);
    form.PrepareTrafficLog(S(folder_.path() + '/'));
    ASSERT_TRUE(form.FLogEnabled);
    EXPECT_TRUE(Q(form.FLogFileName).startsWith(folder_.path() + '/'));
    EXPECT_TRUE(Q(form.FLogFileName).endsWith(".Log"));
    // An earlier start within the same minute left its log: replaced whole.
    QFile earlier(Q(form.FLogFileName));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("an earlier run's lines\r\nmore\r\nand more\r\n");
    earlier.close();

    form.LogTraffic("02", "Sendhex ", "10:00:00 000");
    EXPECT_EQ(FileText(Q(form.FLogFileName)), "10:00:00 000;Sendhex ; 02;\r\n");

    AddWriter(1);
    OpenPort(1);
    EXPECT_EQ(FileText(Q(form.FLogFileName)), Joined(form.FLogLines));
    Generate();
    EXPECT_EQ(form.FLogLines.size(), 9u);
    EXPECT_EQ(FileText(Q(form.FLogFileName)), Joined(form.FLogLines));
}

TEST_F(TrafficLogFileTest, AFileThatCannotBeWrittenIsReportedAndCaughtUpLater) {
    form.FLogEnabled = true;
    form.FLogFileName = S(folder_.path() + "/missing-folder/x.Log");
    EXPECT_THROW(form.LogTraffic("02", "Sendhex ", "10:00:00 000"), std::runtime_error);
    EXPECT_EQ(form.FLogLines.size(), 1u);  // the line is kept

    form.FLogFileName = S(folder_.path() + "/x.Log");
    form.LogTraffic("06", "Recevhex ", "10:00:00 020");
    EXPECT_EQ(FileText(Q(form.FLogFileName)),
              "10:00:00 000;Sendhex ; 02;\r\n10:00:00 020;Recevhex ; 06;\r\n");

    // Removed behind the program's back: the next line brings it all back.
    QFile::remove(Q(form.FLogFileName));
    form.LogTraffic("02", "Sendhex ", "10:00:01 000");
    EXPECT_EQ(FileText(Q(form.FLogFileName)), Joined(form.FLogLines));
}

}  // namespace
