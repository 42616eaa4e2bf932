// TSioPosixDispatcher: the dispatcher of a serial port on Linux. The core
// (TSioBaseDispatcher) runs the rings, workers and triggers; every device
// primitive it needs is forwarded to a PosixSerialDevice, which owns the
// descriptor and keeps the primitives safe to call from the workers at once.
//
// TSioTAPI32Dispatcher is the telephony variant: the same dispatcher over a
// descriptor that was opened elsewhere (the component's TapiDeviceHandle).
#pragma once

#include <cstdint>
#include <string>

#include "serial/core/dispatcher.h"
#include "serial/posix/posix_device.h"

namespace sio {

class TSioPosixDispatcher : public TSioBaseDispatcher {
public:
    explicit TSioPosixDispatcher(TSioCustomComPort* owner = nullptr);
    ~TSioPosixDispatcher() override;

protected:
    // For the telephony variant: the device adopts `adoptedFd`.
    TSioPosixDispatcher(TSioCustomComPort* owner, int adoptedFd);

    int DeviceEscape(int code) override;
    int DeviceGetLine(DCB& record) override;
    int DeviceRead(char* buffer, int n) override;
    int DeviceSetLine(const DCB& record) override;
    int DeviceWaitEvent(std::uint32_t& mask) override;
    int DeviceSetupQueues(int inSize, int outSize) override;
    int DeviceOpen(const std::string& name, int inSize, int outSize) override;
    int DeviceCloseHandle() override;
    std::uint32_t DeviceClearErrors(COMSTAT& status) override;
    std::uint32_t DeviceModemStatus() override;
    void DeviceSetEventMask(std::uint32_t mask) override;
    int DeviceWriteRun(const char* data, int n) override;
    int DeviceWaitWritable() override;
    void DeviceCancelWrite() override;
    int DeviceFlush(int which) override;
    void DeviceEndTransmission() override;
    int DeviceDrainOutput() override;

    PosixSerialDevice Device;
};

class TSioTAPI32Dispatcher : public TSioPosixDispatcher {
public:
    // `deviceHandle` is the descriptor the telephony layer opened; 0 means
    // none, and opening then fails with -2007 ("device not open").
    TSioTAPI32Dispatcher(TSioCustomComPort* owner, int deviceHandle);
};

}  // namespace sio
