// The guest's two serial ports and their far ends on the host (vm_host.cpp),
// reached over the guest's control port (SIO_VM_CONTROL) with the line
// peer's protocol.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "line_backend.h"
#include "peer_client.h"
#include "tcp_transport_posix.h"
#include "port_dir.h"
#include "uart_profiles.h"

namespace sio::vm {

struct VmPort {
    std::string name;      // the backend's row name
    std::string device;    // the guest's device node
    std::string hostLine;  // the far end's name in vm_host
    std::string profile;   // the emulator's profile that claims to model it
};

inline void PrintTo(const VmPort& port, std::ostream* out) { *out << port.name; }

inline const std::vector<VmPort>& VmPorts() {
    static const std::vector<VmPort> ports = {
        {"vm_uart16550", "/dev/ttyS1", "uart", "uart16550"},
        {"vm_ftdi", "/dev/ttyUSB0", "ftdi", "ftdi"},
    };
    return ports;
}

inline const uartemu::PortOptions& ProfileOf(const VmPort& port) {
    for (const uartemu::Profile& profile : uartemu::Profiles())
        if (profile.name == port.profile)
            return profile.options;
    throw std::logic_error("no profile " + port.profile);
}


inline peer::LinePeer& Host() {
    static peer::LinePeer host = [] {
        const char* path = std::getenv("SIO_VM_CONTROL");
        const int fd = path ? ::open(path, O_RDWR | O_CLOEXEC) : -1;
        if (fd < 0)
            throw std::runtime_error("no control port (SIO_VM_CONTROL)");
        return peer::LinePeer(peer::DeviceTransportOn(UniqueFd(fd)));
    }();
    return host;
}

// Waits until the device node exists (or no longer does); USB enumeration
// and removal take the guest some milliseconds.
inline bool WaitForNode(const std::string& path, bool present, int milliseconds = test::kPatienceMilliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while ((::access(path.c_str(), F_OK) == 0) != present) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Waits until the node opens: devtmpfs makes it when the tty is registered,
// a moment before the driver has set the port up, and an open in between
// fails with ENODEV.
inline bool WaitUntilItOpens(const std::string& path, int milliseconds = test::kPatienceMilliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The far end of one of the guest's ports, linked as COM`com`.
class VmLine final : public contract::Line {
public:
    VmLine(const VmPort& port, int com, const std::string& portDir) : port_(port), com_(com) {
        if (Host().Link(com_, port_.hostLine).empty())
            throw std::runtime_error("the host has no line " + port_.hostLine);
        test::LinkComPort(portDir, com_, port_.device);
        // An earlier case may have left the adapter unplugged.
        if (::access(port_.device.c_str(), F_OK) != 0)
            Reopen();
    }

    bool Send(const std::string& bytes) override { return Host().Send(com_, bytes); }
    std::string Receive(std::size_t size, int quietMilliseconds = test::kPatienceMilliseconds) override {
        return Host().Receive(com_, size, quietMilliseconds);
    }
    // The adapter is unplugged (QEMU's device_del); only the FTDI adapter can.
    void HangUp() override {
        if (!Host().HangUp(com_) || !WaitForNode(port_.device, false))
            throw std::runtime_error(port_.hostLine + " cannot be unplugged");
    }
    // Plugged in again: the driver binds anew and makes the node again.
    void Reopen() override {
        if (!WaitForNode(port_.device, false) || Host().Ask("PLUG " + std::to_string(com_)) != "OK" ||
            !WaitForNode(port_.device, true) || !WaitUntilItOpens(port_.device))
            throw std::runtime_error(port_.device + " did not come back");
        ::chmod(port_.device.c_str(), 0666);
    }
    // Returns once QEMU has read the new inputs, which it does only while the
    // guest has the port open.
    void SetInput(contract::ModemInput input, bool raised) override {
        static constexpr int kLines[] = {TIOCM_CTS, TIOCM_DSR, TIOCM_CAR, TIOCM_RNG};
        const int bit = kLines[static_cast<int>(input)];
        inputs_ = raised ? inputs_ | bit : inputs_ & ~bit;
        Host().Ask("INPUTS " + std::to_string(com_) + " " + std::to_string(inputs_));
    }
    bool Rts() const override { return (Outputs() & TIOCM_RTS) != 0; }
    bool Dtr() const override { return (Outputs() & TIOCM_DTR) != 0; }

    // What the guest did to the line since the link or the last call, as
    // QEMU's terminal saw it: "lines <TIOCM bits>", "tx <n>", "set <baud>
    // <bits> <N|E|O> <stop>", one a line.
    std::string Record() { return Host().Ask("RECORD " + std::to_string(com_)); }

private:
    int Outputs() const { return std::atoi(Host().Ask("LINES " + std::to_string(com_)).c_str() + 3); }

    VmPort port_;
    int com_;
    int inputs_ = 0;
};

}  // namespace sio::vm
