#include "writer_test_support.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

namespace {

writersim::SimulatorOptions OptionsFor(const std::string& portDir, int com,
                                       const mastercard::WriterFaults& faults) {
    writersim::SimulatorOptions options;
    options.port_dir = portDir;
    options.com = com;
    options.faults = faults;
    return options;
}

}  // namespace

SimulatedWriter::SimulatedWriter(const std::string& portDir, int com,
                                 const mastercard::WriterFaults& faults)
    : device_(OptionsFor(portDir, com, faults), [this](const std::string& line) {
          std::lock_guard lock(lock_);
          lines_.push_back(line);
      }) {
    device_.Start();
}

std::vector<std::string> SimulatedWriter::Lines() const {
    std::lock_guard lock(lock_);
    return lines_;
}

std::vector<std::string> SimulatedWriter::Requests() const {
    std::vector<std::string> requests;
    for (const std::string& line : Lines()) {
        if (line.rfind("recv ", 0) == 0) requests.push_back(line.substr(0, line.find(':')));
    }
    return requests;
}

int WriterTestForm::MessageBox(const std::string& Text, const std::string& Caption,
                               unsigned Flags) {
    buttonEnabledAtMessage.push_back(Button_genMcard->Enabled());
    panel3AtMessage.push_back(StatusBar1->Panels(3)->Text());
    return TestForm::MessageBox(Text, Caption, Flags);
}

WriterTest::WriterTest() {
    TestApp().reports.clear();
    form.Show();
    RunUntilIdle();
}

WriterTest::~WriterTest() = default;

SimulatedWriter& WriterTest::AddWriter(int com, const mastercard::WriterFaults& faults) {
    auto& writer = writers_[com];
    writer = std::make_unique<SimulatedWriter>(portDir_.path().toStdString(), com, faults);
    return *writer;
}

void WriterTest::OpenPort(int listIndex) {
    ChooseItem(form.ComboBox_ComNum, listIndex);
    RunUntilIdle();
    Press(form.Button1);
    RunUntilIdle();
}

void WriterTest::ClosePort() {
    Press(form.Button2);
    RunUntilIdle();
}

void WriterTest::Generate() {
    EXPECT_TRUE(form.Button_genMcard->Enabled()) << "an operator cannot press a disabled button";
    Press(form.Button_genMcard);
    RunUntilIdle();
}

std::vector<std::string> WriterTest::LogWithoutStamps(std::size_t first) const {
    std::vector<std::string> lines;
    for (std::size_t i = first; i < form.FLogLines.size(); ++i) {
        const std::string& line = form.FLogLines[i];
        lines.push_back(line.substr(line.find(';') + 1));
    }
    return lines;
}

std::string WriterTest::Panel(int index) const { return form.StatusBar1->Panels(index)->Text(); }

void DoWhen(std::function<bool()> condition, std::function<void()> action) {
    auto* check = new QTimer(qApp);  // a zero timer fires at every pass of the loop
    QObject::connect(check, &QTimer::timeout, check, [check, condition, action] {
        if (!condition()) return;
        check->stop();
        check->deleteLater();
        action();
    });
    check->start(0);
}

mastercard::WriterFaults SilentHandshake() {
    mastercard::WriterFaults faults;
    faults.silent.handshake = true;
    return faults;
}

// Starts far from the steady clock's epoch, so that no wake-up time the
// wait computes can be mistaken for "now".
ScriptedReplyClock::ScriptedReplyClock()
    : start_(ReplyClock::time_point(std::chrono::hours(1000))), now_(start_) {}

void ScriptedReplyClock::HandleEventsUntil(ReplyClock::time_point wakeAt) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!arrivals_.empty() && arrivals_.begin()->first <= wakeAt) {
        auto next = arrivals_.begin();
        now_ = std::max(now_, next->first);
        const std::function<void()> what = std::move(next->second);
        arrivals_.erase(next);
        what();
        return;
    }
    now_ = std::max(now_, wakeAt);
}

void ScriptedReplyClock::At(ReplyClock::duration after, std::function<void()> what) {
    arrivals_.emplace(start_ + after, std::move(what));
}

ScriptedDevice::ScriptedDevice(const std::string& portDir, int com)
    : line_(sio::OpenHeldPseudoTerminal()),
      link_(portDir, com, line_.slavePath),
      notifier_(std::make_unique<QSocketNotifier>(line_.master.get(), QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

ScriptedDevice::~ScriptedDevice() = default;

void ScriptedDevice::OnReadable() {
    char buffer[256];
    ssize_t n;
    while ((n = ::read(line_.master.get(), buffer, sizeof buffer)) > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
        received.append(buffer, static_cast<std::size_t>(n));
    }
    constexpr std::size_t kFrameBytes = 26;
    while (!pending_.empty()) {
        const auto first = static_cast<unsigned char>(pending_[0]);
        if (first == 0xAA) {
            if (pending_.size() < kFrameBytes) return;  // the rest is on its way
            pending_.erase(0, kFrameBytes);
            Reply(promptReply);
            continue;
        }
        pending_.erase(0, 1);
        if (first == 0x02) {
            Reply(handshakeReply);
        } else if (first == 0x06 && !statusReplies.empty()) {
            Reply(statusReplies.front());
            statusReplies.pop_front();
        }
    }
}

void ScriptedDevice::Reply(const std::string& bytes) {
    if (bytes.empty()) return;
    auto send = [this, bytes] {
        repliedAt.push_back(QDateTime::currentDateTime());
        ASSERT_EQ(::write(line_.master.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    };
    if (replyDelayMs == 0) {
        send();
    } else {
        QTimer::singleShot(replyDelayMs, this, send);
    }
}
