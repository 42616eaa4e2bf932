#include "serial/core/sync_event.h"

#include <gtest/gtest.h>

#include <thread>

using sio::SyncEvent;

TEST(SyncEvent, AnAutoResetEventReleasesOneWait) {
    SyncEvent event(SyncEvent::ResetMode::Auto);
    EXPECT_FALSE(event.TryWait());
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(SyncEvent, AManualResetEventStaysSignalledUntilReset) {
    SyncEvent event(SyncEvent::ResetMode::Manual);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(1));
}

TEST(SyncEvent, WaitEitherTellsWhichEventReleasedIt) {
    SyncEvent a(SyncEvent::ResetMode::Auto), b(SyncEvent::ResetMode::Auto);
    EXPECT_EQ(SyncEvent::WaitEither(a, b, 1), -1);
    b.Set();
    EXPECT_EQ(SyncEvent::WaitEither(a, b, 0), 1);
    a.Set();
    b.Set();
    EXPECT_EQ(SyncEvent::WaitEither(a, b, 0), 0);  // the first wins
    EXPECT_EQ(SyncEvent::WaitEither(a, b, 0), 1);
}

TEST(SyncEvent, ASetFromAnotherThreadWakesAnEndlessWait) {
    SyncEvent a(SyncEvent::ResetMode::Auto), b(SyncEvent::ResetMode::Auto), started(SyncEvent::ResetMode::Manual);
    int which = -2;
    std::thread waiter([&] {
        started.Set();
        which = SyncEvent::WaitEither(a, b, sio::kInfinite);
    });
    ASSERT_TRUE(started.Wait(sio::kInfinite));
    b.Set();
    waiter.join();
    EXPECT_EQ(which, 1);
}
