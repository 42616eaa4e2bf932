// A list of actions whose update handlers run whenever the main thread's
// event queue becomes empty, so enabled states follow the program's state
// without every handler having to refresh them.
#pragma once

#include "app/toolkit/action.h"

#include <memory>
#include <string>
#include <vector>

class TWindow;

class TActionList : public TObject {
public:
    // Updates run only while `window` allows idle updates (shown, enabled,
    // no modal box up); the list must not outlive the window.
    explicit TActionList(TWindow& window);
    ~TActionList() override;
    TActionList(const TActionList&) = delete;
    TActionList& operator=(const TActionList&) = delete;

    // The list owns the action.
    TAction* Add(const std::string& name, const std::string& category, const std::string& caption);
    const std::vector<TAction*>& Actions() const { return actions_; }

    // Runs every update handler once, in the order the actions were added.
    // An exception from a handler is reported and the others still run.
    void UpdateActions();

    // While one of these lives, idle moments run no update handlers: a
    // handler that pumps events itself must not see the enabled states
    // change under it.
    class Pause {
    public:
        explicit Pause(TActionList& list) : list_(list) { ++list_.pauses_; }
        ~Pause() { --list_.pauses_; }
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        TActionList& list_;
    };

private:
    void OnIdle();

    TWindow& window_;
    int idleHandler_ = 0;
    std::vector<std::unique_ptr<TAction>> owned_;
    std::vector<TAction*> actions_;
    int pauses_ = 0;
    bool updating_ = false;
};
