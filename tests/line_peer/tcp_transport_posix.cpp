// The line peer's transport over POSIX sockets.
#include "peer_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "serial/posix/unique_fd.h"

namespace sio::peer {
namespace {

class TcpTransport final : public PeerTransport {
public:
    explicit TcpTransport(UniqueFd socket) : socket_(std::move(socket)) {}

    bool Send(const char* data, std::size_t size) override {
        while (size > 0) {
            ssize_t n = ::send(socket_.get(), data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Receive(char* data, std::size_t size) override {
        while (size > 0) {
            ssize_t n = ::recv(socket_.get(), data, size, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    UniqueFd socket_;
};

}  // namespace

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
    if (!socket)
        return nullptr;
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0)
        return nullptr;
    int one = 1;  // requests are small and each waits for its reply
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::make_unique<TcpTransport>(std::move(socket));
}

}  // namespace sio::peer
