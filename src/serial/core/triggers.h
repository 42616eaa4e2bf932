// The dispatcher's trigger records. The data-available trigger (a count
// threshold) is what this program uses. Timer, data and status triggers are
// kept as lists that are cleared at open and travel through SaveTriggers /
// RestoreTriggers so a reopened port gets back what it had; nothing in this
// build adds them and the dispatcher does not evaluate them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sio {

struct TTimerTrigger {
    int Handle = 0;
    std::uint32_t Timer = 0;  // expiry, milliseconds
    bool Armed = false;
};

struct TDataTrigger {
    static constexpr int kMaxPattern = 21;
    int Handle = 0;
    int PatternLength = 0;
    std::array<char, kMaxPattern> Pattern{};
    std::array<std::uint8_t, kMaxPattern> Progress{};  // per-position match progress
    bool Matched = false;
    bool IgnoreCase = false;
};

struct TStatusTrigger {
    int Handle = 0;
    int Kind = 0;  // 1 modem lines, 2 line errors, 3 output room, 4 output used, 5 output sent
    std::uint16_t Value = 0;
    bool Armed = false;
    bool Hit = false;
};

// What SaveTriggers copies and RestoreTriggers brings back.
struct TSioTriggerSet {
    int AvailThreshold = 0;
    std::vector<TTimerTrigger> TimerTriggers;
    std::vector<TDataTrigger> DataTriggers;
    std::vector<TStatusTrigger> StatusTriggers;
};

}  // namespace sio
