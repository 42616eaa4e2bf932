// On Windows the component's dispatchers are the kernel32 device layer's.
#include "serial/core/native_dispatcher.h"

#include "serial/win32/win32_dispatcher.h"

namespace sio {

std::unique_ptr<TSioBaseDispatcher> CreateNativeDispatcher(TSioCustomComPort* owner) {
    return std::make_unique<TSioWin32Dispatcher>(owner);
}

std::unique_ptr<TSioBaseDispatcher> CreateTapiDispatcher(TSioCustomComPort* owner, int deviceHandle) {
    return std::make_unique<TSioTAPI32Dispatcher>(owner, deviceHandle);
}

}  // namespace sio
