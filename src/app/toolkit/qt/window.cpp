#include "app/toolkit/qt/window.h"

#include "app/toolkit/qt/controls.h"
#include "app/toolkit/qt/dialogs.h"
#include "app/toolkit/qt/option_tab_stop.h"
#include "app/toolkit/qt/radio_group_box.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFont>
#include <QPalette>

#include <stdexcept>

namespace qtk {

Window::Window(const TWindowDesign& design) : name_(design.Name), root_(std::make_unique<QWidget>()) {
    QWidget& window = *root_;
    window.setObjectName(design.Name);
    window.setWindowTitle(QString::fromUtf8(design.Caption));
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
    // The design font cannot show Chinese; this one shows both scripts at
    // the size the design's Chinese captions were laid out for.
    QFont font;
    font.setFamilies({"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Sans Serif"});
    font.setPixelSize(12);
    window.setFont(font);
    QPalette colours = window.palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    window.setPalette(colours);
    window.setAutoFillBackground(true);
    window.setFixedSize(design.Bounds.Width, design.Bounds.Height);
    window.move(design.Bounds.Left, design.Bounds.Top);

    for (const TControlDesign& row : design.Controls) {
        TControl* parent = nullptr;
        QWidget* parentWidget = &window;
        if (row.Parent != name_) {
            parent = FindControl(row.Parent);
            if (parent == nullptr)
                throw std::logic_error(std::string("No container ") + row.Parent + " for " + row.Name);
            parentWidget = dynamic_cast<WidgetHolder&>(*parent).Widget();
        }
        controls_.push_back(MakeControl(row, parent, parentWidget));
        byName_[row.Name] = controls_.back().get();
    }
    KeepTabStopsOfRadioButtons();
    SetTabOrder(design.TabOrder);

    // aboutToBlock is emitted once each time the main thread runs out of
    // events and is about to sleep: the toolkit's idle moment. A plain
    // processEvents() never emits it.
    idleConnection_ = QObject::connect(QAbstractEventDispatcher::instance(window.thread()),
                                       &QAbstractEventDispatcher::aboutToBlock, &window,
                                       [this] { OnIdle(); });
}

Window::~Window() {
    QObject::disconnect(idleConnection_);
    // The widgets go first, while the controls their signals reach are whole.
    root_.reset();
}

std::string Window::Caption() const { return root_->windowTitle().toStdString(); }

TRect Window::BoundsRect() const {
    // pos() is the frame's, as move() takes it; the size is the client area's.
    return {root_->x(), root_->y(), root_->width(), root_->height()};
}

void Window::Show() { root_->show(); }

TControl* Window::FindControl(const std::string& name) const {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

std::vector<TControl*> Window::Controls() const {
    std::vector<TControl*> controls;
    for (const auto& control : controls_) controls.push_back(control.get());
    return controls;
}

int Window::AddIdleHandler(std::function<void()> handler) {
    idleHandlers_[++lastIdleHandler_] = std::move(handler);
    return lastIdleHandler_;
}

void Window::RemoveIdleHandler(int id) { idleHandlers_.erase(id); }

bool Window::IdleUpdatesAllowed() const {
    // A modal box runs its own loop, which also goes idle.
    return root_->isVisible() && root_->isEnabled() && QApplication::activeModalWidget() == nullptr;
}

void Window::OnIdle() {
    // A handler may show a box whose loop goes idle in turn, or remove a
    // handler: the ones to run are taken first.
    std::vector<std::function<void()>> handlers;
    for (const auto& entry : idleHandlers_) handlers.push_back(entry.second);
    for (const auto& handler : handlers) handler();
}

int Window::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return ShowMessageBoxDialog(root_.get(), ToQString(text), ToQString(caption), flags);
}

bool Window::ConfirmYesNo(const std::string& text) {
    return ShowConfirmationDialog(root_.get(), ToQString(text));
}

// Radio buttons that share a container are one set of options for the
// keyboard, entered at the checked one.
void Window::KeepTabStopsOfRadioButtons() {
    std::map<QWidget*, std::vector<QAbstractButton*>> sets;
    std::vector<QWidget*> order;
    for (const auto& control : controls_) {
        if (control->Kind() != TControlKind::RadioButton) continue;
        auto* button = static_cast<QAbstractButton*>(dynamic_cast<WidgetHolder&>(*control).Widget());
        if (!sets.count(button->parentWidget())) order.push_back(button->parentWidget());
        sets[button->parentWidget()].push_back(button);
    }
    for (QWidget* container : order) KeepTabStopOnCheckedOption(sets[container]);
}

void Window::SetTabOrder(const std::vector<const char*>& names) {
    std::vector<QWidget*> order;
    for (const char* name : names) {
        TControl* control = FindControl(name);
        if (control == nullptr) throw std::logic_error(std::string("No control ") + name + " to tab to");
        QWidget* widget = dynamic_cast<WidgetHolder&>(*control).Widget();
        if (auto* group = qobject_cast<RadioGroupBox*>(widget)) {
            for (int i = 0; i < group->Count(); ++i) order.push_back(group->Button(i));
        } else {
            order.push_back(widget);
        }
    }
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace qtk

std::unique_ptr<TWindow> BuildWindow(const TWindowDesign& design) {
    return std::make_unique<qtk::Window>(design);
}
