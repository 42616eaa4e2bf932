// A list of actions whose update handlers run whenever the main thread's
// event queue becomes empty, so enabled states follow the program's state
// without every handler having to refresh them.
#pragma once

#include "app/action.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

class TActionList : public QObject {
    Q_OBJECT
public:
    // Updates run only while `window` is visible and enabled.
    explicit TActionList(QWidget* window);

    // The list owns the action.
    TAction* Add(const QString& name, const QString& category, const QString& caption);
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
    bool IdleUpdatesAllowed() const;

    QPointer<QWidget> window_;
    std::vector<TAction*> actions_;
    int pauses_ = 0;
    bool updating_ = false;
};
