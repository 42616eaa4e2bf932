// The dispatcher core with its three workers over the device layer under
// test, on every backend: what the far end of the line sees.
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "line_backend.h"
#include "port_dir.h"
#include "settled_count.h"
#include "serial/errors/result_codes.h"

namespace sio::contract {
namespace {

using namespace std::chrono_literals;

constexpr int kQueueSize = 40960;  // the main window's port

double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Collects received bytes the way the program's trigger handler does: on
// each data-available notice it takes the announced count.
class Receiver {
public:
    void Attach(TSioBaseDispatcher& dispatcher) {
        dispatcher.AddProcHandler([this, &dispatcher](unsigned msg, WParam count, LParam) {
            if (msg != MsgTriggerAvail)
                return;
            std::string bytes;
            char byte = 0;
            for (WParam i = 0; i < count && dispatcher.TakeByte(byte) == 0; ++i)
                bytes.push_back(byte);
            std::lock_guard lock(mutex_);
            received_ += bytes;
            changed_.notify_all();
        });
    }

    // The bytes once `size` arrived, or what came before the patience ran out.
    std::string WaitFor(std::size_t size) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(test::kPatienceMilliseconds),
                          [&] { return received_.size() >= size; });
        return received_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string received_;
};

class DispatcherContract : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override { line_ = GetParam().open(3, ports_.path()); }

    // Opens COM3 at 9600 8N1 with DTR on, as the main window does.
    int Open(int baud = 9600, int stopBits = 1) {
        dispatcher_ = MakeDeviceLayer();
        receiver_.Attach(*dispatcher_);
        int result = dispatcher_->OpenAndStart(ComName(3), baud, 0, 8, stopBits, kQueueSize, kQueueSize, optDtrLevel);
        dispatcher_->SetAvailThreshold(1);
        return result;
    }

    // Queues everything, waiting for room in the output ring as it drains.
    bool Send(const std::string& data) {
        std::size_t done = 0;
        auto giveUp = std::chrono::steady_clock::now() + 30s;
        while (done < data.size()) {
            int room = dispatcher_->OutputRoom();
            if (room == 0) {
                if (std::chrono::steady_clock::now() > giveUp)
                    return false;
                std::this_thread::sleep_for(1ms);  // the output worker drains the ring
                continue;
            }
            int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(room), data.size() - done));
            if (dispatcher_->QueueBlock(data.data() + done, n) != 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // One open/close cycle, so that counts taken afterwards do not see
    // threads a runtime starts once (ThreadSanitizer's background thread).
    void WarmUp() {
        auto dispatcher = MakeDeviceLayer();
        ASSERT_EQ(dispatcher->OpenAndStart(ComName(3), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0), 0);
    }

    test::ScopedPortDir ports_;
    std::unique_ptr<Line> line_;
    Receiver receiver_;
    std::unique_ptr<TSioBaseDispatcher> dispatcher_;
};

TEST_P(DispatcherContract, BytesTravelBothWaysIntactZerosIncluded) {
    REQUIRE_CAPABILITY(rawWithoutSoftwareFlow, "XON and XOFF from the far end are taken by the line");
    ASSERT_EQ(Open(), 0);
    const std::string data = Pattern(1024);
    ASSERT_TRUE(Send(data));
    EXPECT_EQ(line_->Receive(data.size()), data);
    ASSERT_TRUE(line_->Send(data));
    EXPECT_EQ(receiver_.WaitFor(data.size()), data);
}

TEST_P(DispatcherContract, OneMebibyteEachWay) {
    REQUIRE_CAPABILITY(bulkTransfer, "a mebibyte at the line's baud rate takes many minutes");
    REQUIRE_CAPABILITY(rawWithoutSoftwareFlow, "XON and XOFF from the far end are taken by the line");
    ASSERT_EQ(Open(), 0);
    const std::string data = Pattern(1 << 20);
    auto atFarEnd = std::async(std::launch::async, [&] { return line_->Receive(data.size()); });
    EXPECT_TRUE(Send(data));
    EXPECT_TRUE(atFarEnd.get() == data);

    auto fromFarEnd = std::async(std::launch::async, [&] { return line_->Send(data); });
    std::string received = receiver_.WaitFor(data.size());
    EXPECT_TRUE(fromFarEnd.get());
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST_P(DispatcherContract, OpenFailuresCarryWindowsErrorNumbersAndLeaveNothingBehind) {
    WarmUp();
    int descriptors = test::CountProcEntries("fd");
    int threads = test::CountProcEntries("task");
    {
        auto unlinked = MakeDeviceLayer();
        EXPECT_EQ(unlinked->OpenAndStart(ComName(4), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0),
                  -ERROR_FILE_NOT_FOUND);
    }
    ASSERT_EQ(Open(), 0);
    if (GetParam().can.exclusiveOpen) {
        auto second = MakeDeviceLayer();
        EXPECT_EQ(second->OpenAndStart(ComName(3), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0),
                  -ERROR_ACCESS_DENIED);
    }
    dispatcher_.reset();
    EXPECT_LE(test::CountOnceSettled("fd", descriptors), descriptors);
    EXPECT_LE(test::CountOnceSettled("task", threads), threads);
}

TEST_P(DispatcherContract, LineSettingsReachTheDevice) {
    REQUIRE_CAPABILITY(farEndSettings, "the far end cannot read the line settings");
    ASSERT_EQ(Open(19200, 2), 0);
    auto view = line_->Settings();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->baud, 19200);
    EXPECT_EQ(view->stopBits, 2);
    EXPECT_FALSE(view->rtsCts);

    ASSERT_EQ(dispatcher_->ApplyHardwareFlow(35748, 10240, kHwFlowUseRts | kHwFlowRequireCts), 0);
    view = line_->Settings();
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->rtsCts);
    ASSERT_EQ(dispatcher_->ApplySoftwareFlow(35748, 10240, kSwFlowTransmit | kSwFlowReceive), 0);
    view = line_->Settings();
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->ixon);
    EXPECT_TRUE(view->ixoff);
    EXPECT_EQ(view->xon, 0x11);
    EXPECT_EQ(view->xoff, 0x13);
}

