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

inline const std::vector<Profile>& Profiles() {
    static const std::vector<Profile> profiles = {
        {"ideal", {}},
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
