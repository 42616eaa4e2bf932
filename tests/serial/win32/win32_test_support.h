// Helpers of the Windows tests: the writer device simulator on the far side
// of a COM port (started by tests/wine/pty_peer.c through Wine), and waiting
// on the test thread's message loop. Lines whose far end the test drives
// itself come from the run's line peer (peer_line.h).
#pragma once

#include "serial/win32/windows_api.h"

#include <functional>
#include <string>
#include <vector>

namespace sio::test {

// The peer's link comN in the prefix's dosdevices folder is COMn. Wine hands
// a Unix program no pipes, so files are the protocol: the peer is ready once
// its link exists, and a file stop-comN beside it stops the peer.
class LinuxPeer {
public:
    LinuxPeer(int com, const std::vector<std::string>& args);
    ~LinuxPeer();  // stops the peer and waits until its link is gone
    LinuxPeer(const LinuxPeer&) = delete;
    LinuxPeer& operator=(const LinuxPeer&) = delete;

    bool Ready() const { return ready_; }

private:
    std::string folder_;  // dosdevices, as Linux names it
    std::string name_;    // comN
    bool ready_ = false;
};

// The writer device simulator linked as COMn.
LinuxPeer* WriterSim(int com);

// Handles this thread's messages until done() holds; false when `limitMs`
// passed first (a failure bound, never the thing tested).
bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000);

}  // namespace sio::test
