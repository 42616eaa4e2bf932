// Counts of what this process holds, for tests that nothing leaks: the
// Windows counterparts of the Linux edition's /proc/self entries.
#pragma once

// After the component's own Windows-named records, which <windows.h>
// would otherwise rewrite.
#include "serial/win32/windows_api.h"
#include <psapi.h>
#include <tlhelp32.h>

namespace sio::test {

// Open handles ("fd", a descriptor's counterpart) or threads ("task").
inline int CountProcEntries(const char* what) {
    if (what[0] == 'f') {
        DWORD handles = 0;
        return ::GetProcessHandleCount(::GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
    return count;
}

// The process's working set in KiB, resident memory's counterpart.
inline long ResidentKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

}  // namespace sio::test
