// The kernel's termios2 is used here, as in the code under test; the C
// library's <termios.h> cannot be included beside it.
#include "serial/posix/termios_line.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "pty_pair.h"
#include "serial/posix/unique_fd.h"

namespace sio {
namespace {

// The block the main window's port ends up with.
DCB MainWindowRecord() {
    DCB record;
    record.BaudRate = 9600;
    record.ByteSize = 8;
    record.Parity = NOPARITY;
    record.StopBits = ONESTOPBIT;
    record.fBinary = 1;
    record.fDtrControl = DTR_CONTROL_ENABLE;
    record.fTXContinueOnXoff = 1;
    record.fRtsControl = RTS_CONTROL_TOGGLE;
    record.XonLim = 10240;
    record.XoffLim = 5212;
    return record;
}

termios2 Converted(const DCB& record) {
    termios2 tio{};
    LineRecordToTermios(record, tio);
    return tio;
}

TEST(LineRecordCheck, RefusesBlocksNoDriverTakes) {
    EXPECT_EQ(CheckLineRecord(MainWindowRecord()), 0);
    auto refused = [](auto change) {
        DCB record = MainWindowRecord();
        change(record);
        return CheckLineRecord(record) == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(refused([](DCB& r) { r.BaudRate = 0; }));  // would hang the line up
    EXPECT_TRUE(refused([](DCB& r) { r.ByteSize = 4; }));
    EXPECT_TRUE(refused([](DCB& r) { r.ByteSize = 9; }));
    EXPECT_TRUE(refused([](DCB& r) { r.Parity = 5; }));
    EXPECT_TRUE(refused([](DCB& r) { r.StopBits = 3; }));
    EXPECT_TRUE(refused([](DCB& r) {
        r.fOutX = 1;
        r.XonChar = r.XoffChar = 0x11;
    }));
}

TEST(LineRecordToTermios, EitherHardwareFlowFieldSwitchesRtsCts) {
    DCB ctsOnly = MainWindowRecord();
    ctsOnly.fRtsControl = RTS_CONTROL_ENABLE;
    EXPECT_FALSE(Converted(ctsOnly).c_cflag & CRTSCTS);
    ctsOnly.fOutxCtsFlow = 1;
    EXPECT_TRUE(Converted(ctsOnly).c_cflag & CRTSCTS);
    DCB rtsOnly = MainWindowRecord();
    rtsOnly.fRtsControl = RTS_CONTROL_HANDSHAKE;
    EXPECT_TRUE(Converted(rtsOnly).c_cflag & CRTSCTS);
}

// A terminal opened with parity already set (by another program, or by the
// driver's defaults) is taken over as it is.
TEST(InitialLineRecord, ParityIsReadFromTheTerminalAsItStands) {
    struct Case {
        tcflag_t flags;
        std::uint8_t parity;
    };
    const Case cases[] = {
        {0, NOPARITY},
        {PARENB, EVENPARITY},
        {PARENB | PARODD, ODDPARITY},
        {PARENB | CMSPAR | PARODD, MARKPARITY},
        {PARENB | CMSPAR, SPACEPARITY},
    };
    for (const Case& c : cases) {
        termios2 tio{};
        tio.c_cflag = CS7 | CREAD | CLOCAL | B9600 | c.flags;
        SCOPED_TRACE(c.flags);
        DCB record = InitialLineRecord(tio);
        EXPECT_EQ(record.Parity, c.parity);
        EXPECT_EQ(record.ByteSize, 7);
        EXPECT_EQ(record.BaudRate, 9600u);
    }
}

TEST(LineRecordFromTermios, FieldsTermiosLacksComeFromTheShadow) {
    DCB record = MainWindowRecord();
    record.ByteSize = 7;
    record.Parity = EVENPARITY;
    record.fDsrSensitivity = 1;
    record.fNull = 1;
    record.EofChar = 0x1A;
    termios2 tio = Converted(record);
    // What a pseudo-terminal makes of it.
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB)) | CS8;
    EXPECT_EQ(LineRecordFromTermios(tio, record), record);
}

TEST(LineRecordFromTermios, OneAndAHalfStopBitsSurviveTheRoundTrip) {
    DCB record = MainWindowRecord();
    record.ByteSize = 5;
    record.StopBits = ONE5STOPBITS;
    EXPECT_EQ(LineRecordFromTermios(Converted(record), record).StopBits, ONE5STOPBITS);
}

TEST(LineRecordFromTermios, ChangesMadeBehindOurBackWin) {
    DCB shadow = MainWindowRecord();
    shadow.fRtsControl = RTS_CONTROL_ENABLE;
    termios2 tio = Converted(shadow);
    tio.c_cflag |= CRTSCTS | CSTOPB;
    tio.c_iflag |= IXON;
    DCB read = LineRecordFromTermios(tio, shadow);
    EXPECT_EQ(read.fOutxCtsFlow, 1u);
    EXPECT_EQ(read.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(read.StopBits, TWOSTOPBITS);
    EXPECT_EQ(read.fOutX, 1u);
}

class TermiosOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        slave_.reset(::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(slave_);
    }
    termios2 MasterView() {
        termios2 tio{};
        EXPECT_EQ(::ioctl(pty_.master(), TCGETS2, &tio), 0);
        return tio;
    }
    test::PtyPair pty_;
    UniqueFd slave_;
};

TEST_F(TermiosOnPty, CustomBaudRateIsSetAndReadBack) {
    DCB record = MainWindowRecord();
    record.BaudRate = 250000;
    record.ByteSize = 7;  // forced back to CS8 by the pty: no failure
    record.Parity = EVENPARITY;
    ASSERT_EQ(WriteLineSettings(slave_.get(), record, TerminalKind::Pseudo), 0);
    EXPECT_EQ(BaudRateOf(MasterView()), 250000u);
    record.BaudRate = 19200;
    ASSERT_EQ(WriteLineSettings(slave_.get(), record, TerminalKind::Pseudo), 0);
    termios2 view = MasterView();
    EXPECT_EQ(view.c_cflag & CBAUD, tcflag_t{B19200});
}

TEST_F(TermiosOnPty, RefusedBlockLeavesTheLineAsItWas) {
    DCB record = MainWindowRecord();
    ASSERT_EQ(WriteLineSettings(slave_.get(), record, TerminalKind::Pseudo), 0);
    record.BaudRate = 19200;
    record.ByteSize = 9;
    EXPECT_EQ(WriteLineSettings(slave_.get(), record, TerminalKind::Pseudo), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(BaudRateOf(MasterView()), 9600u);
}

TEST_F(TermiosOnPty, ForcedCharacterSizeIsRefusedOnASerialTerminal) {
    DCB record = MainWindowRecord();
    record.ByteSize = 7;
    record.Parity = ODDPARITY;
    // The pty holds CS8 and no parity: a serial driver doing so did not
    // take the setting.
    EXPECT_EQ(WriteLineSettings(slave_.get(), record, TerminalKind::Serial), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MasterView().c_cflag & (CSIZE | PARENB), tcflag_t{CS8});
}

TEST_F(TermiosOnPty, ANonTerminalIsReported) {
    UniqueFd file(::open("/dev/null", O_RDWR | O_CLOEXEC));
    EXPECT_EQ(WriteLineSettings(file.get(), MainWindowRecord(), TerminalKind::Pseudo), ERROR_INVALID_FUNCTION);
}

}  // namespace
}  // namespace sio
