// The Windows edition's application: the window classes and font every
// window uses, the main thread's message loop with its idle moments, the
// dialog keyboard, and the exception report behind exception_report.h.
#pragma once

#include "app/toolkit/win32/text.h"

#include <functional>
#include <string>

namespace w32tk {

// Sets the application up on the calling thread, which becomes the main
// thread. Call once, before the first window is made.
void InitApplication();

// Runs the main thread's message loop until the last window is closed;
// returns the exit code. Each time the queue becomes empty the idle
// handlers run, then the thread sleeps until the next message.
int RunMessageLoop();

// Handles the pending messages and returns; true when the loop was asked to
// end (the quit message is kept for the loop).
bool PumpPendingMessages();

// Handles what is pending and then runs the idle handlers once, as the loop
// does when its queue becomes empty.
void RunUntilIdle();

// Idle handlers, run by the message loop only: never inside a wait that
// pumps messages itself, nor in a modal box's own loop.
int AddIdleHandler(std::function<void()> handler);
void RemoveIdleHandler(int id);

// A modal box is up while one of these lives.
class ModalScope {
public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;
};
bool ModalBoxUp();

// A top-level window's own keys (Tab, arrows) before the dialog manager's:
// returns true when it handled the message.
using KeyHandler = std::function<bool(const MSG&)>;
void SetKeyHandler(HWND window, KeyHandler handler);
void RemoveKeyHandler(HWND window);

// The font of every window: the design's size with a face that shows
// Chinese.
HFONT WindowFont();

// The window class of containers: panels, group boxes and radio groups.
const wchar_t* ContainerClass();
// The window class of the program's top-level windows.
const wchar_t* FormClass();

// Handles a container's or form's messages that the controls send to their
// parent: commands go to the control's object, colours are the button face.
bool HandleParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// What a control does when the system tells its parent about it.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual void OnCommand(WORD code) = 0;
};
// Ties a control's window to its object.
void SetCommandTarget(HWND control, CommandTarget* target);

// Shows an exception's message, or hands it to what a test put in.
using ExceptionShower = std::function<void(const std::string& message)>;
void SetExceptionShower(ExceptionShower shower);

// The name the program's boxes carry: the executable's, without ".exe".
std::wstring ApplicationName();

}  // namespace w32tk
