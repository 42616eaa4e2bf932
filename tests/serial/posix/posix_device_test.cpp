#include "serial/posix/posix_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "serial/posix/port_available.h"
#include "serial/posix/port_map.h"
#include "serial/result_codes.h"

namespace sio {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kWorkerMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;

// Every byte value, 0x00 included, in a pattern that shows reordering.
std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

// The output worker's part: runs until the device took every byte.
bool SendAll(PosixSerialDevice& device, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        int taken = device.WriteRun(data.data() + done, static_cast<int>(data.size() - done));
        if (taken < 0)
            return false;
        if (taken > 0)
            done += static_cast<std::size_t>(taken);
        else if (device.WaitWritable() < 0)
            return false;
    }
    return true;
}

// The event and dispatch workers' part: waits for bytes and reads them.
std::string ReceiveAll(PosixSerialDevice& device, std::size_t size) {
    std::string data;
    char buffer[8192];
    while (data.size() < size) {
        COMSTAT status;
        device.ClearErrors(status);
        if (status.cbInQue == 0) {
            std::uint32_t mask = 0;
            if (device.WaitEvent(mask) < 0)
                break;
            continue;
        }
        int got = device.Read(buffer, static_cast<int>(std::min<std::size_t>(sizeof buffer, status.cbInQue)));
        if (got < 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

// Fills the terminal's output queue (nobody reads the master) and returns a
// WaitWritable that is blocked on it. The terminal moves bytes to the master
// side in the background, so room may open once more right after filling.
std::future<int> BlockedWaitForRoom(PosixSerialDevice& device) {
    std::string block(4096, 'x');
    for (;;) {
        while (device.WriteRun(block.data(), static_cast<int>(block.size())) > 0) {
        }
        auto waiter = std::async(std::launch::async, [&device] { return device.WaitWritable(); });
        if (waiter.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout)
            return waiter;
    }
}

double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class PosixDevice : public ::testing::Test {
protected:
    void SetUp() override { ports_.Link(3, pty_.slavePath()); }

    // Opens COM3 and sets the event mask the event worker uses.
    void OpenPort() {
        ASSERT_GE(device_.Open(DeviceNameFor(3)), 0);
        device_.SetEventMask(kWorkerMask);
    }

    termios MasterView() {
        termios tio{};
        EXPECT_EQ(::tcgetattr(pty_.master(), &tio), 0);
        return tio;
    }

    test::ScopedPortDir ports_;
    test::PtyPair pty_;
    PosixSerialDevice device_;
};

// --- opening --------------------------------------------------------------

TEST_F(PosixDevice, OpensTheLinkedComNumber) {
    int handle = device_.Open("\\\\.\\COM3");
    ASSERT_GE(handle, 0);
    EXPECT_EQ(device_.Handle(), handle);
    EXPECT_EQ(device_.SetupQueues(40960, 40960), 0);
    EXPECT_EQ(device_.CloseHandle(), 0);
    EXPECT_EQ(device_.Handle(), -1);
    EXPECT_EQ(device_.CloseHandle(), -1);
}

TEST_F(PosixDevice, UnlinkedNumberIsNoSuchPort) {
    EXPECT_EQ(device_.Open("\\\\.\\COM4"), -ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(device_.Open("\\\\.\\COMx"), -ERROR_FILE_NOT_FOUND);
}

TEST_F(PosixDevice, SecondOpenerIsRefusedAsInUseUntilTheFirstCloses) {
    OpenPort();
    PosixSerialDevice second;
    EXPECT_EQ(second.Open("\\\\.\\COM3"), -ERROR_ACCESS_DENIED);
    ports_.Link(7, pty_.slavePath());  // another name for the same device
    EXPECT_EQ(second.Open("\\\\.\\COM7"), -ERROR_ACCESS_DENIED);
    ASSERT_EQ(device_.CloseHandle(), 0);
    EXPECT_GE(second.Open("\\\\.\\COM3"), 0);
}

TEST_F(PosixDevice, PathsThatAreNoSerialPortAreNoSuchPortAndLeakNothing) {
    std::string file = ports_.path() + "/plain-file";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    ports_.Link(1, file);
    ports_.Link(2, ports_.path());
    ports_.Link(4, "/dev/null");
    ports_.Link(5, ports_.path() + "/missing");
    int descriptors = test::CountProcEntries("fd");
    for (int number : {1, 2, 4, 5}) {
        PosixSerialDevice device;
        EXPECT_EQ(device.Open(DeviceNameFor(number)), -ERROR_FILE_NOT_FOUND) << number;
    }
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors);
}

TEST_F(PosixDevice, OpenMakesTheLineRawAndEmptiesBothQueues) {
    ASSERT_TRUE(pty_.WriteMaster("stale\n"));
    OpenPort();
    termios view = MasterView();
    EXPECT_FALSE(view.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(view.c_oflag & OPOST);
    COMSTAT status;
    device_.ClearErrors(status);
    EXPECT_EQ(status.cbInQue, 0u);
}

TEST_F(PosixDevice, ClosingReleasesTheExclusiveHoldForOthersStillHoldingTheTerminal) {
    // A simulator keeps its own slave descriptor; the next open must work.
    UniqueFd simulator(::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(simulator);
    for (int round = 0; round < 2; ++round) {
        OpenPort();
        EXPECT_EQ(::ioctl(simulator.get(), TIOCEXCL), 0);
        ASSERT_EQ(device_.CloseHandle(), 0);
        // TIOCEXCL is cleared again: a non-root opener would otherwise be refused.
        EXPECT_EQ(::ioctl(simulator.get(), TIOCNXCL), 0);
    }
}

TEST_F(PosixDevice, ThousandOpenCloseCyclesLeaveDescriptorsAndThreadsAsTheyWere) {
    int descriptors = test::CountProcEntries("fd");
    int threads = test::CountProcEntries("task");
    for (int cycle = 0; cycle < 1000; ++cycle) {
        PosixSerialDevice device;
        ASSERT_GE(device.Open("\\\\.\\COM3"), 0) << cycle;
        ASSERT_EQ(device.CloseHandle(), 0) << cycle;
    }
    EXPECT_EQ(test::CountProcEntries("fd"), descriptors);
    EXPECT_EQ(test::CountProcEntries("task"), threads);
}

TEST_F(PosixDevice, AdoptedDescriptorIsTakenIntoServiceAndClosedWithThePort) {
    PosixSerialDevice none(0);
    EXPECT_EQ(none.Open("ignored"), ecCommNotOpen);

    int fd = ::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    PosixSerialDevice adopted(fd);
    EXPECT_EQ(adopted.Open("ignored"), fd);
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);  // reads must not wait
    ASSERT_TRUE(SendAll(adopted, "tel"));
    EXPECT_EQ(pty_.ReadMaster(3), "tel");
    EXPECT_EQ(adopted.CloseHandle(), 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST_F(PosixDevice, PortAvailabilityCountsHeldPortsAndNothingElse) {
    EXPECT_FALSE(IsPortAvailable(0));
    EXPECT_FALSE(IsPortAvailable(-3));
    EXPECT_TRUE(IsPortAvailable(3));
    EXPECT_FALSE(IsPortAvailable(4));
    ports_.Link(4, "/dev/null");
    EXPECT_FALSE(IsPortAvailable(4));
    OpenPort();
    EXPECT_TRUE(IsPortAvailable(3));  // held by us, still a port
}

// --- bytes ----------------------------------------------------------------

TEST_F(PosixDevice, EveryByteValueTravelsBothWaysInOrder) {
    OpenPort();
    std::string data = Pattern(512);
    ASSERT_TRUE(SendAll(device_, data));
    EXPECT_EQ(pty_.ReadMaster(data.size()), data);
    ASSERT_TRUE(pty_.WriteMaster(data));
    EXPECT_EQ(ReceiveAll(device_, data.size()), data);
}

TEST_F(PosixDevice, OneMebibyteEachWay) {
    OpenPort();
    const std::string data = Pattern(1 << 20);
    auto fromMaster = std::async(std::launch::async, [&] { return pty_.ReadMaster(data.size()); });
    EXPECT_TRUE(SendAll(device_, data));
    EXPECT_TRUE(fromMaster.get() == data);

    auto toMaster = std::async(std::launch::async, [&] { return pty_.WriteMaster(data); });
    std::string received = ReceiveAll(device_, data.size());
    EXPECT_TRUE(toMaster.get());
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(PosixDevice, WriteRunTakesWhatFitsAndZeroWhenFull) {
    OpenPort();
    // Nobody reads the master: the terminal's queue fills up.
    std::string block(4096, 'x');
    int total = 0;
    int taken = 0;
    while ((taken = device_.WriteRun(block.data(), static_cast<int>(block.size()))) > 0)
        total += taken;
    EXPECT_EQ(taken, 0);
    EXPECT_GT(total, 0);
    EXPECT_EQ(pty_.ReadMaster(static_cast<std::size_t>(total)).size(), static_cast<std::size_t>(total));
}

// --- line settings --------------------------------------------------------

TEST_F(PosixDevice, LineSettingsReachTheDevice) {
    OpenPort();
    DCB record;
    ASSERT_EQ(device_.GetLine(record), 0);
    record.BaudRate = 19200;
    record.StopBits = TWOSTOPBITS;
    record.fOutxCtsFlow = 1;
    record.fOutX = 1;
    record.fInX = 1;
    record.XonChar = 0x11;
    record.XoffChar = 0x13;
    ASSERT_EQ(device_.SetLine(record), 0);

    termios view = MasterView();
    EXPECT_EQ(::cfgetospeed(&view), speed_t{B19200});
    EXPECT_TRUE(view.c_cflag & CSTOPB);
    EXPECT_TRUE(view.c_cflag & CRTSCTS);
    EXPECT_TRUE(view.c_iflag & IXON);
    EXPECT_TRUE(view.c_iflag & IXOFF);
    EXPECT_EQ(view.c_cc[VSTART], 0x11);
    EXPECT_EQ(view.c_cc[VSTOP], 0x13);

    record.StopBits = ONESTOPBIT;
    record.fOutxCtsFlow = 0;
    record.fOutX = 0;
    record.fInX = 0;
    ASSERT_EQ(device_.SetLine(record), 0);
    view = MasterView();
    EXPECT_FALSE(view.c_cflag & (CSTOPB | CRTSCTS));
    EXPECT_FALSE(view.c_iflag & (IXON | IXOFF));
}

TEST_F(PosixDevice, GetLineReturnsTheBlockAsApplied) {
    OpenPort();
    DCB record;
    ASSERT_EQ(device_.GetLine(record), 0);
    EXPECT_EQ(record.fBinary, 1u);
    record.BaudRate = 250000;  // no B constant
    record.ByteSize = 7;       // the pty holds CS8 only
    record.Parity = EVENPARITY;
    record.XonLim = 10240;
    record.XoffLim = 5212;
    record.fDtrControl = DTR_CONTROL_ENABLE;
    record.fTXContinueOnXoff = 1;
    ASSERT_EQ(device_.SetLine(record), 0);
    DCB read;
    ASSERT_EQ(device_.GetLine(read), 0);
    EXPECT_EQ(read, record);
}

TEST_F(PosixDevice, RefusedBlockIsInvalidParameter) {
    OpenPort();
    DCB record;
    ASSERT_EQ(device_.GetLine(record), 0);
    record.ByteSize = 9;
    EXPECT_EQ(device_.SetLine(record), -ERROR_INVALID_PARAMETER);
    record.ByteSize = 8;
    record.BaudRate = 0;
    EXPECT_EQ(device_.SetLine(record), -ERROR_INVALID_PARAMETER);
}

TEST_F(PosixDevice, Rs485FallsBackToRaisingRtsAroundEachRun) {
    OpenPort();
    DCB record;
    ASSERT_EQ(device_.GetLine(record), 0);
    record.fRtsControl = RTS_CONTROL_TOGGLE;
    ASSERT_EQ(device_.SetLine(record), 0);
    EXPECT_TRUE(device_.Rs485Emulated());  // a pty refuses TIOCSRS485
    EXPECT_EQ(device_.Escape(SETRTS), 0);
    std::string data = Pattern(3000);
    ASSERT_TRUE(SendAll(device_, data));
    EXPECT_EQ(pty_.ReadMaster(data.size()), data);

    record.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_EQ(device_.SetLine(record), 0);
    EXPECT_FALSE(device_.Rs485Emulated());
}

TEST_F(PosixDevice, ModemLinesAPtyLacksReadAsUnknown) {
    OpenPort();
    EXPECT_EQ(device_.ModemStatus(), 0u);
    for (int code : {SETRTS, CLRRTS, SETDTR, CLRDTR, 99})
        EXPECT_EQ(device_.Escape(code), 0);
}

// --- events and purge -----------------------------------------------------

TEST_F(PosixDevice, ArrivingBytesAreAnEvent) {
    OpenPort();
    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        int result = device_.WaitEvent(mask);
        return std::make_pair(result, mask);
    });
    ASSERT_TRUE(pty_.WriteMaster("ab"));
    auto [result, mask] = waiter.get();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(mask, EV_RXCHAR);
    COMSTAT status;
    device_.ClearErrors(status);
    EXPECT_EQ(status.cbInQue, 2u);
}

TEST_F(PosixDevice, BytesLeftUnreadAreNotAnnouncedAgainUntilMoreArrive) {
    OpenPort();
    ASSERT_TRUE(pty_.WriteMaster("a"));
    std::uint32_t mask = 0;
    ASSERT_EQ(device_.WaitEvent(mask), 1);
    // The dispatcher reads nothing (its ring is full): the byte stays.
    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t again = 0;
        int result = device_.WaitEvent(again);
        return std::make_pair(result, again);
    });
    EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
    ASSERT_TRUE(pty_.WriteMaster("b"));
    auto [result, again] = waiter.get();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(again, EV_RXCHAR);
    char buffer[4];
    EXPECT_EQ(device_.Read(buffer, 4), 2);
}

TEST_F(PosixDevice, MaskZeroWakesAPendingWait) {
    OpenPort();
    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        return device_.WaitEvent(mask);
    });
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    device_.SetEventMask(0);
    EXPECT_EQ(waiter.get(), 0);
    std::uint32_t mask = 0;
    EXPECT_EQ(device_.WaitEvent(mask), 0);  // refused at once while the mask is 0
}

TEST_F(PosixDevice, CancelWakesAPendingWaitForRoom) {
    OpenPort();
    auto waiter = BlockedWaitForRoom(device_);
    device_.CancelWrite();
    EXPECT_EQ(waiter.get(), 0);
}

TEST_F(PosixDevice, ReadReturnsAtOnceWhenNothingIsThere) {
    OpenPort();
    char buffer[16];
    EXPECT_EQ(device_.Read(buffer, sizeof buffer), 0);
}

TEST_F(PosixDevice, PurgeReachesTheDevice) {
    OpenPort();
    int packetMode = 1;
    ASSERT_EQ(::ioctl(pty_.master(), TIOCPKT, &packetMode), 0);
    ASSERT_TRUE(pty_.WriteMaster("unread"));
    std::uint32_t mask = 0;
    ASSERT_EQ(device_.WaitEvent(mask), 1);

    ASSERT_EQ(device_.Flush(1), 0);
    COMSTAT status;
    device_.ClearErrors(status);
    EXPECT_EQ(status.cbInQue, 0u);
    std::string packet = pty_.ReadMaster(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & TIOCPKT_FLUSHREAD);

    ASSERT_EQ(device_.Flush(0), 0);
    packet = pty_.ReadMaster(1);
    ASSERT_EQ(packet.size(), 1u);
    EXPECT_TRUE(packet[0] & TIOCPKT_FLUSHWRITE);
    EXPECT_EQ(device_.Flush(2), -ERROR_INVALID_PARAMETER);

    // Input after the purge is announced as new.
    ASSERT_TRUE(pty_.WriteMaster("new"));
    ASSERT_EQ(device_.WaitEvent(mask), 1);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(PosixDevice, CloseWakesEveryPendingWait) {
    OpenPort();
    auto room = BlockedWaitForRoom(device_);
    auto events = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        return device_.WaitEvent(mask);
    });
    EXPECT_EQ(events.wait_for(50ms), std::future_status::timeout);
    EXPECT_EQ(device_.CloseHandle(), 0);
    EXPECT_LE(events.get(), 0);
    EXPECT_LE(room.get(), 0);
    char buffer[4];
    EXPECT_LT(device_.Read(buffer, 4), 0);
    EXPECT_LT(device_.WriteRun("x", 1), 0);
}

