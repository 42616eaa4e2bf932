#include "app/toolkit/action_list.h"

#include "app/toolkit/exception_report.h"
#include "app/toolkit/window.h"

TActionList::TActionList(TWindow& window) : window_(window) {
    idleHandler_ = window_.AddIdleHandler([this] { OnIdle(); });
}

TActionList::~TActionList() { window_.RemoveIdleHandler(idleHandler_); }

TAction* TActionList::Add(const std::string& name, const std::string& category,
                          const std::string& caption) {
    owned_.push_back(std::make_unique<TAction>(name, category, caption));
    actions_.push_back(owned_.back().get());
    return actions_.back();
}

void TActionList::UpdateActions() {
    for (TAction* action : actions_) Guarded([action] { action->Update(); })();
}

void TActionList::OnIdle() {
    if (pauses_ > 0 || updating_ || !window_.IdleUpdatesAllowed()) return;
    updating_ = true;
    UpdateActions();
    updating_ = false;
}
