// The device layer under test on Windows: TSioWin32Dispatcher.
#include "line_backend.h"
#include "serial/win32/win32_dispatcher.h"

namespace sio::contract {

std::unique_ptr<TSioBaseDispatcher> MakeDeviceLayer() { return std::make_unique<TSioWin32Dispatcher>(); }

}  // namespace sio::contract
