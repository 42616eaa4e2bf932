// The Linux device layer's own view of a pseudo-terminal: its descriptor,
// paths that are no serial port, the exclusive flag, port availability and
// RS-485 without the driver's help. What every device layer does on every
// line is in the contract suite (tests/serial/contract).
#include "serial/posix/posix_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <string>

#include "port_dir.h"
#include "proc_entries.h"
#include "pty_pair.h"
#include "serial/core/port_available.h"
#include "serial/posix/port_map.h"
#include "serial/errors/result_codes.h"

namespace sio {
namespace {

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

class PosixDevice : public ::testing::Test {
protected:
    void SetUp() override { ports_.Link(3, pty_.slavePath()); }

    // Opens COM3 and sets the event mask the event worker uses.
    void OpenPort() {
        ASSERT_GE(device_.Open(DeviceNameFor(3)), 0);
        device_.SetEventMask(kWorkerMask);
    }

    test::ScopedPortDir ports_;
    test::PtyPair pty_;
    PosixSerialDevice device_;
};

// --- opening --------------------------------------------------------------

TEST_F(PosixDevice, HandleIsTheDescriptorUntilClosed) {
    int handle = device_.Open("\\\\.\\COM3");
    ASSERT_GE(handle, 0);
    EXPECT_EQ(device_.Handle(), handle);
    EXPECT_EQ(device_.CloseHandle(), 0);
    EXPECT_EQ(device_.Handle(), -1);
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

}  // namespace
}  // namespace sio
