// The UUCP lock file: how serial programs on Linux tell each other that a
// port is in use. While a program holds a port, the lock folder holds
// LCK..NAME, NAME being the device's path below /dev with every further '/'
// made '_' (/dev/ttyUSB0 gives LCK..ttyUSB0, /dev/pts/3 LCK..pts_3); the
// file holds the holder's PID as ten characters, right-aligned, and a
// newline. A lock whose process is gone is stale and may be removed.
//
// The lock folder is $SIO_LOCK_DIR when set (tests keep their own), else
// /run/lock.
#pragma once

#include <string>

namespace sio {

class UucpLock {
public:
    enum class Outcome {
        Held,     // the lock file is ours until Release
        InUse,    // a live process holds the port
        NotMade,  // no lock could be made (the folder is not writable) and
                  // nobody else holds one: the port may be used without
    };

    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    // Locks the device `path` names; symbolic links are followed first, so
    // every name of a device gives the same lock.
    Outcome Acquire(const std::string& path);
    // Removes the lock file if it still names this process.
    void Release();

private:
    std::string lockPath_;  // empty unless held
};

}  // namespace sio
