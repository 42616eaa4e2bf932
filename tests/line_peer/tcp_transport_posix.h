// The line peer's transport over POSIX sockets, for the peer's own side of
// the connection.
#pragma once

#include <memory>

#include "peer_transport.h"
#include "serial/posix/unique_fd.h"

namespace sio::peer {

// The stream over a connected socket, owned from now on.
std::unique_ptr<PeerTransport> TcpTransportOn(UniqueFd socket);

}  // namespace sio::peer
