// The serial port component on the in-memory device: its settings, open and
// close, writing and reading, and OnTrigger arriving through the real
// window-message layer on this thread's Qt event loop.
#include "com_port_test_support.h"

#include "serial/component/com_port_hooks.h"
#include "serial/errors/errors.h"
#include "serial/core/message_link.h"
#include "serial/errors/result_codes.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <condition_variable>
#include <mutex>

#include <cstdio>
#include <fstream>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <string>
#include <vector>

using namespace sio;

namespace {

class ComPortTest : public ComPortFakeTest {
protected:
    // Bytes arrive and the worker sends their notice; returns once it waits
    // for this thread to take it.
    void WaitUntilDelivering(const std::string& bytes) { WaitUntilDelivering(port, bytes); }
    static void WaitUntilDelivering(TSioCustomComPort& on, const std::string& bytes) {
        TSioBaseDispatcher& dispatcher = *on.ActiveDispatcher();
        static_cast<FakeDispatcher&>(dispatcher).Arrive(bytes);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!dispatcher.IsDelivering() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_TRUE(dispatcher.IsDelivering());
    }
};

struct TriggerCall {
    Word Msg, TriggerHandle, Data;
};

// Ends the test program with a message when a test hangs, so that a hang
// reads as the failure it is instead of stalling the whole run.
class HangGuard {
public:
    explicit HangGuard(const char* what)
        : watcher_([this, what] {
              std::unique_lock lock(mutex_);
              if (!done_cv_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
                  std::fprintf(stderr, "HANG: %s\n", what);
                  std::_Exit(1);
              }
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        watcher_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread watcher_;
};

// --- Writing --------------------------------------------------------------------

TEST_F(ComPortTest, AnEmptyStringIsNoWriteEvenWhenClosed) {
    port.SetAutoOpen(false);
    EXPECT_NO_THROW(port.WriteString(""));
    port.SetAutoOpen(true);
    EXPECT_NO_THROW(port.WriteString(""));
    EXPECT_EQ(created, 0) << "an empty write must not open the port";
}

TEST_F(ComPortTest, WritingWhileClosedFailsWithoutAutoOpenAndOpensWithIt) {
    port.SetAutoOpen(false);
    ExpectRaised<ECommNotOpen>([&] { port.WriteString("A"); }, ecCommNotOpen, "ie_NOpen - device not open");
    ExpectRaised<ECommNotOpen>([&] { port.ReadChar(); }, ecCommNotOpen, "ie_NOpen - device not open");
    EXPECT_EQ(created, 0);

    port.SetAutoOpen(true);
    port.WriteString(std::string("\x02\x00\xFF", 3));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(PumpUntil([&] { return Device().Written().size() == 3; }));
    EXPECT_EQ(Device().Written(), std::string("\x02\x00\xFF", 3));
}

TEST_F(ComPortTest, ExactlyTheFreeSpaceIsQueuedAndOneByteMoreQueuesNothing) {
    port.SetOutSize(64);
    OpenPort();
    Device().SetWriteMode(FakeDispatcher::WriteMode::Stall);
    port.WriteString(Bytes(60));
    EXPECT_NO_THROW(port.WriteString(Bytes(4, 60)));
    EXPECT_EQ(Device().OutputRoom(), 0);
    ExpectRaised<EOutputBufferTooSmall>([&] { port.WriteString("X"); }, ecOutputBufferTooSmall,
                                        "Output buffer too small for block");

    Device().SetWriteMode(FakeDispatcher::WriteMode::Accept);
    ASSERT_TRUE(PumpUntil([&] { return Device().OutputQueued() == 0; }));
    EXPECT_EQ(Device().Written(), Bytes(64)) << "the refused byte must not have been queued";
}

// --- Reading ----------------------------------------------------------------------

TEST_F(ComPortTest, ReadingAnEmptyBufferRaisesBufferIsEmpty) {
    OpenPort();
    ExpectRaised<EBufferIsEmpty>([&] { port.ReadChar(); }, ecBufferIsEmpty, "Buffer is empty");
}

TEST_F(ComPortTest, DataAvailableCarriesTheUnreadCountAndTheHandlerTakesIt) {
    std::vector<TriggerCall> calls;
    std::string read;
    int unreadAfter = -1;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word handle, Word data) {
        EXPECT_EQ(cp, &port);
        calls.push_back({msg, handle, data});
        for (int i = 0; i < data; ++i) read += cp->ReadChar();
    });
    Word availCount = 0;
    port.SetOnTriggerAvail([&](TSioCustomComPort*, Word count) {
        availCount = count;
        unreadAfter = Device().UnreadCount();
    });
    OpenPort();
    Device().Arrive(std::string("\x06\x00\x41", 3));
    ASSERT_TRUE(PumpUntil([&] { return read.size() == 3; }));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Msg, MsgTriggerAvail);
    EXPECT_EQ(calls[0].TriggerHandle, 3);
    EXPECT_EQ(calls[0].Data, 3);
    EXPECT_EQ(read, std::string("\x06\x00\x41", 3));
    EXPECT_EQ(availCount, 3);
    EXPECT_EQ(unreadAfter, 0);
    ASSERT_TRUE(PumpUntil([&] { return Device().UnreadCount() == 0; }));
}

