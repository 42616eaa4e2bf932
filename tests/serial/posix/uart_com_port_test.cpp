// The serial port component on an emulated UART, in the program's own
// configuration: 9600 baud 8N1 with RS485Mode on. The emulator's record of
// RTS and of every character on the wire shows the direction switching.
#include "com_port_test_support.h"
#include "port_dir.h"
#include "uart_emulator.h"
#include "uart_profiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

using namespace sio;
using sio::test::ScopedPortDir;
using uartemu::Event;
using uartemu::EventKind;

namespace {

constexpr std::int64_t kCharacter9600 = 1'041'667;  // ns, 10 bits at 9600 baud

// How late RTS may rise or fall here. The goal is one character time, which
// uart_bench measures; a test on a busy machine (or under a sanitizer, which
// slows every thread several times over) would miss it now and then through
// no fault of the code (8 ms between two system calls was seen under load),
// so the tests hold the order and catch a wait that overshoots by many
// characters, such as the 18-character fallback wait run where the
// transmitter can be asked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::int64_t kSwitchingSlack = 30 * kCharacter9600;
#else
constexpr std::int64_t kSwitchingSlack = 12 * kCharacter9600;
#endif

// A 26-byte configuration frame as the writer device gets it.
const std::string kFrame("\xAA\x20\x15\x00\x01\x03\x10\x27\x00\x00\x05\x31\x32\x33\x34\x35\x36\x00\x01\x02\x7F\x80\xFE\xFF\x55\x0D", 26);

// Once per driver profile (uart_profiles.h); a fixture below may change the
// profile's options for what it shows.
class UartComPortTest : public ::testing::TestWithParam<uartemu::Profile> {
protected:
    explicit UartComPortTest(void (*adjust)(uartemu::PortOptions&) = nullptr, int outSize = 40960)
        : uart(uartemu::Adjusted(GetParam(), adjust)) {
        EnsureEventLoop();
        ports.Link(3, uart.Path());
        port.SetComNumber(3);
        port.SetAutoOpen(false);
        port.SetBaud(9600);
        port.SetInSize(40960);
        port.SetOutSize(static_cast<Word>(outSize));
        port.SetRS485Mode(true);
    }
    ~UartComPortTest() override {
        port.SetOpen(false);
        PumpUntil([&] { return port.Phase() == phClosed; });
    }

    void Open() {
        port.SetOpen(true);
        ASSERT_EQ(port.Phase(), phOpen);
        ASSERT_TRUE(uart.WaitUntilIdle());
        uart.ClearRecord();
    }

    // Waits until `count` characters have left and RTS has fallen after them.
    std::vector<Event> Transmitted(std::size_t count) {
        EXPECT_TRUE(uart.WaitForBytes(count));
        EXPECT_TRUE(PumpUntil([&] { return !uart.Rts(); }));
        return uart.Record();
    }

