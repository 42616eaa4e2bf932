// The backends inside the virtual machine: the guest's 16550 (the 8250
// driver) and FTDI adapter (ftdi_sio), their far ends played by the host
// (tests/vm/vm_host.cpp). QEMU hands bytes on at once, without the baud
// rate's pace, and forwards neither purges nor flow control to the host.
#include "line_backend.h"
#include "vm_ports.h"

namespace sio::contract {
namespace {

std::vector<Backend> MakeBackends() {
    std::vector<Backend> rows;
    for (const vm::VmPort& port : vm::VmPorts()) {
        Capabilities can;
        // QEMU polls the 16550's modem inputs from the host terminal and
        // forwards its outputs; its FTDI model reports fixed inputs.
        can.modemLines = port.hostLine == "uart";
        can.lineChangeCounters = can.modemLines;
        // The 16550's clock tops out at 115200 baud.
        can.keepsEveryLineSetting = port.hostLine != "uart";
        rows.push_back({port.name, can, [port](int com, const std::string& dir) {
                            return std::make_unique<vm::VmLine>(port, com, dir);
                        }});
    }
    return rows;
}

}  // namespace

const std::vector<Backend>& Backends() {
    static const std::vector<Backend> rows = MakeBackends();
    return rows;
}

}  // namespace sio::contract
