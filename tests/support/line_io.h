// The one read and the one write loop on a non-blocking descriptor that plays
// the far end of a line (a pseudo-terminal's master, or a socket to the
// line peer): retry on EINTR, wait with poll on EAGAIN, give up on the rest.
#pragma once

#include <cstddef>
#include <string>

namespace sio::test {

// How long a helper waits for the other side before the test fails.
inline constexpr int kPatienceMilliseconds = 10000;

// Writes every byte, waiting for room as the other side reads; false when the
// descriptor fails or no room opens within kPatienceMilliseconds.
bool WriteAll(int fd, const char* data, std::size_t size);
inline bool WriteAll(int fd, const std::string& data) { return WriteAll(fd, data.data(), data.size()); }

// Reads until `size` bytes arrived; fewer when the descriptor stays quiet for
// `quietMilliseconds`, reaches its end or fails.
std::string ReadUpTo(int fd, std::size_t size, int quietMilliseconds = kPatienceMilliseconds);

// Waits until the descriptor reports `events` (poll bits); false on time-out.
bool WaitFor(int fd, short events, int milliseconds = kPatienceMilliseconds);

}  // namespace sio::test