// A handler's ReadChar calls are served from bytes taken in one go; what the
// handler leaves must be exactly what the dispatcher still holds unread.
TEST_F(ComPortTest, BytesAHandlerLeavesUnreadAreAnnouncedAgainWithTheNextOnes) {
    std::vector<Word> counts;
    std::string read;
    int unreadAfterFirst = -1;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word data) {
        if (msg != MsgTriggerAvail) return;
        counts.push_back(data);
        const int take = counts.size() == 1 ? 2 : data;
        for (int i = 0; i < take; ++i) read += cp->ReadChar();
    });
    port.SetOnTriggerAvail([&](TSioCustomComPort*, Word) {
        if (unreadAfterFirst < 0) unreadAfterFirst = Device().UnreadCount();
    });
    OpenPort();
    Device().Arrive("abcdef");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1 && !Device().IsDelivering(); }));
    EXPECT_EQ(unreadAfterFirst, 4) << "the handler's view while it ran";
    EXPECT_EQ(Device().UnreadCount(), 4);
    Device().Arrive("gh");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<Word>{6, 6}));
    EXPECT_EQ(read, "abcdefgh");
}

TEST_F(ComPortTest, AnInputPurgeInsideAHandlerVoidsWhatItHasNotRead) {
    std::string read;
    bool emptyAfterPurge = false;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg != MsgTriggerAvail || !read.empty()) return;
        read += cp->ReadChar();
        cp->ActiveDispatcher()->DiscardInput();
        try {
            read += cp->ReadChar();
        } catch (const EBufferIsEmpty&) {
            emptyAfterPurge = true;
        }
    });
    OpenPort();
    Device().Arrive("xyz");
    ASSERT_TRUE(PumpUntil([&] { return !read.empty() && !Device().IsDelivering(); }));
    EXPECT_EQ(read, "x");
    EXPECT_TRUE(emptyAfterPurge);
    EXPECT_EQ(Device().UnreadCount(), 0);
}

TEST_F(ComPortTest, TheTraceHoldsTheBytesTheHandlerReadNotThoseTakenAhead) {
    port.SetTracing(tlOn);
    bool handled = false;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg != MsgTriggerAvail) return;
        cp->ReadChar();
        cp->ReadChar();
        handled = true;
    });
    OpenPort();
    Device().Arrive("abcd");
    ASSERT_TRUE(PumpUntil([&] { return handled && !Device().IsDelivering(); }));
    EXPECT_EQ(port.ActiveDispatcher()->TraceEntries().size(), 2u);
    port.SetTracing(tlOff);
}

// A handler may hold the dispatch worker no longer than the delivery
// time-out; the worker then counts what the handler took ahead as taken.
// Those bytes must still reach the program once, in order, and be counted
// in the next notice. (Waits out the real 3 s time-out.)
TEST_F(ComPortTest, BytesTakenAheadByAHandlerThatOutlivesItsDeliveryAreReadOnceInOrder) {
    std::vector<Word> counts;
    std::string read;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word data) {
        if (msg != MsgTriggerAvail) return;
        counts.push_back(data);
        if (counts.size() == 1) {
            read += cp->ReadChar();
            // Blocks this thread, as a slow handler would, until the worker
            // gives up waiting for it.
            while (Device().IsDelivering()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            read += cp->ReadChar();
            return;  // "cd" left unread
        }
        for (int i = 0; i < data; ++i) read += cp->ReadChar();
    });
    OpenPort();
    Device().Arrive("abcd");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1 && !Device().IsDelivering(); }));
    EXPECT_EQ(Device().UnreadCount(), 0) << "the ended delivery counted all four as taken";
    Device().Arrive("ef");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts[1], 4) << "the two held bytes and the two new ones";
    EXPECT_EQ(read, "abcdef");
}

