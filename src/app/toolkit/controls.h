// The window's kinds of control beyond the common base. A click or change
// handler is a plain callback the implementation invokes, guarded, so that
// an exception from it is reported where the toolkit calls it.
#pragma once

#include "app/toolkit/control.h"

#include <functional>
#include <string>

class TPanel : public TControl {
public:
    using TControl::TControl;
};

class TGroupBox : public TControl {
public:
    using TControl::TControl;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
};

class TButton : public TControl {
public:
    using TControl::TControl;
    // A press by mouse, by keyboard or by its accelerator.
    std::function<void()> OnClick;
};

// A check box; its click handler runs on every change of its state, by the
// operator or by the program.
class TCheckBox : public TControl {
public:
    using TControl::TControl;
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;
    std::function<void()> OnClick;
};

// A radio button that is not part of a radio group; the radio buttons that
// share a parent exclude each other.
class TRadioButton : public TControl {
public:
    using TControl::TControl;
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;
};

// A captioned frame of mutually exclusive options laid out in columns. Its
// item index is the checked option's, -1 when none is checked.
class TRadioGroup : public TControl {
public:
    using TControl::TControl;
    virtual int ItemIndex() const = 0;
    // -1 unchecks every option.
    virtual void SetItemIndex(int index) = 0;
    virtual int Count() const = 0;
    virtual int Columns() const = 0;
    virtual std::string Items(int index) const = 0;
    // The checked option changed, by the operator or by the program.
    std::function<void()> OnClick;
};

// A drop-down list the operator picks from but cannot type into. Its change
// handler runs only on the operator's choice, never on the program's.
class TComboBox : public TControl {
public:
    using TControl::TControl;
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& item) = 0;
    virtual int Count() const = 0;
    virtual std::string Items(int index) const = 0;
    virtual int ItemIndex() const = 0;
    virtual void SetItemIndex(int index) = 0;
    std::function<void()> OnChange;
};

// A one-line edit field that keeps its text in capitals and at most
// MaxLength() characters long.
class TEdit : public TControl {
public:
    using TControl::TControl;
    virtual int MaxLength() const = 0;
};

// One text panel of a status bar.
class TStatusPanel {
public:
    virtual ~TStatusPanel() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
};

// A status bar of text panels addressed by index. Every panel but the last
// has its designed width; the last takes what is left of the bar.
class TStatusBar : public TControl {
public:
    using TControl::TControl;
    virtual int PanelCount() const = 0;
    // Throws std::out_of_range for an index beyond the panels.
    virtual TStatusPanel* Panels(int index) const = 0;
    // Where panel `index` lies in the bar.
    virtual TRect PanelRect(int index) const = 0;
};
