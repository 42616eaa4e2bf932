#include "serial/posix/uucp_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "serial/posix/unique_fd.h"

namespace sio {

namespace {

std::string LockFolder() {
    const char* folder = ::getenv("SIO_LOCK_DIR");
    return folder && *folder ? folder : "/run/lock";
}

// LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3: the name other
// serial programs give the same device.
std::string LockName(const std::string& device) {
    std::string name = device;
    const std::string dev = "/dev/";
    if (name.compare(0, dev.size(), dev) == 0)
        name.erase(0, dev.size());
    else
        name.erase(0, name.find_last_of('/') + 1);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

// The PID a lock file names: -1 when there is no such file, 0 when it names
// none (empty, or not the decimal form).
long LockOwner(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return errno == ENOENT ? -1 : 0;
    char text[32] = {};
    ssize_t n = ::read(fd.get(), text, sizeof text - 1);
    if (n <= 0)
        return 0;
    char* end = nullptr;
    long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 ? pid : 0;
}

enum class Holder { None, Live, Gone };

Holder HolderOf(const std::string& path) {
    long pid = LockOwner(path);
    if (pid < 0)
        return Holder::None;
    // A file that names no process cannot be told from a crashed writer's
    // remains; lock programs treat both as stale.
    if (pid == 0)
        return Holder::Gone;
    // EPERM: the process lives under another user.
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return Holder::Gone;
    return Holder::Live;
}

// Writes our PID into a file of its own beside the lock, for link() to put
// under the lock's name in one step: nobody ever sees a lock half written.
bool WriteTemporary(const std::string& temporary) {
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd && errno == EEXIST) {
        // Left by an earlier process of our PID that died before removing it.
        (void)::unlink(temporary.c_str());
        fd.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    }
    if (!fd)
        return false;
    // Readable by every program that honours the lock, whatever our umask.
    (void)::fchmod(fd.get(), 0644);
    char content[16];
    int length = std::snprintf(content, sizeof content, "%10ld\n", static_cast<long>(::getpid()));
    bool written = ::write(fd.get(), content, static_cast<size_t>(length)) == length;
    if (!written)
        (void)::unlink(temporary.c_str());
    return written;
}

}  // namespace

UucpLock::Outcome UucpLock::Acquire(const std::string& path) {
    Release();
    char resolved[PATH_MAX];
    std::string device = ::realpath(path.c_str(), resolved) ? resolved : path;
    std::string folder = LockFolder();
    std::string name = LockName(device);
    std::string lockPath = folder + "/" + name;
    std::string temporary = folder + "/LTMP." + std::to_string(::getpid()) + "." + name;

    if (!WriteTemporary(temporary))
        return HolderOf(lockPath) == Holder::Live ? Outcome::InUse : Outcome::NotMade;
    // A few rounds: a stale lock removed here may be replaced by another
    // program's before our link. One that keeps coming back is in use.
    Outcome outcome = Outcome::InUse;
    for (int round = 0; round < 3; ++round) {
        if (::link(temporary.c_str(), lockPath.c_str()) == 0) {
            lockPath_ = lockPath;
            outcome = Outcome::Held;
            break;
        }
        if (errno != EEXIST) {
            // A folder without hard links: go on without a lock of ours.
            outcome = HolderOf(lockPath) == Holder::Live ? Outcome::InUse : Outcome::NotMade;
            break;
        }
        Holder holder = HolderOf(lockPath);
        if (holder == Holder::Live) {
            outcome = Outcome::InUse;
            break;
        }
        if (holder == Holder::Gone)
            (void)::unlink(lockPath.c_str());
    }
    (void)::unlink(temporary.c_str());
    return outcome;
}

void UucpLock::Release() {
    if (lockPath_.empty())
        return;
    // Another program that took our lock for stale has put its own there.
    if (LockOwner(lockPath_) == static_cast<long>(::getpid()))
        (void)::unlink(lockPath_.c_str());
    lockPath_.clear();
}

}  // namespace sio
