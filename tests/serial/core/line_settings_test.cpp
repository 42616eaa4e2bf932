#include "dispatcher_test_support.h"

#include "serial/errors/result_codes.h"

using namespace sio;

namespace {

// A driver's block as a freshly opened port might report it.
DCB DriverDefaults() {
    DCB record;
    record.BaudRate = 115200;
    record.ByteSize = 8;
    record.Parity = NOPARITY;
    record.StopBits = ONESTOPBIT;
    record.fBinary = 1;
    record.fNull = 1;
    record.XonChar = 0x11;
    record.XoffChar = 0x13;
    return record;
}

}  // namespace

class LineSettingsTest : public DispatcherTest {
protected:
    void SetUp() override {
        d->SetDeviceLine(DriverDefaults());
        Open(64, optDtrLevel);
    }
};

TEST_F(LineSettingsTest, TheMainWindowsPortEndsWithTheDesignedControlBlock) {
    // The component's open sequence for SioComPort1: line settings at open,
    // then flow control, characters, DTR, RTS and RS-485 (which re-applies
    // the hardware flow settings).
    ASSERT_EQ(d->ApplyHardwareFlow(35748, 10240, 0), 0);
    ASSERT_EQ(d->SoftwareFlowOff(), 0);
    ASSERT_EQ(d->ApplyFlowChars(17, 19), 0);
    ASSERT_EQ(d->DriveDTR(true), 0);
    ASSERT_EQ(d->DriveRTS(false), 0);
    d->SwitchRS485(true);
    ASSERT_EQ(d->ApplyHardwareFlow(35748, 10240, 0), 0);
    const auto escapes = d->Escapes().size();
    EXPECT_EQ(d->DriveRTS(false), ecNothingDone);  // the driver toggles RTS now
    EXPECT_EQ(d->Escapes().size(), escapes);

    const DCB line = d->DeviceLine();
    EXPECT_EQ(line.BaudRate, 9600u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, 0);
    EXPECT_EQ(line.StopBits, 0);
    EXPECT_EQ(line.fBinary, 1u);
    EXPECT_EQ(line.fParity, 0u);
    EXPECT_EQ(line.fOutxCtsFlow, 0u);
    EXPECT_EQ(line.fOutxDsrFlow, 0u);
    EXPECT_EQ(line.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(line.fDsrSensitivity, 0u);
    EXPECT_EQ(line.fTXContinueOnXoff, 1u);
    EXPECT_EQ(line.fOutX, 0u);
    EXPECT_EQ(line.fInX, 0u);
    EXPECT_EQ(line.fNull, 0u);
    EXPECT_EQ(line.XonLim, 10240);
    EXPECT_EQ(line.XoffLim, 5212);
    EXPECT_EQ(line.XonChar, 0x11);
    EXPECT_EQ(line.XoffChar, 0x13);
    EXPECT_EQ(line.fRtsControl, RTS_CONTROL_TOGGLE);
    EXPECT_EQ(d->OutputWorkerPriority(), 1);  // a step above the others in RS-485 mode
}

TEST_F(LineSettingsTest, KeepCodesLeaveEachValueAsTheDeviceHasIt) {
    const int writes = d->SetLineCount();
    EXPECT_EQ(d->ConfigureLine(0, 5, 9, 3), 0);
    EXPECT_EQ(d->ConfigureLine(9600, 0, 8, 1), 0);  // equal settings: nothing written
    EXPECT_EQ(d->SetLineCount(), writes);

    ASSERT_EQ(d->ConfigureLine(19200, 5, 9, 3), 0);
    DCB line = d->DeviceLine();
    EXPECT_EQ(line.BaudRate, 19200u);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);

    ASSERT_EQ(d->ConfigureLine(0, 2, 7, 2), 0);
    line = d->DeviceLine();
    EXPECT_EQ(line.BaudRate, 19200u);
    EXPECT_EQ(line.Parity, EVENPARITY);
    EXPECT_EQ(line.ByteSize, 7);
    EXPECT_EQ(line.StopBits, TWOSTOPBITS);
    EXPECT_EQ(line.fParity, 0u);  // no parity checking, whatever the parity

    ASSERT_EQ(d->ConfigureLine(0, 5, 9, 7), 0);  // above 2 counts as 2: unchanged
    EXPECT_EQ(d->SetLineCount(), writes + 2);
}

TEST_F(LineSettingsTest, FiveDataBitsWithTwoStopBitsGiveOneAndAHalf) {
    ASSERT_EQ(d->ConfigureLine(0, 5, 5, 2), 0);
    EXPECT_EQ(d->DeviceLine().ByteSize, 5);
    EXPECT_EQ(d->DeviceLine().StopBits, ONE5STOPBITS);
}

