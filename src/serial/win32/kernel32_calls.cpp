#include "serial/win32/kernel32_calls.h"

namespace sio {

Kernel32Calls& Kernel32() {
    static Kernel32Calls calls;
    return calls;
}

}  // namespace sio
