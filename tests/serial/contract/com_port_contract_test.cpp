// The serial port component on the real path, on every backend: the device
// layer under test on a line linked as a COM number, the workers, and
// OnTrigger on this thread's event loop.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "com_port_test_support.h"
#include "line_backend.h"
#include "port_dir.h"
#include "settled_count.h"
#include "serial/errors/result_codes.h"

namespace sio::contract {
namespace {

using test::CountProcEntries;
using test::ResidentKiB;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

char PatternByte(std::size_t i) { return static_cast<char>((i * 131 + (i >> 9)) & 0xFF); }

class ComPortContract : public ::testing::TestWithParam<Backend> {
protected:
    ComPortContract() {
        EnsureEventLoop();
        line = GetParam().open(3, ports.path());
        port.SetComNumber(3);
        port.SetAutoOpen(false);
        port.SetBaud(9600);
        port.SetInSize(40960);
        port.SetOutSize(40960);
        // The program's port runs in RS-485 mode, where the line allows it.
        port.SetRS485Mode(GetParam().can.rs485Toggle);
    }
    ~ComPortContract() override {
        port.SetOnTrigger({});
        port.SetOpen(false);
        PumpUntil([&] { return port.Phase() == phClosed; });
    }

    // OnTrigger takes every announced byte into `arrived`, as the program does.
    void CollectReceived() {
        port.SetOnTrigger([this](TSioCustomComPort* cp, Word msg, Word, Word data) {
            if (msg != MsgTriggerAvail) return;
            for (int i = 0; i < data; ++i) arrived += cp->ReadChar();
        });
    }

    // Every worker of every closed port has left.
    static bool NoWorkers() { return TSioDispatcherThread::LiveCount() == 0; }

    test::ScopedPortDir ports;
    std::unique_ptr<Line> line;
    std::string arrived;
    TSioComPort port;
};

TEST_P(ComPortContract, BytesCrossInBothDirectionsZeroIncluded) {
    CollectReceived();
    port.SetOpen(true);
    ASSERT_EQ(port.Phase(), phOpen);

    const std::string frame("\xAA\x20\x15\x00\x01\x03", 6);
    port.WriteString(frame);
    EXPECT_EQ(line->Receive(frame.size()), frame);

    const std::string reply("\x02\x00\x06", 3);
    ASSERT_TRUE(line->Send(reply));
    ASSERT_TRUE(PumpUntil([&] { return arrived.size() >= reply.size(); }));
    EXPECT_EQ(arrived, reply);
}

TEST_P(ComPortContract, AHeldPortAndAnAbsentPortFailToOpenAndLeaveTheComponentClosed) {
    auto other = GetParam().open(4, ports.path());  // outlives the port that opens it
    port.SetOpen(true);
    TSioComPort second;
    second.SetComNumber(3);
    second.SetAutoOpen(false);
    if (GetParam().can.exclusiveOpen) {
        ExpectRaised<EAlreadyOpen>([&] { second.SetOpen(true); }, ecAlreadyOpen, "ie_Open - device already open");
        EXPECT_FALSE(second.Open());
        EXPECT_EQ(second.ActiveDispatcher(), nullptr);
    }

    second.SetComNumber(9);  // no link: no such port
    ExpectRaised<EBadId>([&] { second.SetOpen(true); }, ecBadId, "ie_BadId - Specified comport doesn't exist");
    EXPECT_FALSE(second.Open());

    second.SetComNumber(4);
    second.SetOpen(true);
    EXPECT_EQ(second.Phase(), phOpen);
}

// The adapter is unplugged while the port is open and plugged in again.
TEST_P(ComPortContract, AfterAHangUpTheLineComesBackAndThePortOpensOnIt) {
    CollectReceived();
    port.SetOpen(true);
    line->HangUp();
    port.SetOpen(false);
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));

    line->Reopen();
    port.SetOpen(true);
    ASSERT_EQ(port.Phase(), phOpen);
    port.WriteString("\x02");
    EXPECT_EQ(line->Receive(1), "\x02");
    ASSERT_TRUE(line->Send("\x06"));
    ASSERT_TRUE(PumpUntil([&] { return !arrived.empty(); }));
    EXPECT_EQ(arrived, "\x06");
}

TEST_P(ComPortContract, AThousandOpenCloseCyclesLeaveNoDescriptorOrThread) {
    port.SetOnTrigger([](TSioCustomComPort*, Word, Word, Word) {});
    port.SetOpen(true);  // warm up: the first open sets up process-wide state
    port.SetOpen(false);
    ASSERT_TRUE(PumpUntil(NoWorkers));
    const int fds = CountProcEntries("fd");
    const int threads = CountProcEntries("task");
    for (int i = 0; i < 1000; ++i) {
        port.SetOpen(true);
        ASSERT_EQ(port.Phase(), phOpen) << "cycle " << i;
        port.SetOpen(false);
        ASSERT_EQ(port.Phase(), phClosed) << "cycle " << i;
    }
    ASSERT_TRUE(PumpUntil(NoWorkers));
    EXPECT_LE(test::CountOnceSettled("fd", fds), fds);
    EXPECT_LE(test::CountOnceSettled("task", threads), threads);
}

// 16 MiB taken byte by byte inside the handler arrive whole and in order,
// and the port leaves nothing behind once closed.
TEST_P(ComPortContract, AFloodArrivesWholeAndInOrderAndLeavesNothingBehind) {
    REQUIRE_CAPABILITY(bulkTransfer, "16 MiB at the line's baud rate take hours");
    constexpr std::size_t kFlood = 16u << 20;
    std::string data(kFlood, '\0');
    for (std::size_t i = 0; i < kFlood; ++i) data[i] = PatternByte(i);

    std::size_t received = 0;
    std::size_t firstWrong = kFlood;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word count) {
        if (msg != MsgTriggerAvail) return;
        for (int i = 0; i < count; ++i, ++received) {
            if (cp->ReadChar() != PatternByte(received) && firstWrong == kFlood) firstWrong = received;
        }
    });
    port.SetOpen(true);
    port.SetOpen(false);
    ASSERT_TRUE(PumpUntil(NoWorkers));
    const int fds = CountProcEntries("fd");
    const int threads = CountProcEntries("task");
    const long resident = ResidentKiB();

    port.SetOpen(true);
    bool written = false;
    std::thread writer([&] { written = line->Send(data); });
    const bool all = PumpUntil([&] { return received >= kFlood; }, 240000);
    writer.join();
    EXPECT_TRUE(written);
    ASSERT_TRUE(all) << received << " of " << kFlood << " bytes";
    EXPECT_EQ(received, kFlood);
    EXPECT_EQ(firstWrong, kFlood) << "first wrong byte";

    port.SetOpen(false);
    ASSERT_TRUE(PumpUntil(NoWorkers));
    EXPECT_LE(test::CountOnceSettled("fd", fds), fds);
    EXPECT_LE(test::CountOnceSettled("task", threads), threads);
    if (!kSanitized) {
        EXPECT_LT(ResidentKiB() - resident, 4096) << "KiB grown";
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ComPortContract, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace sio::contract
