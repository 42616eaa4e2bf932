#include "dispatcher_test_support.h"

#include "serial/errors/result_codes.h"

#include <chrono>
#include <vector>

using namespace sio;

namespace {

struct Notice {
    unsigned msg;
    WParam count;
    LParam lParam;
};

}  // namespace

TEST_F(DispatcherTest, FullRingStopsReadingUntilAByteIsTaken) {
    Open();
    d->Arrive(Bytes(kDispRingSize + 100));
    ASSERT_TRUE(PumpUntil([&] { return d->DispRingState().Full; }));
    EXPECT_EQ(d->UnreadCount(), kDispRingSize);
    ASSERT_TRUE(LetPassesRun(3));
    EXPECT_EQ(d->PendingInput(), 100u);  // left in the device's own queue

    char b;
    ASSERT_EQ(d->TakeByte(b), 0);
    EXPECT_EQ(b, Bytes(1)[0]);
    ASSERT_TRUE(PumpUntil([&] { return d->PendingInput() == 99u; }));
    EXPECT_EQ(d->UnreadCount(), kDispRingSize);
    EXPECT_EQ(TakeAll(), Bytes(kDispRingSize + 1).substr(1));
}

TEST_F(DispatcherTest, OneNoticePerPassCarriesTheTotalUnreadCount) {
    std::vector<Notice> notices;
    int toTake = 2;
    AddWindow([&](unsigned msg, WParam w, LParam l) {
        notices.push_back({msg, w, l});
        char b;
        for (int i = 0; i < toTake; ++i) ASSERT_EQ(d->TakeByte(b), 0);
    });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("abc");
    ASSERT_TRUE(PumpUntil([&] { return notices.size() == 1; }));
    EXPECT_EQ(notices[0].msg, MsgTriggerAvail);
    EXPECT_EQ(notices[0].count, 3u);
    EXPECT_EQ(notices[0].lParam, static_cast<LParam>(d->Handle()) * 65536);
    ASSERT_TRUE(PumpUntil([&] { return !d->IsDelivering(); }));
    EXPECT_EQ(d->UnreadCount(), 1);

    // The byte left unread is not announced again on its own...
    ASSERT_TRUE(LetPassesRun(3));
    EXPECT_EQ(notices.size(), 1u);

    // ...only with the next arrival, in the new total.
    toTake = 3;
    d->Arrive("de");
    ASSERT_TRUE(PumpUntil([&] { return notices.size() == 2; }));
    EXPECT_EQ(notices[1].count, 3u);
    ASSERT_TRUE(PumpUntil([&] { return !d->IsDelivering(); }));
    EXPECT_EQ(d->UnreadCount(), 0);
}

TEST_F(DispatcherTest, HandlersTakingTwoFiveAndThreeBytesAdvanceTheTailByFive) {
    // The deepest handler is neither the first nor the last, so the tail
    // follows the largest depth, not whichever handler ran last.
    std::string first, second, third;
    auto taker = [&](std::string& into, int n) {
        return [&, n](unsigned, WParam, LParam) {
            char b;
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(d->TakeByte(b), 0);
                into += b;
            }
        };
    };
    AddWindow(taker(first, 2));
    AddWindow(taker(second, 5));
    AddWindow(taker(third, 3));
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("ABCDEFGH");
    ASSERT_TRUE(PumpUntil([&] { return third.size() == 3 && !d->IsDelivering(); }));
    EXPECT_EQ(first, "AB");  // all handlers saw the same bytes
    EXPECT_EQ(second, "ABCDE");
    EXPECT_EQ(third, "ABC");
    EXPECT_EQ(d->UnreadCount(), 3);
    EXPECT_EQ(TakeAll(), "FGH");
}

TEST_F(DispatcherTest, AThresholdOfFourWaitsUntilFourBytesAreUnread) {
    std::vector<WParam> counts;
    AddWindow([&](unsigned, WParam count, LParam) { counts.push_back(count); });
    Open();
    d->SetAvailThreshold(4);
    d->Arrive("ab");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 2; }));
    d->Arrive("c");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 3; }));
    ASSERT_TRUE(LetPassesRun(2));
    EXPECT_TRUE(counts.empty());
    d->Arrive("de");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1; }));
    EXPECT_EQ(counts[0], 5u);
}

TEST_F(DispatcherTest, AReadThatDeliversNothingLeavesAnEmptyRingEmpty) {
    Open();
    d->AnnounceUnreadable(3);
    ASSERT_TRUE(LetPassesRun(3));
    EXPECT_FALSE(d->DispRingState().Full);
    EXPECT_EQ(d->UnreadCount(), 0);
    char b;
    EXPECT_EQ(d->TakeByte(b), ecBufferIsEmpty);
    d->Arrive("ok");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 2; }));
    EXPECT_EQ(TakeAll(), "ok");
}

