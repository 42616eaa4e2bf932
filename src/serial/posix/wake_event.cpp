#include "serial/posix/wake_event.h"

#include <sys/eventfd.h>

#include <cerrno>

namespace sio {

int WakeEvent::Create() {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return errno;
    fd_.reset(fd);
    return 0;
}

void WakeEvent::Signal() {
    // Fails only when the counter would overflow, i.e. it is set already.
    (void)::eventfd_write(fd_.get(), 1);
}

bool WakeEvent::Consume() {
    eventfd_t value = 0;
    return ::eventfd_read(fd_.get(), &value) == 0 && value != 0;
}

}  // namespace sio