TEST_F(ComPortTest, AnExceptionFromAHandlerGoesToTheReportAndThePortCarriesOn) {
    std::vector<std::string> reported;
    SetExceptionReporter([&](const std::exception& e) { reported.push_back(e.what()); });
    int calls = 0;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word, Word, Word data) {
        ++calls;
        for (int i = 0; i < data; ++i) cp->ReadChar();
        if (calls == 1) throw std::runtime_error("handler failed");
    });
    OpenPort();
    Device().Arrive("a");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1 && !reported.empty(); }));
    EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
    Device().Arrive("b");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    EXPECT_TRUE(port.Open());
    SetExceptionReporter({});
}

// --- Open and close -------------------------------------------------------------------

TEST_F(ComPortTest, SettingOpenToItsCurrentValueDoesNothing) {
    int opened = 0, closed = 0;
    port.SetOnPortOpen([&](TSioCustomComPort*) { ++opened; });
    port.SetOnPortClose([&](TSioCustomComPort*) { ++closed; });
    port.SetOpen(false);
    EXPECT_EQ(closed, 0);
    OpenPort();
    port.SetOpen(true);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(opened, 1);
    port.SetOpen(false);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(port.Phase(), phClosed);
    EXPECT_EQ(port.ActiveDispatcher(), nullptr);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
}

TEST_F(ComPortTest, PortUsersHearOfOpenAndCloseLastRegisteredFirst) {
    std::vector<std::string> heard;
    auto user = [&](const char* name, bool closing) {
        return TPortUser{0, [&heard, name](unsigned msg) { heard.push_back(name + std::to_string(msg)); }, closing};
    };
    port.PortUsers().push_back(user("a", false));
    port.PortUsers().push_back(user("b", true));
    OpenPort();
    port.SetOpen(false);
    const std::vector<std::string> expected{"b32264", "a32264", "b32266", "b32265", "a32265"};
    EXPECT_EQ(heard, expected) << "opened, closing (only to b), closed";
}

TEST_F(ComPortTest, AFailedOpenLeavesNothingAndAnotherPortOpens) {
    struct Case {
        int deviceResult;
        int code;
        const char* message;
    };
    for (const Case c : {Case{-5, ecAlreadyOpen, "ie_Open - device already open"},
                         Case{-2, ecBadId, "ie_BadId - Specified comport doesn't exist"},
                         Case{-3, ecBadId, "ie_BadId - Specified comport doesn't exist"}}) {
        nextOpenResult = c.deviceResult;
        if (c.code == ecAlreadyOpen)
            ExpectRaised<EAlreadyOpen>([&] { port.SetOpen(true); }, c.code, c.message);
        else
            ExpectRaised<EBadId>([&] { port.SetOpen(true); }, c.code, c.message);
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.Phase(), phClosed);
        EXPECT_EQ(port.ActiveDispatcher(), nullptr);
        EXPECT_EQ(port.NotifyWindow(), 0u);
    }
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    EXPECT_EQ(TSioDispatcherThread::LiveCount(), 0);

    nextOpenResult = -31;  // any other system error passes through unchanged
    EXPECT_THROW(port.SetOpen(true), EInOutError);
    EXPECT_FALSE(port.Open());

    nextOpenResult = 3;
    port.SetComNumber(4);
    OpenPort();
    EXPECT_EQ(port.ActiveDispatcher()->DeviceName, "COM4");
}

