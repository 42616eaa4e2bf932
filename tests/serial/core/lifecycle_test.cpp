#include "dispatcher_test_support.h"
#include "settled_count.h"

#include "serial/errors/errors.h"
#include "serial/core/port_list.h"
#include "serial/errors/result_codes.h"

#include <algorithm>

using namespace sio;

namespace {

std::size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

}  // namespace

TEST_F(DispatcherTest, ASecondStartRaisesDispatcherAlreadyStarted) {
    Open();
    try {
        d->StartWorkers();
        FAIL() << "no exception";
    } catch (const ESioException&) {
        FAIL() << "must be the plain exception class";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Dispatcher already started");
    }
    EXPECT_EQ(d->RunningWorkers(), 3);
}

TEST_F(DispatcherTest, OpenAndCloseDriveTheDeviceInTheDesignedOrder) {
    Open(64, optDtrLevel);
    EXPECT_EQ(d->RunningWorkers(), 3);
    auto calls = d->Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], std::string("Open ") + kPort);
    EXPECT_EQ(calls[1], "SetupQueues");
    EXPECT_EQ(calls[2], "Escape 5");  // DTR raised
    EXPECT_EQ(calls[3], "Escape 4");  // RTS lowered

    d->ShutDown();
    calls = d->Calls();
    const auto flushOut = IndexOf(calls, "Flush 0"), flushIn = IndexOf(calls, "Flush 1"),
               close = IndexOf(calls, "CloseHandle");
    ASSERT_LT(close, calls.size());
    EXPECT_LT(flushOut, flushIn);
    EXPECT_LT(flushIn, close);
    EXPECT_EQ(d->RunningWorkers(), 0);
    EXPECT_EQ(d->EventsOpen(), 0);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
}

TEST_F(DispatcherTest, FailedOpensLeaveNothingBehind) {
    const int events = SyncEvent::LiveCount();
    for (int port = 1; port <= 12; ++port) {
        FakeDispatcher absent;
        absent.SetOpenResult(-ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(absent.OpenAndStart("\\\\.\\COM" + std::to_string(port), 9600, 0, 8, 1, 40960, 40960, 1),
                  -ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(absent.EventsOpen(), 0);
        EXPECT_EQ(absent.RunningWorkers(), 0);
    }
    FakeDispatcher broken;
    broken.SetSetupResult(-ERROR_ACCESS_DENIED);
    EXPECT_EQ(broken.OpenAndStart(kPort, 9600, 0, 8, 1, 40960, 40960, 1), -ERROR_ACCESS_DENIED);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    // With no output worker the purge still takes the transmit side.
    const auto calls = broken.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "Flush 0"), calls.end());
    EXPECT_EQ(SyncEvent::LiveCount(), events);
}

TEST_F(DispatcherTest, AThousandOpenShutdownCyclesLeaveNoThreadEventOrDescriptor) {
    // One cycle first, so helper threads a runtime starts once (the thread
    // sanitizer has one) are part of the baseline.
    Open();
    d.reset();
    const int threads = test::CountProcEntries("task");
    const int descriptors = test::CountProcEntries("fd");
    const int events = SyncEvent::LiveCount();
    for (int i = 0; i < 1000; ++i) {
        FakeDispatcher cycle;
        ASSERT_EQ(cycle.OpenAndStart(kPort, 9600, 0, 8, 1, 40960, 40960, 1), 0);
        if (i % 100 == 0) {
            ASSERT_EQ(cycle.QueueBlock("x", 1), 0);
        }
        cycle.ShutDown();
    }
    EXPECT_LE(test::CountOnceSettled("task", threads), threads);
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors);
    EXPECT_EQ(SyncEvent::LiveCount(), events);
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
}

TEST_F(DispatcherTest, DestroyingAnOpenDispatcherShutsItDown) {
    Open();
    d->Arrive("pending");
    d.reset();
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
}

TEST_F(DispatcherTest, ShutdownWhileAWorkerWaitsForTheOwnerCompletes) {
    // The handler runs only when the owner pumps; the owner is busy shutting
    // down, and its wait pumps, so the delivery completes and the close too.
    bool handled = false;
    AddWindow([&](unsigned, WParam, LParam) { handled = true; });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("q");
    ASSERT_TRUE(link.WaitForQueuedMessage());
    EXPECT_TRUE(d->IsDelivering());
    d->ShutDown();
    d.reset();
    EXPECT_TRUE(handled);
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);
}

TEST(PortList, ANewDispatcherTakesTheFirstEmptySlotAndTrailingSlotsGo) {
    FakeOwnerLink link;
    const int before = PortListSize();
    auto a = std::make_unique<FakeDispatcher>();
    auto b = std::make_unique<FakeDispatcher>();
    auto c = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(b->Handle(), a->Handle() + 1);
    const int bHandle = b->Handle();
    b.reset();
    auto e = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(e->Handle(), bHandle);
    {
        std::lock_guard lock(PortListLock());
        EXPECT_EQ(PortListAt(bHandle), e.get());
    }
    c.reset();
    e.reset();
    a.reset();
    EXPECT_EQ(PortListSize(), before);
}
