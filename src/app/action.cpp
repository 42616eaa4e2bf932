#include "app/action.h"

#include "app/application.h"

#include <QAbstractButton>

TAction::TAction(QObject* owner, const QString& name, const QString& category,
                 const QString& caption)
    : QObject(owner), category_(category), caption_(caption) {
    setObjectName(name);
}

void TAction::SetCaption(const QString& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    emit CaptionChanged(caption_);
}

void TAction::SetEnabled(bool enabled) {
    // Idle-time updates call this all the time; only a real change may
    // reach the buttons, or every idle moment would schedule a repaint.
    if (enabled == enabled_) return;
    enabled_ = enabled;
    emit EnabledChanged(enabled_);
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

void LinkButton(QAbstractButton* button, TAction* action) {
    button->setText(action->Caption());
    button->setEnabled(action->Enabled());
    QObject::connect(action, &TAction::CaptionChanged, button, &QAbstractButton::setText);
    QObject::connect(action, &TAction::EnabledChanged, button, &QWidget::setEnabled);
    QObject::connect(button, &QAbstractButton::clicked, action,
                     Guarded([action] { action->Execute(); }));
}