    uartemu::Port uart;
    ScopedPortDir ports;
    TSioComPort port;
};

std::string BytesOf(const std::vector<Event>& record) {
    std::string bytes;
    for (const Event& e : record)
        if (e.kind == EventKind::Byte)
            bytes += static_cast<char>(e.value);
    return bytes;
}

// Every character lies inside a span of raised RTS; each span rises before
// its first start bit and falls after its last stop bit, within the slack
// of each. The record is ordered on the emulator's clock, so a busy machine
// can only make a switch later, never out of order. The number of spans is
// returned.
int CheckDirectionSwitching(const std::vector<Event>& record) {
    int spans = 0;
    bool raised = false;
    std::int64_t rise = 0;
    const Event* first = nullptr;
    const Event* last = nullptr;
    for (const Event& e : record) {
        if (e.kind == EventKind::RtsUp) {
            EXPECT_FALSE(raised) << "RTS raised twice";
            raised = true;
            rise = e.start;
            first = last = nullptr;
        } else if (e.kind == EventKind::Byte) {
            EXPECT_TRUE(raised) << "character " << int(e.value) << " sent with RTS low";
            if (!first) {
                first = &e;
                EXPECT_GE(e.start, rise);
                EXPECT_LE(e.start - rise, kSwitchingSlack) << "RTS rose too early";
            } else {
                // A busy machine may let the driver's queue run dry between
                // two runs; RTS must stay up across such a gap all the same.
                EXPECT_GE(e.start, last->end);
                EXPECT_LE(e.start - last->end, kSwitchingSlack) << "gap inside a transmission";
            }
            last = &e;
        } else if (e.kind == EventKind::RtsDown) {
            EXPECT_TRUE(raised);
            raised = false;
            ++spans;
            if (!last) {
                ADD_FAILURE() << "RTS span without a character";
                continue;
            }
            // A character still on the wire would be recorded after this.
            // The layer is timed from when the emulator showed the line idle.
            EXPECT_GE(e.start, last->end) << "RTS fell before the last stop bit";
            EXPECT_LE(e.start - std::max(last->end, last->shown), kSwitchingSlack) << "RTS fell too late";
        }
    }
    EXPECT_FALSE(raised) << "RTS left raised";
    return spans;
}

TEST_P(UartComPortTest, RtsFramesTheHandshakeAndAWholeFrame) {
    Open();
    port.WriteString(std::string(1, '\x02'));
    auto record = Transmitted(1);
    EXPECT_EQ(BytesOf(record), "\x02");
    EXPECT_EQ(CheckDirectionSwitching(record), 1);

    uart.ClearRecord();
    port.WriteString(kFrame);
    record = Transmitted(26);
    EXPECT_EQ(BytesOf(record), kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
}

TEST_P(UartComPortTest, TwoStringsBackToBackNeverDropRtsUnderACharacter) {
    Open();
    port.WriteString(kFrame.substr(0, 10));
    port.WriteString(kFrame.substr(10));
    auto record = Transmitted(26);
    EXPECT_EQ(BytesOf(record), kFrame);
    int spans = CheckDirectionSwitching(record);
    EXPECT_GE(spans, 1);
    EXPECT_LE(spans, 2);
}

TEST_P(UartComPortTest, FirstTransmissionAfterAPurgeIsFramed) {
    Open();
    port.WriteString(std::string(300, 'p'));
    ASSERT_TRUE(uart.WaitForBytes(2));
    port.ActiveDispatcher()->DevicePurge(0);
    ASSERT_TRUE(uart.WaitUntilIdle());
    ASSERT_TRUE(PumpUntil([&] { return !uart.Rts(); }));
    uart.ClearRecord();

    port.WriteString(kFrame);
    auto record = Transmitted(26);
    EXPECT_EQ(BytesOf(record), kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
}

TEST_P(UartComPortTest, FirstTransmissionAfterACloseDuringATransmissionIsFramed) {
    Open();
    port.WriteString(std::string(300, 'c'));
    ASSERT_TRUE(uart.WaitForBytes(2));
    port.SetOpen(false);
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    EXPECT_FALSE(uart.Rts());
    Open();

    port.WriteString(kFrame);
    auto record = Transmitted(26);
    EXPECT_EQ(BytesOf(record), kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
}

TEST_P(UartComPortTest, AnAdapterThatVanishesMidFrameLetsThePortClose) {
    Open();
    port.WriteString(std::string(300, 'v'));
    ASSERT_TRUE(uart.WaitForBytes(2));
    ASSERT_TRUE(uart.Rts());
    uart.Vanish();
    // The output worker leaves its wait for the transmitter; more output is
    // dropped rather than waited for.
    port.WriteString(kFrame);
    port.SetOpen(false);
    EXPECT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    EXPECT_TRUE(PumpUntil([] { return TSioDispatcherThread::LiveCount() == 0; }));
}

// A Qt program handles SIGCHLD (QProcess does) without SA_RESTART, and the
// kernel's drain ends early with EINTR at every handled signal. Children
// exiting send the signal to the process, which hands it to any one thread;
// the storm also sends it to each thread the port started, so that the
// output worker's drain surely gets its share.
TEST_P(UartComPortTest, ASigchldStormDuringTheDrainDoesNotLowerRtsEarly) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer and a storm of forks from a threaded process";
#endif
    // Where the drain does not wait for the chip, RTS is held by the baud
    // clock alone, whose sleep a signal cannot shorten.
    if (GetParam().options.drain == uartemu::Drain::DriverQueueOnly)
        GTEST_SKIP() << GetParam().name << ": the drain does not hold RTS here";
    struct sigaction handler {};
    struct sigaction previous {};
    handler.sa_handler = [](int) {};
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(::sigaction(SIGCHLD, &handler, &previous), 0);
    auto threadsNow = [] {
        std::set<pid_t> tids;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            tids.insert(std::stoi(task.path().filename().string()));
        return tids;
    };
    std::set<pid_t> before = threadsNow();
    Open();
    std::vector<pid_t> threads;  // the port's own, started by the open
    for (pid_t tid : threadsNow())
        if (!before.count(tid))
            threads.push_back(tid);
    ASSERT_FALSE(threads.empty());
    // Blocked on this thread and on the storm's, the signal reaches the
    // port's workers.
    sigset_t child, mask;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &child, &mask), 0);
    std::atomic<bool> storming{true};
    std::atomic<int> exits{0};
    std::thread storm([&] {
        while (storming) {
            pid_t pid = ::vfork();  // a child of a large process, quickly made
            if (pid == 0)
                ::_exit(0);
            if (pid > 0 && ::waitpid(pid, nullptr, 0) == pid)
                ++exits;
            for (pid_t tid : threads)
                (void)::tgkill(::getpid(), tid, SIGCHLD);
        }
    });
    port.WriteString(kFrame);
    auto record = Transmitted(26);
    storming = false;
    storm.join();
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_GT(exits.load(), 0);
    EXPECT_EQ(BytesOf(record), kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
}

TEST_P(UartComPortTest, BytesQueuedBeforeABaudChangeLeaveAtTheOldRate) {
    Open();
    port.WriteString(std::string(120, 'o'));
    port.SetBaud(115200);
    port.WriteString(std::string(40, 'n'));
    ASSERT_TRUE(uart.WaitForBytes(160));
    int old = 0, fresh = 0;
    for (const Event& e : uart.Record()) {
        if (e.kind != EventKind::Byte)
            continue;
        if (e.value == 'o') {
            EXPECT_EQ(e.baud, 9600u);
            old += e.baud == 9600u;
        } else {
            EXPECT_EQ(e.baud, 115200u);
            fresh += e.baud == 115200u;
        }
    }
    EXPECT_EQ(old, 120);
    EXPECT_EQ(fresh, 40);
}

// A driver buffer of 16 characters and an output ring of 40 bytes: the
// second string wraps round the ring while the first is still going out.
class UartSmallRingTest : public UartComPortTest {
protected:
    // No chip buffer behind the driver's either: the lead must still be
    // queued when the frame comes.
    UartSmallRingTest()
        : UartComPortTest(
              [](uartemu::PortOptions& options) {
                  options.transmitQueue = 16;
                  options.chipBuffer = 0;
              },
              40) {}
};

TEST_P(UartSmallRingTest, AFrameThatWrapsTheRingKeepsRtsRaised) {
    Open();
    const std::string lead(30, 'w');
    port.WriteString(lead);
    // The driver took 16 and more; the frame then fills the ring's last 10 bytes
    // and goes on at its start.
    ASSERT_TRUE(PumpUntil([&] { return port.ActiveDispatcher()->OutputQueued() <= 14; }));
    port.WriteString(kFrame);
    auto record = Transmitted(56);
    EXPECT_EQ(BytesOf(record), lead + kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
}

// Every second counter read held back, so the owner's QueueBlock and the
// dispatch pass overtake each other on the way to the baseline.
class UartSlowCountersComPortTest : public UartComPortTest {
protected:
    void SetUp() override {
        if (!GetParam().options.counters)
            GTEST_SKIP() << GetParam().name << ": the driver keeps no error counters";
    }
    UartSlowCountersComPortTest()
        : UartComPortTest([](uartemu::PortOptions& options) { options.counterReadDelayMicroseconds = 300; }) {}

    // A byte from the peer wakes the dispatch pass.
    void Receive() { ASSERT_EQ(::write(uart.Master(), "r", 1), 1); }
};

TEST_P(UartSlowCountersComPortTest, EachLineErrorReachesTakeLineErrorOnce) {
    Open();
    TSioBaseDispatcher& dispatcher = *port.ActiveDispatcher();
    struct Case {
        uartemu::LineError error;
        int code;
    };
    const Case cases[] = {{uartemu::LineError::Frame, 4},
                          {uartemu::LineError::Parity, 3},
                          {uartemu::LineError::Overrun, 2},
                          {uartemu::LineError::Break, 9},
                          {uartemu::LineError::BufferOverrun, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        uart.Inject(c.error);
        int code = 0;
        // QueueBlock reads the counters too, while the pass that a received
        // byte starts may be doing so.
        ASSERT_TRUE(PumpUntil([&] {
            Receive();
            port.WriteString("e");
            code = dispatcher.TakeLineError();
            return code != 0;
        }));
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(dispatcher.TakeLineBreak(), c.code == 9);
        for (int i = 0; i < 20; ++i) {
            Receive();
            port.WriteString("q");
            PumpPending();
            ASSERT_EQ(dispatcher.TakeLineError(), 0) << "reported twice";
            ASSERT_FALSE(dispatcher.TakeLineBreak()) << "break reported twice";
        }
    }
}

class UartKernelRs485Test : public UartComPortTest {
protected:
    UartKernelRs485Test() : UartComPortTest([](uartemu::PortOptions& options) { options.acceptRs485 = true; }) {}
};

TEST_P(UartKernelRs485Test, TheLayerLeavesRtsToTheDriver) {
    Open();
    port.WriteString(kFrame);
    auto record = Transmitted(26);
    EXPECT_EQ(BytesOf(record), kFrame);
    EXPECT_EQ(CheckDirectionSwitching(record), 1);
    for (const Event& e : record) {
        if (e.kind == EventKind::RtsUp || e.kind == EventKind::RtsDown) {
            EXPECT_TRUE(e.byDriver) << "the layer switched RTS itself";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, UartComPortTest, ::testing::ValuesIn(uartemu::Profiles()), uartemu::ProfileName);
INSTANTIATE_TEST_SUITE_P(Profiles, UartSmallRingTest, ::testing::ValuesIn(uartemu::Profiles()), uartemu::ProfileName);
INSTANTIATE_TEST_SUITE_P(Profiles, UartSlowCountersComPortTest, ::testing::ValuesIn(uartemu::Profiles()), uartemu::ProfileName);
INSTANTIATE_TEST_SUITE_P(Profiles, UartKernelRs485Test, ::testing::ValuesIn(uartemu::Profiles()), uartemu::ProfileName);

}  // namespace
