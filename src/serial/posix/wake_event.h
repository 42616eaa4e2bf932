// A wake-up signal that poll() can wait on beside a device descriptor
// (an eventfd). Closing a descriptor does not wake a poll() on it, so every
// blocking wait of the device layer also watches one of these.
#pragma once

#include "serial/posix/unique_fd.h"

namespace sio {

class WakeEvent {
public:
    // 0, or the errno of the failed eventfd().
    int Create();
    void Destroy() { fd_.reset(); }
    bool IsCreated() const { return static_cast<bool>(fd_); }

    // Leaves the signal set until a Consume() takes it.
    void Signal();
    // Takes the signal; true when it was set.
    bool Consume();

    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
};

}  // namespace sio
