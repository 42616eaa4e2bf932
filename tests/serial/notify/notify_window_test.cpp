#include "serial/notify/notify_window.h"

#include "fake_device.h"
#include "serial/core/dispatcher.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace sio;

namespace {

class NotifyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "serial_notify_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
    void SetUp() override { InstallQtMessageLink(); }
    void TearDown() override { UninstallQtMessageLink(); }

    // Handles events until done() holds (a guard against hangs, not a delay).
    static bool PumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            CurrentMessageLink().PumpOnce();
            std::this_thread::yield();
        }
        return true;
    }
};

}  // namespace

TEST_F(NotifyTest, ASendFromAWorkerRunsTheProcedureOnTheWindowsThreadAndWaitsForIt) {
    std::thread::id ranOn;
    std::atomic<bool> ran{false};
    const WindowHandle window = CreateNotifyWindow([&](unsigned msg, WParam w, LParam l) -> LParam {
        EXPECT_EQ(msg, MsgTriggerAvail);
        EXPECT_EQ(w, 3u);
        EXPECT_EQ(l, 2 * 65536);
        ranOn = std::this_thread::get_id();
        ran = true;
        return 0;
    });
    auto sent = std::async(std::launch::async, [&] {
        return CurrentMessageLink().SendMessageTimeout(window, MsgTriggerAvail, 3, 2 * 65536, 60000);
    });
    ASSERT_TRUE(PumpUntil([&] { return ran.load(); }));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    DestroyNotifyWindow(window);
}

TEST_F(NotifyTest, ASendThatTimedOutIsAbandonedAndDoesNothingLater) {
    std::atomic<int> runs{0};
    const WindowHandle window = CreateNotifyWindow([&](unsigned, WParam, LParam) -> LParam {
        ++runs;
        return 0;
    });
    // Nobody handles events while the worker waits.
    std::thread worker([&] { EXPECT_FALSE(CurrentMessageLink().SendMessageTimeout(window, 1, 0, 0, 20)); });
    worker.join();
    CurrentMessageLink().PumpOnce();
    EXPECT_EQ(runs, 0);
    DestroyNotifyWindow(window);
}

TEST_F(NotifyTest, DestroyingAWindowReleasesASenderWaitingForIt) {
    const WindowHandle window = CreateNotifyWindow([](unsigned, WParam, LParam) -> LParam { return 0; });
    std::promise<void> posting;
    auto sent = std::async(std::launch::async, [&] {
        posting.set_value();
        return CurrentMessageLink().SendMessageTimeout(window, 1, 0, 0, 600000);
    });
    posting.get_future().wait();
    DestroyNotifyWindow(window);
    EXPECT_FALSE(sent.get());  // returns without the ten-minute wait
}

TEST_F(NotifyTest, StaleHandlesAreRefused) {
    const WindowHandle window = CreateNotifyWindow({});
    DestroyNotifyWindow(window);
    EXPECT_FALSE(IsNotifyWindow(window));
    EXPECT_FALSE(CurrentMessageLink().PostMessage(window, 1, 0, 0));
    EXPECT_FALSE(CurrentMessageLink().SendMessageTimeout(window, 1, 0, 0, 3000));
    const WindowHandle next = CreateNotifyWindow({});
    EXPECT_NE(next, window);  // ids are not reused
    DestroyNotifyWindow(next);
}

TEST_F(NotifyTest, PostedMessagesRunWhenTheQueueIsPumpedAndSameThreadSendsRunAtOnce) {
    std::vector<unsigned> seen;
    const WindowHandle window = CreateNotifyWindow([&](unsigned msg, WParam, LParam) -> LParam {
        seen.push_back(msg);
        return 0;
    });
    ASSERT_TRUE(CurrentMessageLink().PostMessage(window, MsgPortClosing, 0, 0));
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(CurrentMessageLink().SendMessageTimeout(window, MsgTriggerAvail, 1, 0, 3000));
    EXPECT_EQ(seen, std::vector<unsigned>{MsgTriggerAvail});
    CurrentMessageLink().PumpOnce();
    EXPECT_EQ(seen, (std::vector<unsigned>{MsgTriggerAvail, MsgPortClosing}));
    DestroyNotifyWindow(window);
}

TEST_F(NotifyTest, RunOnOwnerThreadRunsTheCallThereAndWaits) {
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        CurrentMessageLink().RunOnOwnerThread([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(NotifyTest, ADispatcherDeliversDataAvailableToAHiddenWindow) {
    auto d = std::make_unique<FakeDispatcher>();
    std::string received;
    const WindowHandle window = CreateNotifyWindow([&](unsigned msg, WParam count, LParam) -> LParam {
        if (msg != MsgTriggerAvail) return 0;
        char b;
        for (WParam i = 0; i < count; ++i)
            if (d->TakeByte(b) == 0) received += b;
        return 0;
    });
    d->AddWindowHandler(window);
    d->UpdateServiceFlags(1);
    ASSERT_EQ(d->OpenAndStart("\\\\.\\COM1", 9600, 0, 8, 1, 40960, 40960, optDtrLevel), 0);
    d->SetAvailThreshold(1);
    d->Arrive("\x06");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received, "\x06");
    d->ShutDown();
    d.reset();
    DestroyNotifyWindow(window);
}
