#include "serial/posix/transmitter_tracking.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace sio {

std::string DriverNameOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    char path[64];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/device/driver", major(info.st_rdev),
                  minor(info.st_rdev));
    char target[256];
    ssize_t n = ::readlink(path, target, sizeof target - 1);
    if (n <= 0)
        return {};
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return slash ? slash + 1 : target;
}

TransmitterTracking TrackingFor(const std::string& driver) {
    TransmitterTracking tracking;
    // "port": newer kernels link a UART's terminal to the serial core's port
    // device, whatever the chip's driver; its line status is the chip's.
    if (driver == "serial8250" || driver == "serial" || driver == "port") {
        // The register is live; the drain would only add up to a jiffy.
        tracking.drain = false;
        tracking.startLatency = 0;
    } else if (driver == "ftdi_sio" || driver == "cp210x") {
        tracking.lineStatus = false;
        tracking.clockBeforeDrain = true;
    } else if (driver == "ch341-uart" || driver == "pl2303") {
        // The drain is cheap and harmless (it ends when the adapter took the
        // bytes); the clock is what holds RTS.
        tracking.lineStatus = false;
    }
    return tracking;
}

}  // namespace sio