TEST_F(DispatcherTest, TakingBeyondTheAnnouncedCountFailsWithoutTakingAnything) {
    int failure = 0, unreadInside = -1;
    AddWindow([&](unsigned, WParam count, LParam) {
        char b;
        for (WParam i = 0; i < count; ++i) ASSERT_EQ(d->TakeByte(b), 0);
        unreadInside = d->UnreadCount();
        failure = d->TakeByte(b);
        char peeked;
        EXPECT_EQ(d->PeekByte(peeked, static_cast<int>(count) + 1), ecBufferIsEmpty);
    });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("xyz");
    ASSERT_TRUE(PumpUntil([&] { return failure != 0 && !d->IsDelivering(); }));
    EXPECT_EQ(failure, ecBufferIsEmpty);
    EXPECT_EQ(unreadInside, 0);
    EXPECT_EQ(d->UnreadCount(), 0);
    char b;
    EXPECT_EQ(d->TakeByte(b), ecBufferIsEmpty);
}

TEST_F(DispatcherTest, AWholeRingArrivingAfterADrainedRingIsStillAnnounced) {
    std::vector<WParam> counts;
    AddWindow([&](unsigned, WParam count, LParam) {
        counts.push_back(count);
        char b;
        for (WParam i = 0; i < count; ++i) ASSERT_EQ(d->TakeByte(b), 0);
    });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("0123456789");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1 && !d->IsDelivering(); }));
    // The ring is drained with head = tail = 10; a full turn brings the head
    // back to the same index.
    d->Arrive(Bytes(kDispRingSize));
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts[1], static_cast<WParam>(kDispRingSize));
}

TEST_F(DispatcherTest, DiscardInputDropsUnreadBytesAndPurgesTheDevice) {
    Open();
    d->Arrive("abcdef");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 6; }));
    d->DiscardInput();
    EXPECT_EQ(d->UnreadCount(), 0);
    const auto calls = d->Calls();
    EXPECT_EQ(calls.back(), "Flush 1");
    d->Arrive("g");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 1; }));
    EXPECT_EQ(TakeAll(), "g");
}

TEST_F(DispatcherTest, CloseFromInsideATriggerHandlerIsDeferredAndCompletesLater) {
    int eventsDuringHandler = -1;
    bool deferred = false;
    AddWindow([&](unsigned, WParam, LParam) {
        d->ShutDown();
        deferred = d->IsCloseDeferred();
        eventsDuringHandler = d->EventsOpen();
    });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("!");
    ASSERT_TRUE(PumpUntil([&] { return deferred; }));
    EXPECT_EQ(eventsDuringHandler, 6);  // nothing was released under the handler
    // The dispatch worker finishes the close by itself.
    ASSERT_TRUE(PumpUntil([&] { return d->RunningWorkers() == 0; }));
    EXPECT_FALSE(d->AreWorkersRunning());
    EXPECT_EQ(d->OutputRoom(), 0);  // rings released
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    d.reset();
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);
}

TEST_F(DispatcherTest, DestroyingRightAfterADeferredCloseWaitsForTheWorkerToFinishIt) {
    bool deferred = false;
    AddWindow([&](unsigned, WParam, LParam) {
        d->ShutDown();
        deferred = d->IsCloseDeferred();
    });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("!");
    ASSERT_TRUE(PumpUntil([&] { return deferred; }));
    d.reset();  // the worker may still be releasing
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
}

TEST_F(DispatcherTest, LineErrorsAreCollectedFromErrorEventsAndTakenByPriority) {
    Open();
    d->RaiseLineErrors(CE_RXPARITY | CE_FRAME | CE_BREAK);
    ASSERT_TRUE(PumpUntil([&] { return d->CollectedLineErrors() == (CE_RXPARITY | CE_FRAME | CE_BREAK); }));
    EXPECT_EQ(d->TakeLineError(), 3);  // parity before framing
    EXPECT_EQ(d->TakeLineError(), 9);  // the four error bits went together; break stays
    EXPECT_TRUE(d->TakeLineBreak());
    EXPECT_FALSE(d->TakeLineBreak());
    EXPECT_EQ(d->TakeLineError(), 0);

    d->RaiseLineErrors(CE_OVERRUN | CE_RXOVER);
    ASSERT_TRUE(PumpUntil([&] { return d->CollectedLineErrors() == (CE_OVERRUN | CE_RXOVER); }));
    EXPECT_EQ(d->TakeLineError(), 1);

    d->RaiseLineErrors(CE_OVERRUN | CE_FRAME);
    ASSERT_TRUE(PumpUntil([&] { return d->CollectedLineErrors() == (CE_OVERRUN | CE_FRAME); }));
    EXPECT_EQ(d->TakeLineError(), 2);  // overrun before framing
}

