// The test's side of the line peer (peer_protocol.h): one request at a time,
// each answered before the next, from whichever thread asks.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "peer_transport.h"

namespace sio::peer {

// The line settings as the far end of a pseudo-terminal sees them.
struct FarLineSettings {
    int baud = 0;
    int stopBits = 0;
    bool rtsCts = false;
    bool ixon = false;
    bool ixoff = false;
    int xon = 0;
    int xoff = 0;
    bool raw = false;  // no line editing, echo, signals or output processing
};

class LinePeer {
public:
    explicit LinePeer(std::unique_ptr<PeerTransport> transport) : transport_(std::move(transport)) {}

    // A new line linked as COM`com` in `dir` (empty: the peer's own folder);
    // its slave path, or empty on failure.
    std::string Link(int com, const std::string& dir);
    bool Send(int com, const std::string& bytes);
    std::string Receive(int com, std::size_t size, int quietMilliseconds);
    std::optional<FarLineSettings> Settings(int com);
    bool PacketMode(int com, bool on);
    bool HangUp(int com);
    bool Quit();
    // A request of a peer's own beyond these: its reply line, or for a
    // "DATA <n>" reply the n bytes after it; empty when the stream failed.
    std::string Ask(const std::string& request);

private:
    // Sends a request line (and payload) and returns the reply line, without
    // its line end; empty when the stream failed. Called with lock_ held.
    std::string Exchange(const std::lock_guard<std::mutex>&, const std::string& request,
                         const std::string& payload = {});
    bool ReadLine(std::string& line);

    std::mutex lock_;  // guards the stream: one exchange at a time
    std::unique_ptr<PeerTransport> transport_;
};

// The peer of this test program: the one a runner started (its address in
// SIO_LINE_PEER) or, on Linux without it, one started here on first use and
// ended when the program exits. Null when neither can be had.
LinePeer* SharedLinePeer();

}  // namespace sio::peer
