// On Linux the component's dispatchers are the termios device layer's.
#include "serial/core/native_dispatcher.h"

#include "serial/posix/posix_dispatcher.h"

namespace sio {

std::unique_ptr<TSioBaseDispatcher> CreateNativeDispatcher(TSioCustomComPort* owner) {
    return std::make_unique<TSioPosixDispatcher>(owner);
}

std::unique_ptr<TSioBaseDispatcher> CreateTapiDispatcher(TSioCustomComPort* owner, int deviceHandle) {
    return std::make_unique<TSioTAPI32Dispatcher>(owner, deviceHandle);
}

}  // namespace sio
