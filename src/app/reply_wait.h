// The program's own wait for a reply of the writer device. The main thread
// keeps handling its events while it waits, since the received bytes reach
// the window through them, but it sleeps between them: it wakes only for an
// event, for the moment the reply may first be looked at, and for the
// deadline.
#pragma once

#include "app/toolkit/event_wait.h"

#include <chrono>
#include <functional>
#include <type_traits>

class TActionList;

// Deadlines are measured on a monotonic clock: a step of the wall clock must
// neither stretch a wait nor cut it short.
using ReplyClock = std::chrono::steady_clock;

// A reply counts only if it is complete this long after the send.
inline constexpr std::chrono::milliseconds kReplyTimeout{1500};
// Received bytes are looked at only once this much time has passed since
// the send, so a reply that comes in pieces has a moment to gather.
inline constexpr std::chrono::milliseconds kReplyGate{20};

// Where a wait reads the time and how it lets time pass: the program uses
// the toolkit's event wait on the steady clock (MakeMainEventWait); a test
// can put a clock of its own in.
using ReplyWaitClock = TEventWait;
static_assert(std::is_same_v<ReplyWaitClock::Clock, ReplyClock>);

// Waits for the reply to a request sent at `sentAt`. Each pass tests the
// deadline, handles the pending events (the serial port's trigger handler
// appends received bytes in them) and then, once the gate has passed, asks
// `accept` whether what has arrived will do. Returns true as soon as
// `accept` does, false when the deadline passes first.
//
// The idle-time updates of `actions` do not run during the wait, so the
// enabled states stay as they were when it began.
bool WaitForReply(TActionList& actions, ReplyWaitClock& clock, ReplyClock::time_point sentAt,
                  const std::function<bool()>& accept);
