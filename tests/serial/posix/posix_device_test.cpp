#include "serial/posix/posix_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <future>
#include <string>

#include "pty_pair.h"
#include "serial/posix/port_available.h"
#include "serial/posix/port_map.h"
#include "serial/errors/result_codes.h"

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

TEST_F(PosixDevice, SecondOpenerIsRefusedAsInUseUntilTheFirstCloses) {
    OpenPort();
    PosixSerialDevice second;
    EXPECT_EQ(second.Open("\\\\.\\COM3"), -ERROR_ACCESS_DENIED);
    ports_.Link(7, pty_.slavePath());  // another name for the same device
    EXPECT_EQ(second.Open("\\\\.\\COM7"), -ERROR_ACCESS_DENIED);
    ASSERT_EQ(device_.CloseHandle(), 0);
    EXPECT_GE(second.Open("\\\\.\\COM3"), 0);
}

TEST_F(PosixDevice, UnlinkedNumbersAndPathsThatAreNoSerialPortAreNoSuchPort) {
    std::string file = ports_.path() + "/plain-file";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    ports_.Link(1, file);
    ports_.Link(2, ports_.path());
    ports_.Link(4, "/dev/null");
    ports_.Link(5, ports_.path() + "/missing");
    int descriptors = test::CountProcEntries("fd");
    for (int number : {1, 2, 4, 5, 6}) {
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

TEST_F(PosixDevice, ClosingClearsTheExclusiveFlagForOthersStillHoldingTheTerminal) {
    // A simulator keeps its own slave descriptor. Left set, the flag would
    // refuse every later open by a user other than root.
    UniqueFd simulator(::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(simulator);
    int exclusive = 0;
    OpenPort();
    ASSERT_EQ(::ioctl(simulator.get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ASSERT_EQ(device_.CloseHandle(), 0);
    ASSERT_EQ(::ioctl(simulator.get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
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

// --- line settings --------------------------------------------------------

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

// --- events and purge -----------------------------------------------------

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

TEST_F(PosixDevice, InputPurgeEmptiesTheQueueAndLaterBytesAreNew) {
    OpenPort();
    ASSERT_TRUE(pty_.WriteMaster("unread"));
    std::uint32_t mask = 0;
    ASSERT_EQ(device_.WaitEvent(mask), 1);
    ASSERT_EQ(device_.Flush(1), 0);
    COMSTAT status;
    device_.ClearErrors(status);
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_EQ(device_.Flush(2), -ERROR_INVALID_PARAMETER);

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

TEST_F(PosixDevice, HangUpIsReportedOnceThenEverythingFailsCleanly) {
    OpenPort();
    // The event worker's loop: it goes on until the device is gone for good.
    auto errorReports = std::async(std::launch::async, [&] {
        int reports = 0;
        std::uint32_t mask = 0;
        for (int result; (result = device_.WaitEvent(mask)) >= 0;)
            reports += result == 1 && mask == EV_ERR;
        return reports;
    });
    pty_.CloseMaster();
    EXPECT_EQ(errorReports.get(), 1);

    // Every later call fails at once, without touching the descriptor.
    COMSTAT status;
    device_.ClearErrors(status);
    EXPECT_EQ(status.cbInQue, 0u);
    char buffer[16];
    EXPECT_LT(device_.Read(buffer, sizeof buffer), 0);
    EXPECT_LT(device_.WriteRun("x", 1), 0);
    EXPECT_LT(device_.WaitWritable(), 0);
    EXPECT_EQ(device_.CloseHandle(), 0);
}

}  // namespace
}  // namespace sio
