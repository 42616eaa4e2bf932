// The program's one window, built from its design by the toolkit in use: it
// holds the controls, shows the dialogs and tells when the program goes
// idle.
#pragma once

#include "app/toolkit/controls.h"
#include "app/toolkit/window_design.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class TWindow {
public:
    virtual ~TWindow() = default;

    virtual const std::string& Name() const = 0;
    virtual std::string Caption() const = 0;
    // Where the window's frame lies on the screen, and its client area's
    // width and height.
    virtual TRect BoundsRect() const = 0;
    virtual void Show() = 0;

    // The control of that name; null when there is none.
    virtual TControl* FindControl(const std::string& name) const = 0;
    // Every control, in the order of the design.
    virtual std::vector<TControl*> Controls() const = 0;

    // The control of that name and kind; throws std::logic_error when the
    // design has no such control, a fault of the program itself.
    template <class Control>
    Control* Find(const std::string& name) const {
        auto* control = dynamic_cast<Control*>(FindControl(name));
        if (control == nullptr) throw std::logic_error("No control " + name + " in " + Name());
        return control;
    }

    // `handler` runs each time the main thread's event queue becomes empty,
    // until it is removed by the number this returns.
    virtual int AddIdleHandler(std::function<void()> handler) = 0;
    virtual void RemoveIdleHandler(int id) = 0;
    // The window is shown and enabled and no modal box runs its own loop:
    // the design's idle updates wait until a box is closed, so a question
    // is never asked twice.
    virtual bool IdleUpdatesAllowed() const = 0;

    // An application-modal message box with the caption and icon `flags`
    // ask for (see message_box.h); returns IDOK.
    virtual int MessageBox(const std::string& text, const std::string& caption,
                           unsigned flags) = 0;
    // Asks under the caption "Confirm" with "&Yes" (the default) and "&No"
    // (also chosen by Esc and by closing the box). True for Yes.
    virtual bool ConfirmYesNo(const std::string& text) = 0;
};

// Builds the window of `design` with the toolkit in use.
std::unique_ptr<TWindow> BuildWindow(const TWindowDesign& design);
