// The dispatcher the component creates for an open: this platform's device
// layer (posix/ on Linux, win32/ on Windows). Each platform's build links
// the one device layer that defines these, so the component names neither.
#pragma once

#include <memory>

namespace sio {

class TSioBaseDispatcher;
class TSioCustomComPort;

// The device layer for a port opened by name ("\\.\COM3").
std::unique_ptr<TSioBaseDispatcher> CreateNativeDispatcher(TSioCustomComPort* owner);

// The telephony variant: a dispatcher over a device handle opened elsewhere
// (0: none; opening then fails with "device not open").
std::unique_ptr<TSioBaseDispatcher> CreateTapiDispatcher(TSioCustomComPort* owner, int deviceHandle);

}  // namespace sio
