#include "serial/posix/posix_dispatcher.h"

namespace sio {

TSioPosixDispatcher::TSioPosixDispatcher(TSioCustomComPort* owner) : TSioBaseDispatcher(owner) {}

TSioPosixDispatcher::TSioPosixDispatcher(TSioCustomComPort* owner, int adoptedFd)
    : TSioBaseDispatcher(owner), Device(adoptedFd) {}

TSioPosixDispatcher::~TSioPosixDispatcher() {
    // The shutdown still needs the device primitives, which are gone once
    // the base destructor runs.
    BeforeDestruction();
}

int TSioPosixDispatcher::DeviceEscape(int code) { return Device.Escape(code); }
int TSioPosixDispatcher::DeviceGetLine(DCB& record) { return Device.GetLine(record); }
int TSioPosixDispatcher::DeviceRead(char* buffer, int n) { return Device.Read(buffer, n); }
int TSioPosixDispatcher::DeviceSetLine(const DCB& record) { return Device.SetLine(record); }
int TSioPosixDispatcher::DeviceWaitEvent(std::uint32_t& mask) { return Device.WaitEvent(mask); }

int TSioPosixDispatcher::DeviceSetupQueues(int inSize, int outSize) {
    return Device.SetupQueues(inSize, outSize);
}

int TSioPosixDispatcher::DeviceOpen(const std::string& name, int, int) {
    return Device.Open(name);
}

int TSioPosixDispatcher::DeviceCloseHandle() { return Device.CloseHandle(); }

std::uint32_t TSioPosixDispatcher::DeviceClearErrors(COMSTAT& status) {
    return Device.ClearErrors(status);
}

std::uint32_t TSioPosixDispatcher::DeviceModemStatus() { return Device.ModemStatus(); }
void TSioPosixDispatcher::DeviceSetEventMask(std::uint32_t mask) { Device.SetEventMask(mask); }

int TSioPosixDispatcher::DeviceWriteRun(const char* data, int n) {
    return Device.WriteRun(data, n);
}

int TSioPosixDispatcher::DeviceWaitWritable() { return Device.WaitWritable(); }
void TSioPosixDispatcher::DeviceCancelWrite() { Device.CancelWrite(); }
void TSioPosixDispatcher::DeviceEndTransmission() { Device.EndTransmission(); }
int TSioPosixDispatcher::DeviceDrainOutput() { return Device.DrainOutput(); }
int TSioPosixDispatcher::DeviceFlush(int which) { return Device.Flush(which); }

TSioTAPI32Dispatcher::TSioTAPI32Dispatcher(TSioCustomComPort* owner, int deviceHandle)
    : TSioPosixDispatcher(owner, deviceHandle) {}

}  // namespace sio
