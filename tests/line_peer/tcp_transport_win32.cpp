// The line peer's transport over Winsock, for a Windows test program (under
// Wine the peer is a Linux program on the same loopback address).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <string>

#include "peer_transport.h"

namespace sio::peer {
namespace {

// The one loop for both directions: `call(done)` moves what it can of the
// rest; the end of the stream or a failure ends it.
template <typename Call>
bool TransferAll(std::size_t size, Call call) {
    std::size_t done = 0;
    while (done < size) {
        const int n = call(done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int Piece(std::size_t size) { return static_cast<int>(size < 65536 ? size : 65536); }

class WinsockTransport final : public PeerTransport {
public:
    explicit WinsockTransport(SOCKET socket) : socket_(socket) {}
    ~WinsockTransport() override {
        ::closesocket(socket_);
        ::WSACleanup();  // one for the WSAStartup that made this transport
    }
    WinsockTransport(const WinsockTransport&) = delete;
    WinsockTransport& operator=(const WinsockTransport&) = delete;

    bool Send(const char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) { return ::send(socket_, data + done, Piece(size - done), 0); });
    }

    bool Receive(char* data, std::size_t size) override {
        return TransferAll(size, [&](std::size_t done) { return ::recv(socket_, data + done, Piece(size - done), 0); });
    }

private:
    SOCKET socket_;
};

}  // namespace

std::unique_ptr<PeerTransport> ConnectTcp(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos)
        return nullptr;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
    WSADATA version;
    if (::WSAStartup(MAKEWORD(2, 2), &version) != 0)
        return nullptr;
    SOCKET socket = INVALID_SOCKET;
    if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr) == 1)
        socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET ||
        ::connect(socket, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
        if (socket != INVALID_SOCKET)
            ::closesocket(socket);
        ::WSACleanup();
        return nullptr;
    }
    BOOL one = TRUE;  // requests are small and each waits for its reply
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return std::make_unique<WinsockTransport>(socket);
}

}  // namespace sio::peer
