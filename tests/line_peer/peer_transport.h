// How the line peer's client reaches the peer: a byte stream, whatever
// carries it (POSIX sockets here; a Winsock one beside it for Windows).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace sio::peer {

class PeerTransport {
public:
    virtual ~PeerTransport() = default;
    // Every byte, or false when the stream failed.
    virtual bool Send(const char* data, std::size_t size) = 0;
    // Exactly `size` bytes, or false when the stream ended or failed.
    virtual bool Receive(char* data, std::size_t size) = 0;
};

// A TCP connection to "host:port" on the loopback address; null on failure.
std::unique_ptr<PeerTransport> ConnectTcp(const std::string& address);

}  // namespace sio::peer
