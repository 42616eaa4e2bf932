// The Linux device layer's own view of a pseudo-terminal: its descriptor,
// paths that are no serial port, the exclusive flag, ports other programs
// hold, lock files, port availability and RS-485 without the driver's help. What every device layer does on every
// line is in the contract suite (tests/serial/contract).
#include "serial/posix/posix_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <fstream>
#include <sstream>
#include <string>

#include "holding_process.h"
#include "port_dir.h"
#include "proc_entries.h"
#include "pty_pair.h"
#include "serial/core/port_available.h"
#include "serial/posix/port_map.h"
#include "serial/posix/uucp_lock.h"
#include "serial/errors/result_codes.h"
#include "scoped_env.h"

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

// --- other programs' ports -----------------------------------------------

// The whole file, or "(none)" when there is no such file.
std::string FileText(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        return "(none)";
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

tcflag_t LocalModes(int master) {
    termios tio{};
    EXPECT_EQ(::tcgetattr(master, &tio), 0);  // a pty's master shows the slave's settings
    return tio.c_lflag & (ICANON | ECHO);
}

TEST_F(PosixDevice, PortsOfOtherProgramsAreLeftAloneAndOurLockFileComesAndGoes) {
    // COM3 reaches the device through a second link, as /dev/serial/by-id
    // names an adapter: the lock is named from the device itself.
    auto linkThroughAlias = [&](const test::PtyPair& pty) {
        std::string alias = ports_.path() + "/by-id";
        ::unlink(alias.c_str());
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), alias.c_str()), 0);
        ports_.Link(3, alias);
    };
    auto lockFileOf = [&](const test::PtyPair& pty) {
        return ports_.path() + "/LCK..pts_" + pty.slavePath().substr(std::string("/dev/pts/").size());
    };

    for (test::Hold how : {test::Hold::LockFile, test::Hold::Flock, test::Hold::Exclusive}) {
        SCOPED_TRACE(testing::Message() << "held by way " << static_cast<int>(how));
        test::PtyPair pty;  // a fresh terminal: TIOCEXCL outlives its holder
        linkThroughAlias(pty);
        std::string lockFile = lockFileOf(pty);
        test::HoldingProcess holder(test::HoldTerminal(pty.slavePath(), pty.master(), how, lockFile));
        ASSERT_TRUE(holder.Ready());
        std::string lockText = FileText(lockFile);
        EXPECT_TRUE(IsPortAvailable(3));  // a port in use is still a port
        PosixSerialDevice device;
        EXPECT_EQ(device.Open(DeviceNameFor(3)), -ERROR_ACCESS_DENIED);
        EXPECT_EQ(FileText(lockFile), lockText);  // the holder's lock, or none, as it was
        EXPECT_EQ(holder.Finish(), 0) << "1: the holder's settings changed, 2: its unread input";
    }

    test::PtyPair pty;
    linkThroughAlias(pty);
    std::string lockFile = lockFileOf(pty);
    // A program that held the port by our lock and was killed leaves the
    // file behind; the next opener takes it for stale.
    test::HoldingProcess killed([&](const std::function<void()>& hold) {
        UucpLock lock;
        if (lock.Acquire(pty.slavePath()) != UucpLock::Outcome::Held)
            return 1;
        hold();
        return 0;
    });
    ASSERT_TRUE(killed.Ready());
    pid_t killedPid = killed.Pid();
    killed.Kill();
    EXPECT_EQ(FileText(lockFile), test::LockFileText(killedPid));
    ASSERT_EQ(LocalModes(pty.master()), tcflag_t{ICANON | ECHO});

    PosixSerialDevice device;
    ASSERT_GE(device.Open(DeviceNameFor(3)), 0);
    EXPECT_EQ(FileText(lockFile), test::LockFileText(::getpid()));
    EXPECT_EQ(LocalModes(pty.master()), tcflag_t{0});  // raw while open
    EXPECT_EQ(device.CloseHandle(), 0);
    EXPECT_EQ(FileText(lockFile), "(none)");
    EXPECT_EQ(LocalModes(pty.master()), tcflag_t{ICANON | ECHO});  // as the open found it

    // A lock file that another program put in our place is its own.
    ASSERT_GE(device.Open(DeviceNameFor(3)), 0);
    std::string theirs = test::LockFileText(::getppid());
    std::ofstream(lockFile, std::ios::trunc) << theirs;
    EXPECT_EQ(device.CloseHandle(), 0);
    EXPECT_EQ(FileText(lockFile), theirs);
    ::unlink(lockFile.c_str());

    // Where no lock file can be made, the port opens all the same.
    test::ScopedEnv noFolder("SIO_LOCK_DIR", ports_.path() + "/missing");
    ASSERT_GE(device.Open(DeviceNameFor(3)), 0);
    EXPECT_EQ(device.CloseHandle(), 0);
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
