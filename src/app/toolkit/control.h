// The base of every control of the window: its design name, kind, parent and
// place, its enabled state and its text. Texts are UTF-8 throughout; an
// implementation converts them to what its controls hold.
#pragma once

#include <string>
#include <utility>

// What a handler receives as its sender: a control or an action.
class TObject {
public:
    virtual ~TObject() = default;
};

enum class TControlKind {
    Panel,
    GroupBox,
    Label,
    RadioGroup,
    RadioButton,
    ComboBox,
    Edit,
    CheckBox,
    Button,
    StatusBar,
};

// A rectangle in the parent's client coordinates.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

class TControl : public TObject {
public:
    TControl(std::string name, TControlKind kind, TControl* parent)
        : name_(std::move(name)), kind_(kind), parent_(parent) {}
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string& Name() const { return name_; }
    TControlKind Kind() const { return kind_; }
    // Null for a control that lies directly on the window.
    TControl* Parent() const { return parent_; }

    // Where the control lies in its parent, as the toolkit has it now.
    virtual TRect BoundsRect() const = 0;
    // Disabled also when a container it lies in is disabled.
    virtual bool Enabled() const = 0;
    // Touches the control only when its own state changes: idle-time
    // handlers call this at every idle moment, and a needless repaint would
    // wake the idle loop up again.
    virtual void SetEnabled(bool enabled) = 0;
    // The caption or the text; empty for a control that has none.
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;

private:
    std::string name_;
    TControlKind kind_;
    TControl* parent_;
};
