#include "app/toolkit/action.h"

#include "app/toolkit/controls.h"

TAction::TAction(std::string name, std::string category, std::string caption)
    : name_(std::move(name)), category_(std::move(category)), caption_(std::move(caption)) {}

void TAction::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    for (TButton* button : buttons_) button->SetText(caption_);
}

void TAction::SetEnabled(bool enabled) {
    // Idle-time updates call this all the time; only a real change may
    // reach the buttons, or every idle moment would schedule a repaint.
    if (enabled == enabled_) return;
    enabled_ = enabled;
    for (TButton* button : buttons_) button->SetEnabled(enabled_);
}

bool TAction::Update() {
    if (!OnUpdate) return false;
    OnUpdate(this);
    return true;
}

bool TAction::Execute() {
    Update();
    if (!enabled_ || !OnExecute) return false;
    OnExecute(this);
    return true;
}

void LinkButton(TButton* button, TAction* action) {
    button->SetText(action->Caption());
    button->SetEnabled(action->Enabled());
    action->buttons_.push_back(button);
    button->OnClick = [action] { action->Execute(); };
}
