// A pseudo-terminal whose master side the test holds in its own process: the
// far end of a line for tests that look at one device layer on Linux only.
// The suite that runs on every backend keeps the far end in the line peer.
#pragma once

#include <poll.h>

#include <string>

#include "line_io.h"
#include "serial/posix/pseudo_terminal.h"

namespace sio::test {

class PtyPair {
public:
    PtyPair() : pty_(OpenPseudoTerminal()) {}

    int master() const { return pty_.master.get(); }
    const std::string& slavePath() const { return pty_.slavePath; }

    void CloseMaster() { pty_.master.reset(); }

    // Writes everything, waiting for room as the slave's reader takes bytes.
    bool WriteMaster(const std::string& data) { return WriteAll(master(), data); }
    // Reads exactly n bytes; fewer when the slave side goes quiet too long.
    std::string ReadMaster(std::size_t n) { return ReadUpTo(master(), n); }
    bool WaitFor(short events) { return test::WaitFor(master(), events); }

private:
    PseudoTerminal pty_;
};

}  // namespace sio::test
