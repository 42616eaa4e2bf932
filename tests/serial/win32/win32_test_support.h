// Helpers of the Windows tests: the Linux programs on the far side of a COM
// port (tests/wine/pty_peer.c), started from the test through Wine, and
// waiting on the test thread's message loop.
#pragma once

#include "serial/win32/windows_api.h"

#include <functional>
#include <string>
#include <vector>

namespace sio::test {

// The peer's link comN in the prefix's dosdevices folder is COMn. Wine hands
// a Unix program no pipes, so the link is the protocol: the peer is ready
// once it exists, and removing it stops the peer.
class LinuxPeer {
public:
    LinuxPeer(int com, const std::vector<std::string>& args);
    ~LinuxPeer();  // removes the link: the peer ends
    LinuxPeer(const LinuxPeer&) = delete;
    LinuxPeer& operator=(const LinuxPeer&) = delete;

    bool Ready() const { return ready_; }
    // The hang-up peer removes its link when it hangs up.
    bool WaitUntilGone();

private:
    std::string link_;  // as the Windows side names it
    bool ready_ = false;
};

// The writer device simulator linked as COMn; the echo or hang-up peer.
LinuxPeer* WriterSim(int com);
LinuxPeer* EchoPeer(int com);
LinuxPeer* HangUpPeer(int com, int afterBytes);

// Handles this thread's messages until done() holds; false when `limitMs`
// passed first (a failure bound, never the thing tested).
bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000);

}  // namespace sio::test
