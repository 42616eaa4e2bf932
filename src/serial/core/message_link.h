// How the dispatcher reaches the thread that owns the port (the thread that
// opened it) without knowing the toolkit: window messages sent with a
// time-out, posted messages, pumping the owner's queue once, and running a
// call on the owner thread. The window-message layer (notify/) provides the
// real one on Qt's event loop; tests install a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sio {

// A window handle is an id in the window-message layer's registry, never a
// pointer: a stale handle is recognised and ignored. 0 is no window.
using WindowHandle = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;

class MessageLink {
public:
    virtual ~MessageLink() = default;

    // Delivers msg to the window's procedure on the window's thread and waits
    // until it returns or timeoutMs pass. True when the procedure ran to its
    // end in time. A send that timed out is abandoned: if it has not started
    // by then it never runs.
    virtual bool SendMessageTimeout(WindowHandle window, unsigned msg, WParam wParam,
                                    LParam lParam, int timeoutMs) = 0;

    // Queues msg for the window and returns at once. False for a stale window.
    virtual bool PostMessage(WindowHandle window, unsigned msg, WParam wParam, LParam lParam) = 0;

    // Handles what is pending in the calling thread's queue, without waiting.
    virtual void PumpOnce() = 0;

    // Runs call on the owner (main) thread and waits until it returned.
    virtual void RunOnOwnerThread(const std::function<void()>& call) = 0;

    // A worker body ended with an exception: show its message to the user the
    // way the toolkit reports exceptions. Must not block the worker.
    virtual void ReportWorkerException(const std::string& message) = 0;
};

// The process-wide link the dispatchers use. Until one is installed a link
// that delivers nothing is in place. Install before any port opens.
MessageLink& CurrentMessageLink();
void InstallMessageLink(MessageLink* link);  // nullptr restores the default

}  // namespace sio
