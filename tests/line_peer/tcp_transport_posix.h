// The line peer's transport over POSIX sockets, for the peer's own side of
// the connection.
#pragma once

#include <memory>

#include "peer_transport.h"
#include "serial/posix/unique_fd.h"

namespace sio::peer {

// The stream over a connected socket, owned from now on.
std::unique_ptr<PeerTransport> TcpTransportOn(UniqueFd socket);

// The same stream over a character device (a virtual machine's console port),
// owned from now on.
std::unique_ptr<PeerTransport> DeviceTransportOn(UniqueFd device);

}  // namespace sio::peer
