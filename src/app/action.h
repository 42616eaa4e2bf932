// An action: a command with a caption, an enabled state, an execute handler
// and an update handler run at idle time. Buttons linked to it show its
// caption and follow its enabled state, and a click executes it.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;

class TAction : public QObject {
    Q_OBJECT
public:
    // Handlers receive the action as their sender.
    using THandler = std::function<void(QObject* Sender)>;

    TAction(QObject* owner, const QString& name, const QString& category, const QString& caption);

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    // Groups actions for the reader of the code; it has no effect at run time.
    const QString& Category() const { return category_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    THandler OnExecute;
    THandler OnUpdate;

    // Runs the update handler, if any; false when there is none.
    bool Update();
    // Runs the update handler first and then the execute handler only if the
    // action is enabled at that moment; true when the execute handler ran.
    bool Execute();

signals:
    void CaptionChanged(const QString& caption);
    void EnabledChanged(bool enabled);

private:
    QString category_;
    QString caption_;
    bool enabled_ = true;
};

// Makes the button show the action: it takes the caption and enabled state
// now and whenever they change, and a click executes the action. Between
// changes of the action the button's enabled state may be set directly.
void LinkButton(QAbstractButton* button, TAction* action);
