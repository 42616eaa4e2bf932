// The kernel32 serial services the Windows device layer calls, reached
// through one table of function pointers. Production code never changes the
// table; a test may wrap entries to record the order of calls the device
// sees, then restore them.
#pragma once

#include "serial/win32/windows_api.h"

namespace sio {

struct Kernel32Calls {
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::CreateEventA) CreateEventA = ::CreateEventA;
    decltype(&::CloseHandle) CloseHandle = ::CloseHandle;
    decltype(&::SetupComm) SetupComm = ::SetupComm;
    decltype(&::GetCommState) GetCommState = ::GetCommState;
    decltype(&::SetCommState) SetCommState = ::SetCommState;
    decltype(&::SetCommTimeouts) SetCommTimeouts = ::SetCommTimeouts;
    decltype(&::SetCommMask) SetCommMask = ::SetCommMask;
    decltype(&::WaitCommEvent) WaitCommEvent = ::WaitCommEvent;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::WriteFile) WriteFile = ::WriteFile;
    decltype(&::GetOverlappedResult) GetOverlappedResult = ::GetOverlappedResult;
    decltype(&::ClearCommError) ClearCommError = ::ClearCommError;
    decltype(&::PurgeComm) PurgeComm = ::PurgeComm;
    decltype(&::EscapeCommFunction) EscapeCommFunction = ::EscapeCommFunction;
    decltype(&::GetCommModemStatus) GetCommModemStatus = ::GetCommModemStatus;
    decltype(&::CancelIoEx) CancelIoEx = ::CancelIoEx;
    decltype(&::FlushFileBuffers) FlushFileBuffers = ::FlushFileBuffers;
};

// The process-wide table (set up before any port opens; not locked).
Kernel32Calls& Kernel32();

}  // namespace sio
