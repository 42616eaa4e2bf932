// Sole owner of a file descriptor: closes it when it goes out of scope, so a
// failed half of an open unwinds by itself.
#pragma once

#include <unistd.h>

#include <utility>

namespace sio {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

    void reset(int fd = -1) {
        int old = std::exchange(fd_, fd);
        if (old >= 0)
            ::close(old);  // Linux frees the number even when close reports an error
    }

private:
    int fd_ = -1;
};

}  // namespace sio
