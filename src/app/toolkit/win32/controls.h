// The Win32 forms of the design's controls: each wraps the window that
// stands for it, which its parent window owns and destroys.
#pragma once

#include "app/toolkit/controls.h"
#include "app/toolkit/win32/application.h"
#include "app/toolkit/window_design.h"

#include <memory>
#include <string>
#include <vector>

namespace w32tk {

// The window behind a control of this implementation.
class WindowHolder {
public:
    explicit WindowHolder(HWND handle) : handle_(handle) {}
    virtual ~WindowHolder() = default;
    HWND Handle() const { return handle_; }

private:
    HWND handle_;
};

// Makes a child window in its designed place, in the window font, stacked
// over the children made before it.
HWND MakeChild(const wchar_t* windowClass, const std::string& text, DWORD style, DWORD exStyle,
               const TRect& bounds, HWND parent);

// Where `window` lies in its parent's client area.
TRect BoundsOf(HWND window);

// Enabling. Windows draws a child of a disabled window as usable (it only
// gets no input), where the operator must see every setting of a disabled
// group greyed, as the design's radio groups grey their buttons. So each
// window keeps its own state apart (a window property), and its window is
// enabled only while it and every container above it are.
void SetOwnEnabled(HWND window, bool enabled);
bool EffectivelyEnabled(HWND window);

// What every control does the same way on a window.
template <class Interface>
class Control : public Interface, public WindowHolder {
public:
    Control(const TControlDesign& design, TControl* parent, HWND handle)
        : Interface(design.Name, design.Kind, parent), WindowHolder(handle) {}

    TRect BoundsRect() const override { return BoundsOf(Handle()); }
    bool Enabled() const override { return EffectivelyEnabled(Handle()); }
    void SetEnabled(bool enabled) override { SetOwnEnabled(Handle(), enabled); }
    std::string Text() const override { return {}; }
    void SetText(const std::string&) override {}
};

// A control whose text is its window's text.
template <class Interface>
class TextControl : public Control<Interface> {
public:
    using Control<Interface>::Control;
    std::string Text() const override { return WindowText(this->Handle()); }
    void SetText(const std::string& text) override {
        SetWindowTextW(this->Handle(), Wide(text).c_str());
    }
};

class Panel : public Control<TPanel> {
public:
    Panel(const TControlDesign& design, TControl* parent, HWND parentWindow);
};

// A container with a captioned frame, the frame a group-box button behind
// the container's children.
class GroupBox : public Control<TGroupBox> {
public:
    GroupBox(const TControlDesign& design, TControl* parent, HWND parentWindow);
    std::string Text() const override { return WindowText(frame_); }
    void SetText(const std::string& text) override { SetWindowTextW(frame_, Wide(text).c_str()); }

private:
    HWND frame_;
};

class Label : public TextControl<TLabel> {
public:
    Label(const TControlDesign& design, TControl* parent, HWND parentWindow);
};

class Button : public TextControl<TButton>, public CommandTarget {
public:
    Button(const TControlDesign& design, TControl* parent, HWND parentWindow);
    void OnCommand(WORD code) override;
};

class CheckBox : public TextControl<TCheckBox>, public CommandTarget {
public:
    CheckBox(const TControlDesign& design, TControl* parent, HWND parentWindow);
    bool Checked() const override;
    void SetChecked(bool checked) override;
    void OnCommand(WORD code) override;
};

// Radio buttons that share a container exclude each other; the exclusion is
// done here, not by the button class, so it does not depend on the order
// the windows are stacked in.
class RadioButton : public TextControl<TRadioButton>, public CommandTarget {
public:
    RadioButton(const TControlDesign& design, TControl* parent, HWND parentWindow);
    bool Checked() const override;
    void SetChecked(bool checked) override;
    void OnCommand(WORD code) override;
};

class RadioGroup : public Control<TRadioGroup> {
public:
    RadioGroup(const TControlDesign& design, TControl* parent, HWND parentWindow);
    ~RadioGroup() override;
    std::string Text() const override { return WindowText(frame_); }
    void SetText(const std::string& text) override { SetWindowTextW(frame_, Wide(text).c_str()); }
    int ItemIndex() const override { return itemIndex_; }
    void SetItemIndex(int index) override;
    int Count() const override { return static_cast<int>(options_.size()); }
    int Columns() const override { return columns_; }
    std::string Items(int index) const override;

    // The option's button window.
    HWND Option(int index) const;
    // The operator clicked option `index`.
    void Choose(int index);

private:
    class OptionTarget;
    void ArrangeOptions();
    void ShowChecked();

    HWND frame_;
    int columns_;
    int itemIndex_ = -1;
    std::vector<HWND> options_;
    std::vector<std::unique_ptr<OptionTarget>> targets_;
};

class ComboBox : public Control<TComboBox>, public CommandTarget {
public:
    ComboBox(const TControlDesign& design, TControl* parent, HWND parentWindow);
    void Clear() override;
    void AddItem(const std::string& item) override;
    int Count() const override;
    std::string Items(int index) const override;
    int ItemIndex() const override;
    void SetItemIndex(int index) override;
    void OnCommand(WORD code) override;
};

class Edit : public TextControl<TEdit> {
public:
    Edit(const TControlDesign& design, TControl* parent, HWND parentWindow);
    int MaxLength() const override { return maxLength_; }
    void SetText(const std::string& text) override;

private:
    int maxLength_;
};

class StatusBar : public Control<TStatusBar> {
public:
    StatusBar(const TControlDesign& design, TControl* parent, HWND parentWindow);
    ~StatusBar() override;
    int PanelCount() const override { return static_cast<int>(panels_.size()); }
    TStatusPanel* Panels(int index) const override;
    TRect PanelRect(int index) const override;

private:
    std::vector<std::unique_ptr<TStatusPanel>> panels_;
};

// The control of `design`'s kind, made in `parentWindow`.
std::unique_ptr<TControl> MakeControl(const TControlDesign& design, TControl* parent,
                                      HWND parentWindow);

// The window behind a control of this implementation.
HWND HandleOf(const TControl* control);

}  // namespace w32tk
