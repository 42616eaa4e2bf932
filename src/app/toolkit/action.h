// An action: a command with a caption, an enabled state, an execute handler
// and an update handler run at idle time. Buttons linked to it show its
// caption and follow its enabled state, and a click executes it.
#pragma once

#include "app/toolkit/control.h"

#include <functional>
#include <string>
#include <vector>

class TButton;

class TAction : public TObject {
public:
    // Handlers receive the action as their sender.
    using THandler = std::function<void(TObject* Sender)>;

    TAction(std::string name, std::string category, std::string caption);
    TAction(const TAction&) = delete;
    TAction& operator=(const TAction&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    // Groups actions for the reader of the code; it has no effect at run time.
    const std::string& Category() const { return category_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    THandler OnExecute;
    THandler OnUpdate;

    // Runs the update handler, if any; false when there is none.
    bool Update();
    // Runs the update handler first and then the execute handler only if the
    // action is enabled at that moment; true when the execute handler ran.
    bool Execute();

private:
    friend void LinkButton(TButton* button, TAction* action);

    std::string name_;
    std::string category_;
    std::string caption_;
    bool enabled_ = true;
    std::vector<TButton*> buttons_;  // shown on; they outlive the action's use
};

// Makes the button show the action: it takes the caption and enabled state
// now and whenever they change, and a click executes the action. Between
// changes of the action the button's enabled state may be set directly.
void LinkButton(TButton* button, TAction* action);