TEST_F(LineSettingsTest, InconsistentFlowLimitsAreRefusedBeforeAnythingChanges) {
    const DCB before = d->DeviceLine();
    const int writes = d->SetLineCount();
    EXPECT_EQ(d->ApplyHardwareFlow(100, 200, kHwFlowUseRts), ecBadArgument);
    EXPECT_EQ(d->ApplyHardwareFlow(50000, 100, 0), ecBadArgument);  // above the input size
    EXPECT_EQ(d->ApplySoftwareFlow(100, 200, kSwFlowReceive), ecBadArgument);
    EXPECT_EQ(d->SetLineCount(), writes);
    EXPECT_EQ(d->DeviceLine(), before);
    EXPECT_EQ(d->CurrentLineRecord().fRtsControl, before.fRtsControl);
}

TEST_F(LineSettingsTest, LinesUnderHardwareFlowAreNotDriven) {
    ASSERT_EQ(d->ApplyHardwareFlow(30000, 10000, kHwFlowUseDtr | kHwFlowRequireCts), 0);
    DCB line = d->DeviceLine();
    EXPECT_EQ(line.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(line.fOutxCtsFlow, 1u);
    EXPECT_EQ(line.XoffLim, 40960 - 30000);
    const auto escapes = d->Escapes().size();
    EXPECT_EQ(d->DriveDTR(false), ecNothingDone);
    EXPECT_EQ(d->Escapes().size(), escapes);

    // The refused level was not stored: without flow control DTR is on again.
    ASSERT_EQ(d->ApplyHardwareFlow(30000, 10000, 0), 0);
    EXPECT_EQ(d->DeviceLine().fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d->DriveDTR(false), 0);
    EXPECT_EQ(d->Escapes().back(), CLRDTR);
}

TEST_F(LineSettingsTest, SoftwareFlowSetsTheCharactersAndLimits) {
    ASSERT_EQ(d->ApplyFlowChars(1, 2), 0);
    ASSERT_EQ(d->ApplySoftwareFlow(30000, 10000, kSwFlowReceive | kSwFlowTransmit), 0);
    DCB line = d->DeviceLine();
    EXPECT_EQ(line.fInX, 1u);
    EXPECT_EQ(line.fOutX, 1u);
    EXPECT_EQ(line.XonChar, 0x11);
    EXPECT_EQ(line.XoffChar, 0x13);
    EXPECT_EQ(line.XoffLim, 10960);
    ASSERT_EQ(d->SoftwareFlowOff(), 0);
    line = d->DeviceLine();
    EXPECT_EQ(line.fInX, 0u);
    EXPECT_EQ(line.fOutX, 0u);
}

// Every parity, each data-bit count and each stop-bit code, as they reach
// the device while the port is open; the rows differ in every value so a
// value taken from the wrong argument shows.
TEST_F(LineSettingsTest, EachLineValueSetWhileOpenReachesTheDevice) {
    struct Row {
        int baud, parity, dataBits, stopBits;
        std::uint32_t wantBaud;
        std::uint8_t wantParity, wantSize, wantStop;
    };
    const Row rows[] = {
        {1200, ODDPARITY, 7, 1, 1200, ODDPARITY, 7, ONESTOPBIT},
        {2400, MARKPARITY, 6, 2, 2400, MARKPARITY, 6, TWOSTOPBITS},
        {4800, SPACEPARITY, 8, 2, 4800, SPACEPARITY, 8, TWOSTOPBITS},
        {38400, EVENPARITY, 5, 1, 38400, EVENPARITY, 5, ONE5STOPBITS},
        {57600, NOPARITY, 8, 0, 57600, NOPARITY, 8, ONESTOPBIT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baud);
        ASSERT_EQ(d->ConfigureLine(row.baud, row.parity, row.dataBits, row.stopBits), 0);
        const DCB line = d->DeviceLine();
        EXPECT_EQ(line.BaudRate, row.wantBaud);
        EXPECT_EQ(line.Parity, row.wantParity);
        EXPECT_EQ(line.ByteSize, row.wantSize);
        EXPECT_EQ(line.StopBits, row.wantStop);
    }
}

TEST_F(LineSettingsTest, FlowCharactersAndDtrSetWhileOpenReachTheDevice) {
    ASSERT_EQ(d->ApplyFlowChars(0x21, 0x23), 0);
    EXPECT_EQ(d->DeviceLine().XonChar, 0x21);
    EXPECT_EQ(d->DeviceLine().XoffChar, 0x23);

    ASSERT_EQ(d->DriveDTR(false), 0);
    EXPECT_EQ(d->Escapes().back(), CLRDTR);
    ASSERT_EQ(d->DriveDTR(true), 0);
    EXPECT_EQ(d->Escapes().back(), SETDTR);
    // A later line change keeps the level the owner chose.
    ASSERT_EQ(d->DriveDTR(false), 0);
    ASSERT_EQ(d->ConfigureLine(4800, NOPARITY, 7, 1), 0);
    EXPECT_EQ(d->DeviceLine().fDtrControl, DTR_CONTROL_DISABLE);
}
