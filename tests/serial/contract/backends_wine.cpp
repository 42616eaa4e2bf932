// The backend under Wine: a COM port linked in the prefix's dosdevices
// folder to a pseudo-terminal whose far end is the line peer, a Linux
// program the runner started for the run.
#include "line_backend.h"
#include "peer_line.h"

namespace sio::contract {

const std::vector<Backend>& Backends() {
    static const std::vector<Backend> rows = [] {
        Capabilities wine;
        wine.farEndSettings = true;
        wine.farEndSeesPurges = true;
        wine.bulkTransfer = true;
        wine.outputStallsUnread = true;
        // Wine's differences from a Windows driver, on a pseudo-terminal:
        // it shares the port between handles, leaves the bytes written
        // before the open queued, leaves the terminal's XON/XOFF input
        // processing on after an open with software flow off (0x11 and 0x13
        // from the far end are lost), carries out only what a
        // pseudo-terminal holds of the line settings, reports EV_RXCHAR at
        // every wait while bytes are queued, and refuses RS-485 mode
        // (RTS_CONTROL_TOGGLE) on a pseudo-terminal.
        wine.exclusiveOpen = false;
        wine.openEmptiesInput = false;
        wine.rawWithoutSoftwareFlow = false;
        wine.keepsEveryLineSetting = false;
        wine.receiveEventOnArrivalOnly = false;
        wine.rs485Toggle = false;
        return std::vector<Backend>{{"wine_pty", wine, MakePeerLine}};
    }();
    return rows;
}

}  // namespace sio::contract