TEST_F(ComPortTest, WithoutAPortNumberTheUserIsAskedOrTheOpenRefused) {
    port.SetComNumber(0);
    port.SetPromptForPort(false);
    ExpectRaised<ENoPortSelected>([&] { port.SetOpen(true); }, ecNoPortSelected,
                                  "The ComNumber property of the TSioComPort has not been set");

    port.SetPromptForPort(true);
    SetPortPrompt([](Word&) { return false; });  // cancelled
    ExpectRaised<ENoPortSelected>([&] { port.SetOpen(true); }, ecNoPortSelected,
                                  "The ComNumber property of the TSioComPort has not been set");
    EXPECT_EQ(created, 0);

    SetPortPrompt([](Word& n) {
        n = 7;
        return true;
    });
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 7);
    EXPECT_EQ(port.ActiveDispatcher()->DeviceName, "COM7");
    SetPortPrompt({});
}

TEST_F(ComPortTest, CloseFromInsideOnTriggerCompletesAfterTheDelivery) {
    int closedEvents = 0;
    char duringClose = 'x';
    bool raisedDuringClose = false;
    port.SetOnPortClose([&](TSioCustomComPort*) { ++closedEvents; });
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg != MsgTriggerAvail) return;
        cp->SetOpen(false);
        EXPECT_EQ(cp->Phase(), phClosing) << "the dispatcher is still delivering";
        try {
            duringClose = cp->ReadChar();
        } catch (...) {
            raisedDuringClose = true;
        }
        cp->WriteString("ignored");
    });
    OpenPort();
    Device().Arrive("Q");
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    EXPECT_EQ(duringClose, 0);
    EXPECT_FALSE(raisedDuringClose);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.ActiveDispatcher(), nullptr);
    EXPECT_EQ(port.NotifyWindow(), 0u);
    EXPECT_EQ(closedEvents, 1);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    ASSERT_TRUE(PumpUntil([] { return TSioDispatcherThread::LiveCount() == 0; }));
}

// Closing outside any handler while a notice waits in the queue ends the
// close at once: a caller that reopens right after finds the port usable.
TEST_F(ComPortTest, CloseWhileANoticeWaitsInTheQueueCompletesAtOnce) {
    int notices = 0;
    port.SetOnTrigger([&](TSioCustomComPort*, Word msg, Word, Word) {
        if (msg == MsgTriggerAvail) ++notices;
    });
    OpenPort();
    Device().Arrive("late");
    // The worker has sent its notice and waits for this thread to take it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!port.ActiveDispatcher()->IsDelivering() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(port.ActiveDispatcher()->IsDelivering());

    port.SetOpen(false);
    EXPECT_EQ(port.Phase(), phClosed);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(notices, 0) << "a notice reached a closing port";
    OpenPort();
    port.WriteString("next");
    ASSERT_TRUE(PumpUntil([&] { return Device().Written() == "next"; }));
}

TEST_F(ComPortTest, OpenRequestedDuringADeferredCloseReopensAfterIt) {
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg != MsgTriggerAvail || created > 1) return;
        cp->SetOpen(false);
        cp->SetOpen(true);
        EXPECT_TRUE(cp->ReopenRequested());
    });
    OpenPort();
    Device().Arrive("Q");
    ASSERT_TRUE(PumpUntil([&] { return created == 2 && port.Phase() == phOpen; }));
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(port.ReopenRequested());
    Device().Arrive("R");  // the new dispatcher delivers again
    int seen = 0;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word, Word, Word data) {
        for (int i = 0; i < data; ++i) cp->ReadChar();
        seen += data;
    });
    ASSERT_TRUE(PumpUntil([&] { return seen == 1; }));
}

TEST_F(ComPortTest, OpenAskedForAndCancelledDuringADeferredCloseStaysClosed) {
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg != MsgTriggerAvail || cp->Phase() != phOpen) return;
        cp->SetOpen(false);
        cp->SetOpen(true);
        cp->SetOpen(false);
        EXPECT_FALSE(cp->ReopenRequested());
    });
    OpenPort();
    Device().Arrive("Q");
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() != phOpen && port.Phase() != phClosing; }));
    PumpPending();
    EXPECT_EQ(port.Phase(), phClosed);
    EXPECT_EQ(created, 1) << "the cancelled open took place";
}

