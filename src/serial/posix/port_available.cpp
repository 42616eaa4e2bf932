#include "serial/core/port_available.h"

#include "serial/core/comm_types.h"
#include "serial/posix/port_map.h"
#include "serial/posix/posix_device.h"

namespace sio {

bool IsPortAvailable(int number) {
    if (number <= 0)
        return false;
    PosixSerialDevice probe;
    int handle = probe.Open(DeviceNameFor(number));
    if (handle >= 0) {
        probe.CloseHandle();
        return true;
    }
    return handle == -ERROR_ACCESS_DENIED;
}

}  // namespace sio