// --- hang-up --------------------------------------------------------------

TEST_F(PosixDevice, HangUpIsReportedOnceAndNothingSpins) {
    OpenPort();
    // The event worker's loop: it goes on until the device is gone for good.
    std::promise<void> errorSeen;
    auto eventWorker = std::async(std::launch::async, [&] {
        int errorReports = 0;
        for (;;) {
            std::uint32_t mask = 0;
            int result = device_.WaitEvent(mask);
            if (result < 0)
                return errorReports;
            if (result == 1 && mask == EV_ERR && errorReports++ == 0)
                errorSeen.set_value();
        }
    });
    pty_.CloseMaster();
    errorSeen.get_future().wait();
    EXPECT_EQ(eventWorker.get(), 1);

    double before = ProcessCpuSeconds();
    // The dispatch and output workers keep calling in; every call fails at once.
    auto deadline = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < deadline) {
        COMSTAT status;
        device_.ClearErrors(status);
        EXPECT_EQ(status.cbInQue, 0u);
        char buffer[16];
        EXPECT_LT(device_.Read(buffer, sizeof buffer), 0);
        EXPECT_LT(device_.WriteRun("x", 1), 0);
        EXPECT_LT(device_.WaitWritable(), 0);
        std::this_thread::sleep_for(50ms);  // the dispatch worker's period
    }
    EXPECT_LT(ProcessCpuSeconds() - before, 0.2);
    std::uint32_t mask = 0;
    EXPECT_LT(device_.WaitEvent(mask), 0);
    EXPECT_EQ(device_.CloseHandle(), 0);
}

}  // namespace
}  // namespace sio
