// End-to-end helpers: simulated writer devices linked as COM ports in a
// port directory of the test's own, and a window whose message boxes are
// recorded together with the state of the window when each is shown.
#pragma once

#include "app_test_support.h"

#include "app/reply_wait.h"
#include "mastercard/writer_protocol.h"
#include "port_link.h"
#include "serial/posix/pseudo_terminal.h"
#include "writer_simulator.h"
#include "scoped_env.h"

#include <QDateTime>
#include <QSocketNotifier>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One simulated writer device and every line it reported.
class SimulatedWriter {
public:
    SimulatedWriter(const std::string& portDir, int com, const mastercard::WriterFaults& faults);

    writersim::WriterSimulator& Device() { return device_; }
    std::vector<std::string> Lines() const;
    // The requests it received, e.g. "recv 02", in order.
    std::vector<std::string> Requests() const;

private:
    mutable std::mutex lock_;  // guards lines_
    std::vector<std::string> lines_;
    writersim::WriterSimulator device_;
};

// The window with its message boxes recorded: the text, and the generate
// button's enabled state and status panel 3 at the moment the box shows.
class WriterTestForm : public TestForm {
public:
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override;

    std::vector<bool> buttonEnabledAtMessage;
    std::vector<std::string> panel3AtMessage;
};

class WriterTest : public testing::Test {
protected:
    WriterTest();
    ~WriterTest() override;

    // A simulated device linked as COM`com`.
    SimulatedWriter& AddWriter(int com, const mastercard::WriterFaults& faults = {});
    // What the operator does: pick a list item and press "打开端口(&S)",
    // press "关闭端口(&C)", press "生成母卡(&G)".
    void OpenPort(int listIndex);
    void ClosePort();
    void Generate();

    // The traffic log lines from `first` on, each without its time stamp.
    std::vector<std::string> LogWithoutStamps(std::size_t first = 0) const;
    std::string Panel(int index) const;

    QTemporaryDir portDir_;
    // Only the links in this directory exist as ports: no test reaches a
    // real serial port.
    sio::test::ScopedEnv portDirEnv_{"SIO_PORT_DIR", portDir_.path().toStdString()};
    // ...and lock files go there too, not to /run/lock.
    sio::test::ScopedEnv lockDirEnv_{"SIO_LOCK_DIR", portDir_.path().toStdString()};
    std::map<int, std::unique_ptr<SimulatedWriter>> writers_;
    // Last: destroyed first, so its port closes before the devices go.
    WriterTestForm form;
};

// A writer device played by the test on the main thread, on a
// pseudo-terminal linked as COM`com`: each whole request is answered with
// the reply scripted for it, `replyDelayMs` later. Replies can be anything,
// so the program's reading of them can be checked byte by byte.
class ScriptedDevice : public QObject {
public:
    ScriptedDevice(const std::string& portDir, int com);
    ~ScriptedDevice() override;

    std::string handshakeReply = "\x06";  // to 02; empty: silent
    std::string promptReply = "\x02";     // to a 26-byte frame
    std::deque<std::string> statusReplies;  // to each 06, in turn
    int replyDelayMs = 0;
    // Wall-clock time just before each reply went to the line.
    std::vector<QDateTime> repliedAt;
    // Every byte received, in order.
    std::string received;

private:
    void OnReadable();
    void Reply(const std::string& bytes);

    sio::PseudoTerminal line_;
    writersim::PortLink link_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;
};

// A reply-wait clock on which time passes at once: each sleep jumps to its
// wake-up time, or to the next scripted arrival before it, which then runs.
// Pending events are handled first, as the event loop would.
class ScriptedReplyClock : public ReplyWaitClock {
public:
    ScriptedReplyClock();
    ReplyClock::time_point Now() override { return now_; }
    void HandleEventsUntil(ReplyClock::time_point wakeAt) override;

    // `what` runs when the clock reaches `after` past the start.
    void At(ReplyClock::duration after, std::function<void()> what);
    // Time since the start.
    ReplyClock::duration Elapsed() const { return now_ - start_; }

private:
    const ReplyClock::time_point start_;
    ReplyClock::time_point now_;
    std::multimap<ReplyClock::time_point, std::function<void()>> arrivals_;
};

// Runs `action` once, on the main thread, at the first pass of the event
// loop (the program's own waits included) at which `condition` holds.
void DoWhen(std::function<bool()> condition, std::function<void()> action);

// A device that never answers the handshake.
mastercard::WriterFaults SilentHandshake();
