#include "app/action_list.h"

#include "app/application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>

TActionList::TActionList(QWidget* window) : QObject(window), window_(window) {
    setObjectName("ActionList1");
    // aboutToBlock is emitted once each time the main thread runs out of
    // events and is about to sleep: the toolkit's idle moment. A plain
    // processEvents() never emits it.
    auto* dispatcher = QAbstractEventDispatcher::instance(window->thread());
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TActionList::OnIdle);
}

TAction* TActionList::Add(const QString& name, const QString& category, const QString& caption) {
    auto* action = new TAction(this, name, category, caption);
    actions_.push_back(action);
    return action;
}

void TActionList::UpdateActions() {
    for (TAction* action : actions_) Guarded([action] { action->Update(); })();
}

bool TActionList::IdleUpdatesAllowed() const {
    // A modal box runs its own loop, which also goes idle; the design's
    // updates wait until it is closed, so a question is never asked twice.
    return pauses_ == 0 && !updating_ && window_ && window_->isVisible() &&
           window_->isEnabled() && QApplication::activeModalWidget() == nullptr;
}

void TActionList::OnIdle() {
    if (!IdleUpdatesAllowed()) return;
    updating_ = true;
    UpdateActions();
    updating_ = false;
}
