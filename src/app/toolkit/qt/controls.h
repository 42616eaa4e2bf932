// The Qt forms of the design's controls: each wraps the widget that stands
// for it, which its parent widget owns.
#pragma once

#include "app/toolkit/controls.h"
#include "app/toolkit/window_design.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace qtk {

class RadioGroupBox;
class StatusBarWidget;

inline QString ToQString(const std::string& text) { return QString::fromStdString(text); }

// The widget behind a control of this implementation.
class WidgetHolder {
public:
    explicit WidgetHolder(QWidget* widget) : widget_(widget) {}
    virtual ~WidgetHolder() = default;
    QWidget* Widget() const { return widget_; }

private:
    QWidget* widget_;
};

// What every control does the same way on a widget.
template <class Interface, class QtWidget>
class Control : public Interface, public WidgetHolder {
public:
    Control(const TControlDesign& design, TControl* parent, QtWidget* widget)
        : Interface(design.Name, design.Kind, parent), WidgetHolder(widget), widget_(widget) {}

    TRect BoundsRect() const override {
        const QRect r = widget_->geometry();
        return {r.x(), r.y(), r.width(), r.height()};
    }
    bool Enabled() const override { return widget_->isEnabled(); }
    void SetEnabled(bool enabled) override {
        // The widget's own state, not the one it takes from its container.
        if (widget_->testAttribute(Qt::WA_ForceDisabled) == enabled) widget_->setEnabled(enabled);
    }
    std::string Text() const override { return {}; }
    void SetText(const std::string&) override {}

protected:
    QtWidget* widget_;
};

// A control whose text is its widget's text().
template <class Interface, class QtWidget>
class TextControl : public Control<Interface, QtWidget> {
public:
    using Control<Interface, QtWidget>::Control;
    std::string Text() const override { return this->widget_->text().toStdString(); }
    void SetText(const std::string& text) override { this->widget_->setText(ToQString(text)); }
};

class Panel : public Control<TPanel, QFrame> {
public:
    Panel(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
};

class GroupBox : public Control<TGroupBox, QGroupBox> {
public:
    GroupBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    std::string Text() const override { return widget_->title().toStdString(); }
    void SetText(const std::string& text) override { widget_->setTitle(ToQString(text)); }
};

class Label : public TextControl<TLabel, QLabel> {
public:
    Label(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
};

class Button : public TextControl<TButton, QPushButton> {
public:
    Button(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
};

class CheckBox : public TextControl<TCheckBox, QCheckBox> {
public:
    CheckBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    bool Checked() const override { return widget_->isChecked(); }
    void SetChecked(bool checked) override { widget_->setChecked(checked); }
};

class RadioButton : public TextControl<TRadioButton, QRadioButton> {
public:
    RadioButton(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    bool Checked() const override { return widget_->isChecked(); }
    void SetChecked(bool checked) override { widget_->setChecked(checked); }
};

class RadioGroup : public Control<TRadioGroup, RadioGroupBox> {
public:
    RadioGroup(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    std::string Text() const override;
    void SetText(const std::string& text) override;
    int ItemIndex() const override;
    void SetItemIndex(int index) override;
    int Count() const override;
    int Columns() const override;
    std::string Items(int index) const override;
};

class ComboBox : public Control<TComboBox, QComboBox> {
public:
    ComboBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    void Clear() override { widget_->clear(); }
    void AddItem(const std::string& item) override { widget_->addItem(ToQString(item)); }
    int Count() const override { return widget_->count(); }
    std::string Items(int index) const override { return widget_->itemText(index).toStdString(); }
    int ItemIndex() const override { return widget_->currentIndex(); }
    void SetItemIndex(int index) override { widget_->setCurrentIndex(index); }
};

class Edit : public TextControl<TEdit, QLineEdit> {
public:
    Edit(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    int MaxLength() const override { return widget_->maxLength(); }
};

class StatusBar : public Control<TStatusBar, StatusBarWidget> {
public:
    StatusBar(const TControlDesign& design, TControl* parent, QWidget* parentWidget);
    ~StatusBar() override;
    int PanelCount() const override;
    TStatusPanel* Panels(int index) const override;
    TRect PanelRect(int index) const override;

private:
    std::vector<std::unique_ptr<TStatusPanel>> panels_;
};

// The control of `design`'s kind, made on `parentWidget`.
std::unique_ptr<TControl> MakeControl(const TControlDesign& design, TControl* parent,
                                      QWidget* parentWidget);

}  // namespace qtk