// The destructor's close handles events while it waits for the workers; an
// open one of them asks for is not carried out on a component that is going.
TEST_F(ComPortTest, AnOpenAskedForWhileTheDestructorClosesIsNotCarriedOut) {
    int opens = 0;
    bool asked = false, gone = false;
    {
        TSioComPort local;
        local.DispatcherFactory = port.DispatcherFactory;
        local.SetComNumber(3);
        local.SetOnTrigger([](TSioCustomComPort*, Word, Word, Word) {});
        local.SetOnPortOpen([&](TSioCustomComPort*) { ++opens; });
        local.SetOpen(true);
        WaitUntilDelivering(local, "late");
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [&] {
                if (gone) return;
                asked = true;
                local.SetOpen(true);
            },
            Qt::QueuedConnection);
    }
    gone = true;
    ASSERT_TRUE(asked) << "the close handled no event";
    EXPECT_EQ(opens, 1) << "the going component opened again";
    EXPECT_EQ(created, 1);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    ASSERT_TRUE(PumpUntil([] { return TSioDispatcherThread::LiveCount() == 0; }));
}

// An open asked for by an event that a close handles while it waits for the
// workers takes place when that close ends; no request outlives it, so a
// later close from inside a trigger handler closes for good.
TEST_F(ComPortTest, OpenRequestedWhileACloseHandlesEventsOpensWhenItEnds) {
    port.SetOnTrigger([](TSioCustomComPort*, Word, Word, Word) {});
    OpenPort();
    WaitUntilDelivering("late");

    bool asked = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            asked = true;
            port.SetOpen(true);
        },
        Qt::QueuedConnection);
    port.SetOpen(false);
    ASSERT_TRUE(asked) << "the close handled no event";
    EXPECT_EQ(port.Phase(), phOpen);
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(port.ReopenRequested());
    EXPECT_EQ(created, 2);

    port.SetOnTrigger([](TSioCustomComPort* cp, Word msg, Word, Word) {
        if (msg == MsgTriggerAvail) cp->SetOpen(false);
    });
    Device().Arrive("Q");
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    PumpPending();
    EXPECT_EQ(port.Phase(), phClosed);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(created, 2) << "the port reopened unasked";
}

// A synchronised event handler runs on this thread while the dispatch
// worker waits for it: a close it asks for must not wait for that worker.
TEST_F(ComPortTest, CloseFromASynchronisedEventHandlerEnds) {
    OpenPort();
    int closes = 0;
    port.SetOnPortClose([&](TSioCustomComPort*) { ++closes; });
    port.ActiveDispatcher()->AddEventHandler(
        [&](unsigned msg, WParam, LParam) {
            if (msg == MsgTriggerAvail && port.Phase() == phOpen) port.SetOpen(false);
        },
        true);
    const HangGuard guard("the close inside a synchronised handler never ended");
    Device().Arrive("S");
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.ActiveDispatcher(), nullptr);
    ASSERT_TRUE(PumpUntil([] { return TSioDispatcherThread::LiveCount() == 0; }));
}

// A notice that reaches the window while the port is closing, or from a
// dispatcher that is not the port's current one, hands nothing to the
// handlers: during a close ReadChar gives zeros that are not data.
TEST_F(ComPortTest, NoticesDuringACloseOrFromAnotherDispatcherAreNotDelivered) {
    std::vector<TriggerCall> calls;
    bool closeOnNotice = true;
    port.SetOnTrigger([&](TSioCustomComPort* cp, Word msg, Word handle, Word data) {
        calls.push_back({msg, handle, data});
        if (msg != MsgTriggerAvail || !closeOnNotice) return;
        closeOnNotice = false;
        cp->SetOpen(false);
        // A late notice for the closing dispatcher, e.g. from a second window.
        const auto lParam = static_cast<LParam>(cp->ActiveDispatcher()->Handle()) << 16;
        CurrentMessageLink().PostMessage(cp->NotifyWindow(), MsgTriggerAvail, 5, lParam);
    });
    OpenPort();
    Device().Arrive("Q");
    ASSERT_TRUE(PumpUntil([&] { return port.Phase() == phClosed; }));
    for (const TriggerCall& c : calls) EXPECT_NE(c.Data, 5) << "a notice during the close was delivered";

    // A notice naming a slot no dispatcher of this port holds.
    calls.clear();
    OpenPort();
    const auto stale = static_cast<LParam>(port.ActiveDispatcher()->Handle() + 1) << 16;
    CurrentMessageLink().PostMessage(port.NotifyWindow(), MsgTriggerAvail, 2, stale);
    Device().Arrive("Z");
    ASSERT_TRUE(PumpUntil([&] { return !calls.empty(); }));
    PumpPending();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Data, 1);
}

