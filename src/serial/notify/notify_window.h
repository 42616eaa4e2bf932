// The window-message layer: on Linux on Qt's event loop (notify_window.cpp),
// on Windows on real message-only windows (win32_notify_window.cpp, which
// has no Qt link). On Qt's event loop: hidden notification windows
// (QObjects living on the thread that created them, known to the rest of the
// component only by an id in a process-wide registry, so a stale handle is
// recognised, never dereferenced) and the MessageLink the dispatchers use to
// send, post, pump and run calls on the owner thread.
#pragma once

#include "serial/core/message_link.h"

#include <functional>
#include <string>

namespace sio {

// A window procedure: (msg, wParam, lParam) → result.
using WindowProc = std::function<LParam(unsigned msg, WParam wParam, LParam lParam)>;

// Creates a hidden window on the calling thread; its procedure runs there,
// when that thread handles its events.
WindowHandle CreateNotifyWindow(WindowProc proc);

// Destroys the window; call it on the window's thread. Messages still
// queued for it are dropped, and senders waiting for them are released.
void DestroyNotifyWindow(WindowHandle window);

bool IsNotifyWindow(WindowHandle window);

// How a worker's exception reaches the user; by default it is written to
// Qt's warning log. The application installs its exception report here.
void SetWorkerExceptionReporter(std::function<void(const std::string&)> reporter);

// Makes this platform's link the process-wide MessageLink (the Qt one on
// Linux, the Win32 one on Windows); the component calls it before its first
// open, on the thread that owns the ports.
void InstallNotifyLink();
void UninstallNotifyLink();

// Makes the Qt link the process-wide MessageLink. Call it on the main thread
// once the QCoreApplication exists, before a port opens.
void InstallQtMessageLink();
void UninstallQtMessageLink();

}  // namespace sio
