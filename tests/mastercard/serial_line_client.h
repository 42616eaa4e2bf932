// The program's end of the line in tests: a raw, non-blocking descriptor on
// the simulated device's port, with reads bounded by the line's quiet time.
#pragma once

#include <fcntl.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <string_view>
#include <system_error>

#include "line_io.h"
#include "serial/posix/pseudo_terminal.h"
#include "serial/posix/unique_fd.h"

class SerialLineClient {
public:
    explicit SerialLineClient(const std::string& path) {
        try {
            fd_ = sio::OpenRawTerminal(path, O_NONBLOCK);
            ::tcflush(fd_.get(), TCIOFLUSH);
        } catch (const std::system_error&) {
            // IsOpen() tells the test.
        }
    }

    bool IsOpen() const { return static_cast<bool>(fd_); }

    bool Write(std::string_view bytes) { return sio::test::WriteAll(fd_.get(), bytes.data(), bytes.size()); }

    // Reads until `count` bytes have arrived or the line was quiet for `timeout`.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return sio::test::ReadUpTo(fd_.get(), count, static_cast<int>(timeout.count()));
    }

    // Sends a request and returns the first `count` bytes of the answer.
    std::string Ask(std::string_view request, std::size_t count) {
        return Write(request) ? Read(count) : std::string("write failed");
    }

private:
    sio::UniqueFd fd_;
};