TEST_F(ComPortTest, ChangingComNumberWhileOpenReopensWithTheTriggers) {
    OpenPort();
    TSioTriggerSet triggers;
    triggers.AvailThreshold = 4;
    triggers.StatusTriggers.push_back({9, 3, 100, true, false});
    port.ActiveDispatcher()->RestoreTriggers(triggers);
    port.SetTracing(tlOn);

    port.SetComNumber(5);
    ASSERT_EQ(port.Phase(), phOpen);
    EXPECT_EQ(created, 2);
    EXPECT_EQ(port.ActiveDispatcher()->DeviceName, "COM5");
    EXPECT_EQ(port.Tracing(), tlOn);
    TSioTriggerSet now;
    port.ActiveDispatcher()->SaveTriggers(now);
    EXPECT_EQ(now.AvailThreshold, 4);
    ASSERT_EQ(now.StatusTriggers.size(), 1u);
    EXPECT_EQ(now.StatusTriggers[0].Handle, 9);
}

// --- Settings ---------------------------------------------------------------------------

TEST_F(ComPortTest, TheMainWindowsSettingsReachTheDevice) {
    ConfigureAsMainWindow();
    OpenPort();
    const DCB line = Device().DeviceLine();
    EXPECT_EQ(line.BaudRate, 9600u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_EQ(line.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(line.fRtsControl, RTS_CONTROL_TOGGLE) << "RS-485: the driver raises RTS while sending";
    EXPECT_EQ(line.fOutxCtsFlow, 0u);
    EXPECT_EQ(line.fOutX, 0u);
    EXPECT_EQ(line.fInX, 0u);
    EXPECT_EQ(line.XoffLim, 40960 - 35748);
    EXPECT_EQ(line.XonLim, 10240);
    EXPECT_EQ(port.BufferFull(), 35748);
    EXPECT_EQ(port.BufferResume(), 10240);
    EXPECT_FALSE(port.RTS());
    EXPECT_TRUE(port.DTR());
}

TEST_F(ComPortTest, RS485ModeTakesRTSAwayFromFlowControlAndTheRTSProperty) {
    port.SetHWFlowOptions({hwfUseDTR, hwfUseRTS, hwfRequireCTS, hwfRequireDSR});
    port.SetRTS(true);
    port.SetRS485Mode(true);  // while closed, as a design would
    EXPECT_EQ(port.HWFlowOptions(), (THWFlowOptionSet{hwfUseDTR, hwfRequireDSR}));
    EXPECT_FALSE(port.RTS());

    // Asking for RTS flow control switches RS-485 off again.
    port.SetHWFlowOptions({hwfUseRTS});
    EXPECT_FALSE(port.RS485Mode());

    port.SetHWFlowOptions({});
    port.SetRTS(true);
    OpenPort();
    port.SetRS485Mode(true);
    EXPECT_FALSE(port.RTS());
    EXPECT_EQ(Device().DeviceLine().fRtsControl, RTS_CONTROL_TOGGLE);
    port.SetRTS(true);  // the transmitter owns the line now
    EXPECT_FALSE(port.RTS());
    port.SetRS485Mode(false);
    EXPECT_EQ(Device().DeviceLine().fRtsControl, RTS_CONTROL_DISABLE);
    port.SetRTS(true);
    EXPECT_TRUE(port.RTS());
    EXPECT_EQ(Device().Escapes().back(), SETRTS);
}

TEST_F(ComPortTest, BufferFullAboveInSizeIsScaledWhileClosedAndRefusedWhileOpen) {
    port.SetInSize(40960);
    port.SetBufferFull(50000);
    EXPECT_EQ(port.BufferFull(), 45000);

    port.SetBufferFull(35748);
    port.SetBufferResume(10240);
    OpenPort();
    ExpectRaised<EBadArgument>([&] { port.SetBufferFull(50000); }, ecBadArgument,
                               "Bad argument passed to function");
    port.SetBufferFull(30000);
    EXPECT_EQ(Device().DeviceLine().XoffLim, 40960 - 30000);
}

TEST_F(ComPortTest, FlowLimitsDefaultFromInSizeRoundingHalvesToEven) {
    port.SetInSize(15);
    port.SetHWFlowOptions({hwfUseDTR});
    EXPECT_EQ(port.BufferFull(), 14);   // 13.5
    EXPECT_EQ(port.BufferResume(), 2);  // 1.5

    TSioComPort other;
    other.SetInSize(5);
    other.SetHWFlowOptions({hwfRequireDSR});
    EXPECT_EQ(other.BufferFull(), 4);    // 4.5
    EXPECT_EQ(other.BufferResume(), 0);  // 0.5

    TSioComPort soft;
    soft.SetInSize(10);
    soft.SetSWFlowOptions(swfBoth);
    EXPECT_EQ(soft.BufferFull(), 8);    // 7.5
    EXPECT_EQ(soft.BufferResume(), 2);  // 2.5

    TSioComPort resume;
    resume.SetInSize(40960);
    resume.SetBufferFull(25);
    resume.SetBufferResume(30);
    EXPECT_EQ(resume.BufferResume(), 2);  // 2.5
}

TEST_F(ComPortTest, LineSettingsWhileOpenReconfigureTheDevice) {
    OpenPort();
    port.SetBaud(38400);
    port.SetParity(pEven);
    port.SetStopBits(2);
    const DCB line = Device().DeviceLine();
    EXPECT_EQ(line.BaudRate, 38400u);
    EXPECT_EQ(line.Parity, EVENPARITY);
    EXPECT_EQ(line.StopBits, TWOSTOPBITS);
    port.SetSWFlowOptions(swfReceive);
    EXPECT_EQ(Device().DeviceLine().fInX, 1u);
    port.SetSWFlowOptions(swfNone);
    EXPECT_EQ(Device().DeviceLine().fInX, 0u);
}

TEST_F(ComPortTest, TheTraceRecordsWhatIsWrittenAndIsDumpedAtTheClose) {
    const std::string file = ::testing::TempDir() + "com_port_test.trc";
    std::remove(file.c_str());
    port.SetTraceName(file);
    port.SetTracing(tlOn);
    OpenPort();
    port.WriteString("ab");
    EXPECT_EQ(port.ActiveDispatcher()->TraceEntries().size(), 2u);
    port.SetOpen(false);
    EXPECT_EQ(port.Tracing(), tlOff) << "a close dumps and switches the trace off";
    std::ifstream dump(file);
    EXPECT_TRUE(dump.good()) << "no dump written to " << file;
    dump.close();
    std::remove(file.c_str());

    // A dump that cannot be written is reported, and the port closes anyway.
    port.SetTraceName("/nonexistent-directory/trace.trc");
    port.SetTracing(tlOn);
    OpenPort();
    EXPECT_THROW(port.SetOpen(false), std::exception);
    EXPECT_EQ(port.Phase(), phClosed);
    EXPECT_FALSE(port.Open());
}

// --- Loading and destruction ----------------------------------------------------

TEST_F(ComPortTest, OpenStoredWhileLoadingOpensAtTheEndOfLoading) {
    port.BeginLoading();
    port.SetOpen(true);
    EXPECT_EQ(created, 0);
    port.Loaded();
    EXPECT_EQ(port.Phase(), phOpen);
    EXPECT_TRUE(port.Open());

    TSioComPort failing;
    std::vector<std::string> reported;
    SetExceptionReporter([&](const std::exception& e) { reported.push_back(e.what()); });
    failing.SetComNumber(0);
    failing.SetPromptForPort(false);
    failing.BeginLoading();
    failing.SetOpen(true);
    EXPECT_NO_THROW(failing.Loaded());
    EXPECT_FALSE(failing.Open());
    EXPECT_EQ(reported.size(), 1u);
    SetExceptionReporter({});
}

TEST_F(ComPortTest, DestroyingAnOpenPortClosesIt) {
    int closed = 0;
    {
        TSioComPort local;
        local.DispatcherFactory = port.DispatcherFactory;
        local.SetComNumber(3);
        local.SetOnPortClose([&](TSioCustomComPort*) { ++closed; });
        local.SetOpen(true);
        ASSERT_EQ(local.Phase(), phOpen);
    }
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(FakeDispatcher::OpenHandles(), 0);
    ASSERT_TRUE(PumpUntil([] { return TSioDispatcherThread::LiveCount() == 0; }));
}

}  // namespace
