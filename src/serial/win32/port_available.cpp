#include "serial/core/port_available.h"

#include "serial/win32/kernel32_calls.h"

#include <string>

namespace sio {

// The device layer's own open, let go at once: a port another program holds
// refuses it with "access denied" and still counts as a port.
bool IsPortAvailable(int number) {
    if (number <= 0) return false;
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    HANDLE probe = Kernel32().CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
    Kernel32().CloseHandle(probe);
    return true;
}

}  // namespace sio
