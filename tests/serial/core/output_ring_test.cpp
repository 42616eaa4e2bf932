#include "dispatcher_test_support.h"

#include "serial/errors/result_codes.h"

#include <cstdio>
#include <fstream>

using namespace sio;
using WriteMode = FakeDispatcher::WriteMode;

TEST_F(DispatcherTest, QueueingExactlyTheRoomFillsTheRingAndOneMoreIsRefused) {
    Open(16);
    d->SetWriteMode(WriteMode::Stall);
    const std::string block = Bytes(16);
    ASSERT_EQ(d->QueueBlock(block.data(), 16), 0);
    EXPECT_TRUE(d->OutRingState().Full);
    COMSTAT status;
    d->DeviceReadErrors(status);
    EXPECT_EQ(status.cbOutQue, 16u);
    EXPECT_EQ(d->OutputRoom(), 0);

    EXPECT_EQ(d->QueueBlock("x", 1), ecOutputBufferTooSmall);
    EXPECT_EQ(d->OutputQueued(), 16);

    d->SetWriteMode(WriteMode::Accept);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputQueued() == 0; }));
    EXPECT_EQ(d->Written(), block);
    const auto ring = d->OutRingState();
    EXPECT_EQ(ring.Head, 0);
    EXPECT_EQ(ring.Tail, 0);
    EXPECT_FALSE(ring.Full);
}

TEST_F(DispatcherTest, WrappedAndFullOutputLeavesAsOneRunInQueueOrder) {
    Open(16);
    const std::string first = Bytes(12, 0), second = Bytes(14, 100);
    // The device takes ten bytes, then stalls: tail 10, head 12.
    d->SetWriteMode(WriteMode::Budget, 10);
    ASSERT_EQ(d->QueueBlock(first.data(), 12), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->WaitWritableCalls() >= 1; }));
    // Fourteen more wrap past the end and fill the ring.
    ASSERT_EQ(d->QueueBlock(second.data(), 14), 0);
    ASSERT_TRUE(d->OutRingState().Full);

    d->SetWriteMode(WriteMode::Accept);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputQueued() == 0; }));
    const std::string waiting = first.substr(10) + second;
    EXPECT_EQ(d->OfferedRuns().back(), waiting);  // rotated and sent in one write
    EXPECT_EQ(d->Written(), first + second);
}

TEST_F(DispatcherTest, WrappedOutputCountsTheBytesOnBothSidesOfTheEnd) {
    Open(16);
    const std::string first = Bytes(12, 0), second = Bytes(8, 100);
    // The device takes ten bytes, then stalls: tail 10, head 12.
    d->SetWriteMode(WriteMode::Budget, 10);
    ASSERT_EQ(d->QueueBlock(first.data(), 12), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->WaitWritableCalls() >= 1; }));
    // Eight more wrap past the end: two before the tail, four after the head.
    ASSERT_EQ(d->QueueBlock(second.data(), 8), 0);
    ASSERT_FALSE(d->OutRingState().Full);
    EXPECT_EQ(d->OutputQueued(), 10);
    EXPECT_EQ(d->OutputRoom(), 6);
    COMSTAT status;
    d->DeviceReadErrors(status);
    EXPECT_EQ(status.cbOutQue, 10u);

    d->SetWriteMode(WriteMode::Accept);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputQueued() == 0; }));
    EXPECT_EQ(d->Written(), first + second);
}

TEST_F(DispatcherTest, PartialWritesAreAccountedExactlyAndNeverSentTwice) {
    Open(32);
    d->SetWriteMode(WriteMode::Partial, 3);
    const std::string a = Bytes(20, 0), b = Bytes(25, 50);
    ASSERT_EQ(d->QueueBlock(a.data(), 20), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputRoom() >= 25; }));
    ASSERT_EQ(d->QueueBlock(b.data(), 25), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->Written().size() >= 45 && d->OutputQueued() == 0; }));
    EXPECT_EQ(d->Written(), a + b);
}

TEST_F(DispatcherTest, AFailedWriteDropsItsRunAndLaterBytesGoOut) {
    Open();
    d->SetWriteMode(WriteMode::Fail);
    ASSERT_EQ(d->QueueBlock("lost", 4), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputQueued() == 0; }));
    d->SetWriteMode(WriteMode::Accept);
    ASSERT_EQ(d->QueueBlock("sent", 4), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->Written() == "sent"; }));
}

TEST_F(DispatcherTest, PurgingDuringAStalledWriteEmptiesTheRingAndStartsAgainAtZero) {
    Open();
    d->SetWriteMode(WriteMode::Stall);
    ASSERT_EQ(d->QueueBlock("stale", 5), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->WaitWritableCalls() >= 1; }));
    d->DiscardOutput();
    EXPECT_EQ(d->Calls().back(), "Flush 0");
    EXPECT_EQ(d->OutputQueued(), 0);

    d->SetWriteMode(WriteMode::Accept);
    ASSERT_EQ(d->QueueBlock("fresh", 5), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->OutputQueued() == 0; }));
    EXPECT_EQ(d->Written(), "fresh");
}

TEST_F(DispatcherTest, ShutdownWithAStalledDeviceDoesNotHang) {
    Open();
    d->SetWriteMode(WriteMode::Stall);
    ASSERT_EQ(d->QueueBlock("never", 5), 0);
    ASSERT_TRUE(PumpUntil([&] { return d->WaitWritableCalls() >= 1; }));
    d->ShutDown();
    EXPECT_EQ(d->RunningWorkers(), 0);
    EXPECT_EQ(d->Written(), "");
}

TEST_F(DispatcherTest, QueueingAfterShutdownIsRefused) {
    Open();
    d->ShutDown();
    EXPECT_EQ(d->QueueBlock("late", 4), ecCommNotOpen);
    EXPECT_EQ(d->QueueBlock("", 0), 0);
}

TEST_F(DispatcherTest, TraceAndLogRecordBothDirections) {
    Open();
    d->SwitchTrace(tlOn, 100);
    d->SwitchLog(tlOn, 1000);
    ASSERT_EQ(d->QueueBlock("T1", 2), 0);
    d->Arrive("R");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 1; }));
    char b;
    ASSERT_EQ(d->TakeByte(b), 0);
    EXPECT_EQ(d->TraceEntries(), (std::vector<std::string>{"TT", "T1", "RR"}));
    const auto blocks = d->LogBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].Kind, 'T');
    EXPECT_EQ(blocks[0].Data, "T1");
    EXPECT_EQ(blocks[1].Kind, 'R');
    EXPECT_EQ(blocks[1].Data, "R");

    const std::string file = ::testing::TempDir() + "serial_trace_dump.txt";
    DumpOptions dump;
    dump.FileName = file;
    ASSERT_EQ(d->SwitchTrace(tlDump, 0, dump), 0);
    EXPECT_TRUE(d->TraceEntries().empty());  // a dump switches the trace off
    std::ifstream in(file);
    std::string header, entries;
    std::getline(in, header);
    std::getline(in, entries);
    EXPECT_EQ(header, "Trace, 3 entries");
    EXPECT_EQ(entries, "T:T T:1 R:R");
    std::remove(file.c_str());
}
