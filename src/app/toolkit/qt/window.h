// The Qt form of the program's window: a top-level widget with a fixed
// client area, the controls of its design, the dialogs, and the main
// thread's idle moments.
#pragma once

#include "app/toolkit/window.h"

#include <QMetaObject>
#include <QWidget>

#include <map>
#include <memory>

namespace qtk {

class Window : public TWindow {
public:
    explicit Window(const TWindowDesign& design);
    ~Window() override;

    const std::string& Name() const override { return name_; }
    std::string Caption() const override;
    TRect BoundsRect() const override;
    void Show() override;
    TControl* FindControl(const std::string& name) const override;
    std::vector<TControl*> Controls() const override;
    int AddIdleHandler(std::function<void()> handler) override;
    void RemoveIdleHandler(int id) override;
    bool IdleUpdatesAllowed() const override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool ConfirmYesNo(const std::string& text) override;

    QWidget* Widget() const { return root_.get(); }

private:
    void SetTabOrder(const std::vector<const char*>& names);
    void KeepTabStopsOfRadioButtons();
    void OnIdle();

    std::string name_;
    std::unique_ptr<QWidget> root_;
    std::vector<std::unique_ptr<TControl>> controls_;
    std::map<std::string, TControl*> byName_;
    std::map<int, std::function<void()>> idleHandlers_;
    int lastIdleHandler_ = 0;
    QMetaObject::Connection idleConnection_;
};

}  // namespace qtk
