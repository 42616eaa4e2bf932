// The UART emulator's driver profiles: each row runs the device-layer
// contract suite and the emulator's own suites once more. A profile is the
// emulator's options as that driver behaves ("ideal" is the emulator as it
// is); a new driver is one more row.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "uart_emulator.h"

namespace uartemu {

struct Profile {
    std::string name;
    PortOptions options;
};

// Each driver as its kernel code behaves; none of them takes TIOCSRS485
// (uart_set_rs485_config without the port's rs485_config, and usb-serial's
// serial_ioctl, answer ENOTTY).
// The emulator as it always was, on a driver the device layer does not know.
inline PortOptions Ideal() {
    PortOptions o;
    o.driver = "ideal_uart";
    return o;
}

inline PortOptions Uart16550() {
    PortOptions o;
    o.driver = "serial";  // 8250_pnp's name; the platform ports say serial8250
    o.answersRs485Query = true;  // uart_get_rs485_config answers every port
    o.chipBuffer = 16;  // the transmit FIFO, outside uart_chars_in_buffer
    o.queueCountsShifter = false;
    o.drain = Drain::PolledAtTick;  // uart_wait_until_sent
    o.lineStatus = LineStatus::Live;  // uart_get_lsr_info
    return o;
}

// The usb-serial drivers: usb_serial_generic_chars_in_buffer counts only
// what the adapter has not acknowledged, and the first byte leaves at the
// adapter's next USB frame.
inline PortOptions UsbAdapter(const char* driver, std::size_t buffer) {
    PortOptions o;
    o.driver = driver;
    o.chipBuffer = buffer;
    o.queueCountsShifter = false;
    o.startLatencyMicroseconds = 1000;
    return o;
}

inline PortOptions Ftdi() {
    PortOptions o = UsbAdapter("ftdi_sio", 256);
    o.drain = Drain::PolledAtTick;  // ftdi_tx_empty, looked at once a jiffy
    o.lineStatus = LineStatus::Cached;  // ftdi_process_packet, every 16 ms
    o.revertsShortCharacters = true;  // ftdi_set_termios
    o.takesFiveDataBits = true;       // its CS5 quirk
    return o;
}

// CH341 and PL2303: no tx_empty (usb_serial_operations_init leaves the
// drain to the generic code, which then waits for nothing in the chip), no
// line-status ioctl, no counters.
inline PortOptions NoDrainAdapter(const char* driver, std::size_t buffer) {
    PortOptions o = UsbAdapter(driver, buffer);
    o.drain = Drain::DriverQueueOnly;
    o.lineStatus = LineStatus::Refused;
    o.counters = false;
    return o;
}

inline PortOptions Cp210x() {
    PortOptions o = UsbAdapter("cp210x", 640);
    o.drain = Drain::PolledAtTick;  // cp210x_tx_empty
    o.lineStatus = LineStatus::Refused;
    o.modemWait = false;  // no tiocmiwait: the lines are sampled
    return o;
}

inline const std::vector<Profile>& Profiles() {
    static const std::vector<Profile> profiles = {
        {"ideal", Ideal()},
        {"uart16550", Uart16550()},
        {"ftdi", Ftdi()},
        {"ch341", NoDrainAdapter("ch341-uart", 32)},
        {"pl2303", NoDrainAdapter("pl2303", 256)},
        {"cp210x", Cp210x()},
    };
    return profiles;
}

// A profile's options as one fixture changes them for what it shows.
inline PortOptions Adjusted(const Profile& profile, void (*adjust)(PortOptions&)) {
    PortOptions options = profile.options;
    if (adjust)
        adjust(options);
    return options;
}

// Names the row in a failure message.
inline void PrintTo(const Profile& profile, std::ostream* out) { *out << profile.name; }
inline std::string ProfileName(const ::testing::TestParamInfo<Profile>& info) { return info.param.name; }

}  // namespace uartemu
