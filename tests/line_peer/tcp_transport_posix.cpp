#include "tcp_transport_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sio::peer {
namespace {

// The one loop for both directions: `call(done)` moves what it can of the
// rest; EINTR is retried, the end of the stream or a failure ends it.
template <typename Call>
bool TransferAll(std::size_t size, Call call) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = call(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class TcpTransport final : public PeerTransport {
public:
    explicit TcpTransport(UniqueFd socket) : socket_(std::move(socket)) {}

    bool Send(const char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) {
            return ::send(socket_.get(), data + done, size - done, MSG_NOSIGNAL);
        });
    }

    bool Receive(char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) { return ::recv(socket_.get(), data + done, size - done, 0); });
    }

private:
    UniqueFd socket_;
};

class DeviceTransport final : public PeerTransport {
public:
    explicit DeviceTransport(UniqueFd device) : device_(std::move(device)) {}

    bool Send(const char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) { return ::write(device_.get(), data + done, size - done); });
    }

    bool Receive(char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) { return ::read(device_.get(), data + done, size - done); });
    }

private:
    UniqueFd device_;
};

}  // namespace

std::unique_ptr<PeerTransport> DeviceTransportOn(UniqueFd device) {
    return std::make_unique<DeviceTransport>(std::move(device));
}

std::unique_ptr<PeerTransport> TcpTransportOn(UniqueFd socket) {
    int one = 1;  // requests are small and each waits for its reply
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::make_unique<TcpTransport>(std::move(socket));
}

std::unique_ptr<PeerTransport> ConnectTcp(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos)
        return nullptr;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
    if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr) != 1)
        return nullptr;
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket || ::connect(socket.get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0)
        return nullptr;
    return TcpTransportOn(std::move(socket));
}

}  // namespace sio::peer
