// The backends on Linux: a pseudo-terminal played by the line peer in a
// process of its own, and the UART emulator once per driver profile.
#include <sys/ioctl.h>

#include "line_backend.h"
#include "peer_line.h"
#include "port_dir.h"
#include "uart_profiles.h"

namespace sio::contract {
namespace {

// The far end on the emulator's master, in this process (the emulator is
// part of the test program).
class UartLine final : public Line {
public:
    UartLine(const uartemu::PortOptions& options, int com, const std::string& portDir)
        : options_(options), com_(com), portDir_(portDir) {
        Reopen();
    }

    bool Send(const std::string& bytes) override { return test::WriteAll(uart_->Master(), bytes); }
    std::string Receive(std::size_t size, int quietMilliseconds) override {
        return test::ReadUpTo(uart_->Master(), size, quietMilliseconds);
    }
    void HangUp() override { uart_->Vanish(); }
    void Reopen() override {
        old_ = std::move(uart_);
        uart_ = std::make_unique<uartemu::Port>(options_);
        test::LinkComPort(portDir_, com_, uart_->Path());
    }
    void SetInput(ModemInput input, bool raised) override {
        static constexpr int kLines[] = {TIOCM_CTS, TIOCM_DSR, TIOCM_CAR, TIOCM_RNG};
        uart_->SetInput(kLines[static_cast<int>(input)], raised);
    }
    bool Rts() const override { return uart_->Rts(); }
    bool Dtr() const override { return uart_->Dtr(); }

private:
    uartemu::PortOptions options_;
    int com_;
    std::string portDir_;
    // The one before a Reopen stays until the port that may still use it is
    // gone with this object.
    std::unique_ptr<uartemu::Port> old_, uart_;
};

std::vector<Backend> MakeBackends() {
    Capabilities pty;
    pty.farEndSettings = true;
    pty.farEndSeesPurges = true;
    pty.bulkTransfer = true;
    pty.outputStallsUnread = true;
    std::vector<Backend> rows = {
        {"pty", pty, MakePeerLine},
    };
    Capabilities uart;
    uart.modemLines = true;
    uart.descriptorsClosedByHangUp = 1;  // Vanish closes the master
    for (const uartemu::Profile& profile : uartemu::Profiles()) {
        uart.lineChangeCounters = profile.options.counters;
        rows.push_back({"uart_" + profile.name, uart, [options = profile.options](int com, const std::string& dir) {
                            return std::make_unique<UartLine>(options, com, dir);
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
