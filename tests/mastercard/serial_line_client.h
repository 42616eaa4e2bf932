// The program's end of the line in tests: a raw, non-blocking descriptor on
// the simulated device's port, with reads bounded by a deadline.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

class SerialLineClient {
public:
    explicit SerialLineClient(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
            ::tcflush(fd_, TCIOFLUSH);
        }
    }
    ~SerialLineClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    SerialLineClient(const SerialLineClient&) = delete;
    SerialLineClient& operator=(const SerialLineClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool Write(std::string_view bytes) {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes have arrived or `timeout` has passed.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::string got;
        while (got.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Sends a request and returns the first `count` bytes of the answer.
    std::string Ask(std::string_view request, std::size_t count) {
        return Write(request) ? Read(count) : std::string("write failed");
    }

private:
    int fd_;
};