TEST_P(DispatcherContract, PurgeReachesTheDevice) {
    REQUIRE_CAPABILITY(farEndSeesPurges, "the far end cannot see purges");
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(line_->WatchPurges());
    dispatcher_->DiscardInput();
    std::string packet = line_->Receive(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & 1);  // TIOCPKT_FLUSHREAD
    dispatcher_->DiscardOutput();
    packet = line_->Receive(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & 2);  // TIOCPKT_FLUSHWRITE
}

TEST_P(DispatcherContract, HangUpCostsNoProcessorAndThePortStillCloses) {
    int descriptors = test::CountProcEntries("fd");
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(Send("queued before the hang-up"));
    line_->HangUp();
    // Bytes queued while the device is gone are dropped, not retried for ever.
    ASSERT_TRUE(Send(Pattern(4096)));

    double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(1s);  // one second of hang-up, measured
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1);

    dispatcher_->ShutDown();
    dispatcher_.reset();
    const int afterHangUp = descriptors - GetParam().can.descriptorsClosedByHangUp;
    EXPECT_LE(test::CountOnceSettled("fd", afterHangUp), afterHangUp);
}

TEST_P(DispatcherContract, ThousandOpenCloseCyclesLeaveDescriptorsAndThreadsAsTheyWere) {
    WarmUp();
    int descriptors = test::CountProcEntries("fd");
    int threads = test::CountProcEntries("task");
    for (int cycle = 0; cycle < 1000; ++cycle) {
        auto dispatcher = MakeDeviceLayer();
        ASSERT_EQ(dispatcher->OpenAndStart(ComName(3), 9600, 0, 8, 1, kQueueSize, kQueueSize, optDtrLevel), 0)
            << cycle;
        dispatcher->ShutDown();
    }
    EXPECT_LE(test::CountOnceSettled("fd", descriptors), descriptors);
    EXPECT_LE(test::CountOnceSettled("task", threads), threads);
}

INSTANTIATE_TEST_SUITE_P(Backends, DispatcherContract, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace sio::contract
