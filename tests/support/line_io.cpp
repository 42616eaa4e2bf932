#include "line_io.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sio::test {

bool WaitFor(int fd, short events, int milliseconds) {
    pollfd entry{fd, events, 0};
    int ready;
    while ((ready = ::poll(&entry, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return ready > 0 && (entry.revents & events);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        if (!WaitFor(fd, POLLOUT))
            return false;
    }
    return true;
}

std::string ReadUpTo(int fd, std::size_t size, int quietMilliseconds) {
    std::string data;
    char buffer[65536];
    while (data.size() < size) {
        ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, size - data.size()));
        if (got > 0) {
            data.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0)
            break;  // end of file: a socket's peer has gone
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            break;
        if (!WaitFor(fd, POLLIN, quietMilliseconds))
            break;
    }
    return data;
}

}  // namespace sio::test
