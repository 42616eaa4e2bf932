// The Win32 form of the program's window: a top-level window with a fixed
// client area, the controls of its design, the dialogs, and the keyboard
// order of the design.
#pragma once

#include "app/toolkit/window.h"
#include "app/toolkit/win32/text.h"

#include <map>
#include <memory>

namespace w32tk {

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

    HWND Handle() const { return handle_; }

private:
    bool HandleKey(const MSG& message);
    std::vector<HWND> TabStops() const;
    bool MoveInOptionSet(HWND option, int step);

    std::string name_;
    HWND handle_ = nullptr;
    std::vector<std::unique_ptr<TControl>> controls_;
    std::map<std::string, TControl*> byName_;
    std::vector<TControl*> tabOrder_;
    std::vector<int> idleHandlers_;
};

}  // namespace w32tk
