// The device-layer contract suite: the same cases on every line a device
// layer can be opened on. A case talks to the device layer through the
// dispatcher's device operations (TSioBaseDispatcher::Device*), the boundary
// every device layer implements, and to the other end of the line through a
// Line, whatever plays it.
//
// Two seams, each one file:
//   - the device layer under test: MakeDeviceLayer() (device_layer_posix.cpp
//     here; a Windows program links a device_layer_win32.cpp that makes a
//     TSioWin32Dispatcher, and runs every case unchanged);
//   - the backends: Backends() (backends_linux.cpp here) lists one row per
//     line with what that line can show. Today: "pty" (a pseudo-terminal whose
//     far end is the line peer, a separate process driven over loopback TCP)
//     and one row per UART emulator profile (uart_profiles.h). A Windows COM
//     port under Wine is a row whose Line drives the same line peer, started
//     by the Wine runner with the prefix's dosdevices as its link folder; a
//     port inside a virtual machine is a row whose Line drives a peer on the
//     far side of the machine's serial line.
//
// A case a backend cannot show is skipped with the reason, from the row's
// Capabilities; no case asks which backend it runs on. The one POSIX piece
// the cases hold themselves is the port folder (test::ScopedPortDir, the
// temporary $SIO_PORT_DIR); a Windows build gives them a folder with the
// same Link and path over the prefix's dosdevices.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "line_io.h"
#include "peer_client.h"
#include "serial/core/dispatcher.h"

namespace sio::contract {

using peer::FarLineSettings;

enum class ModemInput { Cts, Dsr, Dcd, Ring };

// What a backend's line can show; a case that needs more is skipped.
struct Capabilities {
    // The far end reads the line settings the port applied (a terminal's
    // own view of them).
    bool farEndSettings = false;
    // The far end sees each purge (a pseudo-terminal's packet mode).
    bool farEndSeesPurges = false;
    // Mebibytes cross in seconds; a UART clocked at the line's baud rate
    // would take many minutes.
    bool bulkTransfer = false;
    // RTS and DTR can be read back and CTS, DSR, DCD and RI driven (a
    // pseudo-terminal has no modem lines).
    bool modemLines = false;
    // The port's output stops once the far end reads nothing (a terminal's
    // buffers fill); an emulated transmitter goes on draining at its baud
    // rate, so room opens again every character.
    bool outputStallsUnread = false;
    // The driver counts modem-line changes, so a pulse shorter than the
    // layer's sampling interval is still seen.
    bool lineChangeCounters = false;
    // Descriptors of this process that the far end's hang-up closes.
    int descriptorsClosedByHangUp = 0;

    // What every Linux line shows and Wine on a pseudo-terminal does not:
    // A second open of the port is refused while the first holds it.
    bool exclusiveOpen = true;
    // The open starts with an empty input queue.
    bool openEmptiesInput = true;
    // Every byte value arrives, XON and XOFF included, while software flow
    // control is off (the line is raw).
    bool rawWithoutSoftwareFlow = true;
    // The line settings read back as applied: any baud rate, data bits,
    // parity and the XON/XOFF limits.
    bool keepsEveryLineSetting = true;
    // The event wait reports a byte as it arrives, so a new arrival is seen
    // while older bytes wait unread. Where the system reports queued bytes
    // at every wait instead, the device layer announces them once and not
    // again until a read takes some.
    bool receiveEventOnArrivalOnly = true;
    // The driver switches RTS around each transmission (RS-485 mode).
    bool rs485Toggle = true;
};

// The far end of one line, linked as COMn while the object lives.
class Line {
public:
    virtual ~Line() = default;
    // Writes every byte to the port, waiting for room.
    virtual bool Send(const std::string& bytes) = 0;
    // Reads until `size` bytes came from the port, or it was quiet too long.
    virtual std::string Receive(std::size_t size, int quietMilliseconds = test::kPatienceMilliseconds) = 0;
    // Ends the line from the far side (a peer gone, an adapter unplugged).
    virtual void HangUp() = 0;
    // A new line under the same COM number (the adapter plugged in again).
    virtual void Reopen() = 0;
    // With Capabilities::farEndSettings.
    virtual std::optional<FarLineSettings> Settings() { return std::nullopt; }
    // With Capabilities::farEndSeesPurges: from now on each Receive starts
    // with a status byte (TIOCPKT_FLUSHREAD 1, TIOCPKT_FLUSHWRITE 2).
    virtual bool WatchPurges() { return false; }
    // With Capabilities::modemLines.
    virtual void SetInput(ModemInput, bool) {}
    virtual bool Rts() const { return false; }
    virtual bool Dtr() const { return false; }
};

struct Backend {
    std::string name;
    Capabilities can;
    // Links a new line as COM`com` in the port folder `portDir`.
    std::function<std::unique_ptr<Line>(int com, const std::string& portDir)> open;
};

const std::vector<Backend>& Backends();
// Names the row in a failure message.
inline void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

// Skips the case, with the reason, on a backend whose line cannot show what
// it checks. For fixtures parameterised by a Backend.
#define REQUIRE_CAPABILITY(what, reason) \
    if (!GetParam().can.what)            \
    GTEST_SKIP() << GetParam().name << ": " << reason

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

// A new, closed device layer of the kind under test.
std::unique_ptr<TSioBaseDispatcher> MakeDeviceLayer();

// The name the device layer opens for COM`number`.
inline std::string ComName(int number) { return "\\\\.\\COM" + std::to_string(number); }

// Every byte value, 0x00 included, in a pattern that shows reordering.
inline std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

}  // namespace sio::contract
