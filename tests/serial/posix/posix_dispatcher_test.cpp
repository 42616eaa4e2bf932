// The dispatcher core driving a pseudo-terminal through TSioPosixDispatcher,
// with its three workers: what the writer device on the other end sees.
#include "serial/posix/posix_dispatcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "serial/posix/port_map.h"
#include "serial/errors/result_codes.h"

namespace sio {
namespace {

using namespace std::chrono_literals;

constexpr int kQueueSize = 40960;  // the main window's port

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

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

class PosixDispatcher : public ::testing::Test {
protected:
    void SetUp() override { ports_.Link(3, pty_.slavePath()); }

    // Opens COM3 at 9600 8N1 with DTR on, as the main window does.
    int Open(int baud = 9600, int stopBits = 1) {
        dispatcher_ = std::make_unique<TSioPosixDispatcher>();
        receiver_.Attach(*dispatcher_);
        int result = dispatcher_->OpenAndStart(DeviceNameFor(3), baud, 0, 8, stopBits, kQueueSize,
                                               kQueueSize, optDtrLevel);
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
        TSioPosixDispatcher dispatcher;
        ASSERT_EQ(dispatcher.OpenAndStart(DeviceNameFor(3), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0), 0);
    }

    termios MasterView() {
        termios tio{};
        EXPECT_EQ(::tcgetattr(pty_.master(), &tio), 0);
        return tio;
    }

    test::ScopedPortDir ports_;
    test::PtyPair pty_;
    Receiver receiver_;
    std::unique_ptr<TSioPosixDispatcher> dispatcher_;
};

TEST_F(PosixDispatcher, BytesTravelBothWaysIntactZerosIncluded) {
    ASSERT_EQ(Open(), 0);
    const std::string data = Pattern(1024);
    ASSERT_TRUE(Send(data));
    EXPECT_EQ(pty_.ReadMaster(data.size()), data);
    ASSERT_TRUE(pty_.WriteMaster(data));
    EXPECT_EQ(receiver_.WaitFor(data.size()), data);
}

TEST_F(PosixDispatcher, OneMebibyteEachWay) {
    ASSERT_EQ(Open(), 0);
    const std::string data = Pattern(1 << 20);
    auto atMaster = std::async(std::launch::async, [&] { return pty_.ReadMaster(data.size()); });
    EXPECT_TRUE(Send(data));
    EXPECT_TRUE(atMaster.get() == data);

    auto fromMaster = std::async(std::launch::async, [&] { return pty_.WriteMaster(data); });
    std::string received = receiver_.WaitFor(data.size());
    EXPECT_TRUE(fromMaster.get());
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(PosixDispatcher, OpenFailuresCarryWindowsErrorNumbersAndLeaveNothingBehind) {
    WarmUp();
    int descriptors = test::CountProcEntries("fd");
    int threads = test::CountProcEntries("task");
    {
        TSioPosixDispatcher unlinked;
        EXPECT_EQ(unlinked.OpenAndStart(DeviceNameFor(4), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0),
                  -ERROR_FILE_NOT_FOUND);
    }
    ASSERT_EQ(Open(), 0);
    {
        TSioPosixDispatcher second;
        EXPECT_EQ(second.OpenAndStart(DeviceNameFor(3), 9600, 0, 8, 1, kQueueSize, kQueueSize, 0),
                  -ERROR_ACCESS_DENIED);
    }
    dispatcher_.reset();
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors);
    EXPECT_EQ(test::CountProcEntries("task"), threads);
}

TEST_F(PosixDispatcher, LineSettingsReachTheDevice) {
    ASSERT_EQ(Open(19200, 2), 0);
    termios view = MasterView();
    EXPECT_EQ(::cfgetospeed(&view), speed_t{B19200});
    EXPECT_TRUE(view.c_cflag & CSTOPB);
    EXPECT_FALSE(view.c_cflag & CRTSCTS);

    ASSERT_EQ(dispatcher_->ApplyHardwareFlow(35748, 10240, kHwFlowUseRts | kHwFlowRequireCts), 0);
    EXPECT_TRUE(MasterView().c_cflag & CRTSCTS);
    ASSERT_EQ(dispatcher_->ApplySoftwareFlow(35748, 10240, kSwFlowTransmit | kSwFlowReceive), 0);
    view = MasterView();
    EXPECT_TRUE(view.c_iflag & IXON);
    EXPECT_TRUE(view.c_iflag & IXOFF);
    EXPECT_EQ(view.c_cc[VSTART], 0x11);
    EXPECT_EQ(view.c_cc[VSTOP], 0x13);
}

TEST_F(PosixDispatcher, PurgeReachesTheDevice) {
    ASSERT_EQ(Open(), 0);
    int packetMode = 1;
    ASSERT_EQ(::ioctl(pty_.master(), TIOCPKT, &packetMode), 0);
    dispatcher_->DiscardInput();
    std::string packet = pty_.ReadMaster(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & TIOCPKT_FLUSHREAD);
    dispatcher_->DiscardOutput();
    packet = pty_.ReadMaster(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & TIOCPKT_FLUSHWRITE);
}

TEST_F(PosixDispatcher, HangUpCostsNoProcessorAndThePortStillCloses) {
    int descriptors = test::CountProcEntries("fd");
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(Send("queued before the hang-up"));
    pty_.CloseMaster();
    // Bytes queued while the device is gone are dropped, not retried for ever.
    ASSERT_TRUE(Send(Pattern(4096)));

    double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(1s);  // one second of hang-up, measured
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1);

    dispatcher_->ShutDown();
    dispatcher_.reset();
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors - 1);  // the master is gone too
}

TEST_F(PosixDispatcher, ThousandOpenCloseCyclesLeaveDescriptorsAndThreadsAsTheyWere) {
    WarmUp();
    int descriptors = test::CountProcEntries("fd");
    int threads = test::CountProcEntries("task");
    for (int cycle = 0; cycle < 1000; ++cycle) {
        TSioPosixDispatcher dispatcher;
        ASSERT_EQ(dispatcher.OpenAndStart(DeviceNameFor(3), 9600, 0, 8, 1, kQueueSize, kQueueSize,
                                          optDtrLevel),
                  0)
            << cycle;
        dispatcher.ShutDown();
    }
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors);
    EXPECT_EQ(test::CountProcEntries("task"), threads);
}

// The telephony variant runs over a descriptor someone else opened.
class TapiDispatcher : public TSioTAPI32Dispatcher {
public:
    using TSioTAPI32Dispatcher::TSioTAPI32Dispatcher;
};

TEST_F(PosixDispatcher, TelephonyVariantUsesTheHandedOverDescriptor) {
    {
        TapiDispatcher none(nullptr, 0);
        EXPECT_EQ(none.OpenAndStart("", 9600, 0, 8, 1, kQueueSize, kQueueSize, 0), ecCommNotOpen);
    }
    int fd = ::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TapiDispatcher tapi(nullptr, fd);
    ASSERT_EQ(tapi.OpenAndStart("", 9600, 0, 8, 1, kQueueSize, kQueueSize, optDtrLevel), 0);
    ASSERT_EQ(tapi.QueueBlock("ATZ\r", 4), 0);
    EXPECT_EQ(pty_.ReadMaster(4), "ATZ\r");
    tapi.ShutDown();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed with the port
}

}  // namespace
}  // namespace sio