TEST_F(DispatcherTest, AFullRingStillCollectsTheLineErrorsOfAnErrorEvent) {
    // A full ring reads nothing from the device, so the errors must be read
    // on their own then.
    Open();
    d->Arrive(Bytes(kDispRingSize));
    ASSERT_TRUE(PumpUntil([&] { return d->DispRingState().Full; }));
    d->RaiseLineErrors(CE_RXPARITY);
    ASSERT_TRUE(PumpUntil([&] { return d->CollectedLineErrors() == CE_RXPARITY; }));
    EXPECT_EQ(d->TakeLineError(), 3);
    EXPECT_EQ(TakeAll(), Bytes(kDispRingSize));
}

TEST_F(DispatcherTest, ModemLinesAndTheRingLatchAreReported) {
    Open();
    d->SetModemLines(MS_CTS_ON | MS_RLSD_ON);
    ASSERT_TRUE(LetPassesRun(1));
    EXPECT_EQ(d->ModemStatus() & 0xF0, MS_CTS_ON | MS_RLSD_ON);
}

// An idle port must not wake the machine twenty times a second, yet bytes
// left unread (which raise no further device event) are looked at every
// tick. Waits out real periods; the bounds are far from both tick rates.
TEST_F(DispatcherTest, AQuietPortIsPassedOverOnceASecondAndUnreadBytesKeepTheTick) {
    using namespace std::chrono;
    auto passesDuring = [&](milliseconds period) {
        const int before = d->PassCount();
        const auto end = steady_clock::now() + period;
        PumpUntil([&] { return steady_clock::now() >= end; });
        return d->PassCount() - before;
    };
    Open();
    ASSERT_TRUE(LetPassesRun(1));
    EXPECT_LE(passesDuring(milliseconds(1500)), 3);

    d->Arrive("x");
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == 1; }));
    EXPECT_GE(passesDuring(milliseconds(500)), 5);
}

TEST_F(DispatcherTest, AVanishedDeviceEndsTheEventWorkerWithoutSpinning) {
    Open();
    d->Vanish();
    ASSERT_TRUE(PumpUntil([&] { return d->RunningWorkers() == 2; }));
    const int waits = d->WaitEventCalls();
    ASSERT_TRUE(LetPassesRun(3));  // the dispatch worker's ticks carry on
    EXPECT_EQ(d->WaitEventCalls(), waits);
    d->ShutDown();
    EXPECT_EQ(d->RunningWorkers(), 0);
}

TEST_F(DispatcherTest, EventHandlersSeeTheNoticeAndSynchronisedOnesRunOnTheOwnerThread) {
    std::vector<std::thread::id> threads;
    std::mutex m;
    auto record = [&](unsigned, WParam, LParam) {
        std::lock_guard lock(m);
        threads.push_back(std::this_thread::get_id());
    };
    d->AddEventHandler(record, true);
    d->AddProcHandler(record);
    Open();
    d->SetAvailThreshold(1);
    d->Arrive("a");
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(m);
        return threads.size() == 2;
    }));
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    EXPECT_NE(threads[1], std::this_thread::get_id());
}

TEST_F(DispatcherTest, TakingAheadAcrossTheRingsEndAndGivingBackPartOfIt) {
    std::string ahead;
    bool returned = false;
    AddWindow([&](unsigned, WParam, LParam) {
        char out[16];
        std::uint64_t delivery = 0;
        const int n = d->TakeBytes(out, 16, delivery);
        ASSERT_GT(n, 0);
        ahead.assign(out, static_cast<std::size_t>(n));
        returned = d->ReturnBytes(4, delivery);  // used only the first two
    });
    Open();
    // Moves the ring's head and tail to four bytes before its end.
    d->Arrive(Bytes(kDispRingSize - 4));
    ASSERT_TRUE(PumpUntil([&] { return d->UnreadCount() == kDispRingSize - 4; }));
    ASSERT_EQ(TakeAll().size(), static_cast<std::size_t>(kDispRingSize - 4));

    d->SetAvailThreshold(1);
    d->Arrive("PQRSTU");
    ASSERT_TRUE(PumpUntil([&] { return returned && !d->IsDelivering(); }));
    EXPECT_EQ(ahead, "PQRSTU");
    EXPECT_EQ(d->UnreadCount(), 4);
    EXPECT_EQ(TakeAll(), "RSTU");
}

TEST_F(DispatcherTest, AFullRingThatNoHandlerReadsStaysFull) {
    int notices = 0;
    AddWindow([&](unsigned, WParam, LParam) { ++notices; });
    Open();
    d->SetAvailThreshold(1);
    d->Arrive(Bytes(kDispRingSize));
    ASSERT_TRUE(PumpUntil([&] { return notices == 1 && !d->IsDelivering(); }));
    EXPECT_TRUE(d->DispRingState().Full);
    EXPECT_EQ(d->UnreadCount(), kDispRingSize);
    EXPECT_EQ(TakeAll(), Bytes(kDispRingSize));
}
