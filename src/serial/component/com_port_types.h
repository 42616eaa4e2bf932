// The value types of the serial port component's published surface: the
// enumerations its properties take, the set of hardware flow options, the
// notification message numbers and the signatures of its events.
#pragma once

#include "serial/core/trace_log.h"  // TTraceLogState

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace sio {

class TSioCustomComPort;

using Word = std::uint16_t;

enum TDeviceLayer { dlWin32, dlWinsock };

// Ordinals equal the platform's NOPARITY ... SPACEPARITY.
enum TParity { pNone, pOdd, pEven, pMark, pSpace };

enum THWFlowOption { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };

// A set of hardware flow options. Each option is one bit of Bits()
// (hwfUseDTR 1, hwfUseRTS 2, hwfRequireDSR 4, hwfRequireCTS 8), which is the
// form the dispatcher takes.
class THWFlowOptionSet {
public:
    constexpr THWFlowOptionSet() = default;
    constexpr THWFlowOptionSet(std::initializer_list<THWFlowOption> options) {
        for (THWFlowOption o : options) bits_ |= Bit(o);
    }
    static constexpr THWFlowOptionSet FromBits(unsigned bits) {
        THWFlowOptionSet s;
        s.bits_ = static_cast<std::uint8_t>(bits & 0x0F);
        return s;
    }

    constexpr unsigned Bits() const { return bits_; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool Contains(THWFlowOption o) const { return (bits_ & Bit(o)) != 0; }
    constexpr THWFlowOptionSet& Include(THWFlowOption o) { bits_ |= Bit(o); return *this; }
    constexpr THWFlowOptionSet& Exclude(THWFlowOption o) { bits_ &= ~Bit(o); return *this; }

    constexpr bool operator==(const THWFlowOptionSet&) const = default;

private:
    static constexpr std::uint8_t Bit(THWFlowOption o) { return static_cast<std::uint8_t>(1u << o); }
    std::uint8_t bits_ = 0;
};

enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };

enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

enum TPortPhase { phClosed, phClosing, phOpen };

// Events. CP is the component that raises them.
using TNotifyEvent = std::function<void(TSioCustomComPort* CP)>;
using TTriggerEvent = std::function<void(TSioCustomComPort* CP, Word Msg, Word TriggerHandle, Word Data)>;
using TTriggerAvailEvent = std::function<void(TSioCustomComPort* CP, Word Count)>;
using TTriggerDataEvent = std::function<void(TSioCustomComPort* CP, Word TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(TSioCustomComPort* CP, Word TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(TSioCustomComPort* CP, Word TriggerHandle)>;
using TTriggerLineErrorEvent = std::function<void(TSioCustomComPort* CP, Word Error, bool LineBreak)>;

}  // namespace sio
