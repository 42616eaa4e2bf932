// The device layer under test on Linux: TSioPosixDispatcher.
#include "line_backend.h"
#include "serial/posix/posix_dispatcher.h"

namespace sio::contract {

std::unique_ptr<TSioBaseDispatcher> MakeDeviceLayer() { return std::make_unique<TSioPosixDispatcher>(); }

}  // namespace sio::contract
