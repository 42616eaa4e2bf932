#include "app/toolkit/win32/window.h"

#include "app/toolkit/win32/application.h"
#include "app/toolkit/win32/confirm_dialog.h"
#include "app/toolkit/win32/controls.h"

#include <algorithm>
#include <stdexcept>

namespace w32tk {

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

bool IsRadioButton(HWND window) {
    wchar_t name[16];
    return GetClassNameW(window, name, 16) > 0 && _wcsicmp(name, L"BUTTON") == 0 &&
           (GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK) == BS_RADIOBUTTON;
}

bool CanTakeFocus(HWND window) {
    for (HWND w = window; w != nullptr; w = GetParent(w)) {
        if (!IsWindowVisible(w) || !IsWindowEnabled(w)) return false;
        if (!(GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) break;
    }
    return true;
}

bool Checked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The option Tab stops at in a set: the checked one, or the first that can
// take the focus when none is checked.
HWND EntryOption(const std::vector<HWND>& options) {
    for (HWND option : options)
        if (Checked(option)) return option;
    for (HWND option : options)
        if (CanTakeFocus(option)) return option;
    return options.empty() ? nullptr : options.front();
}

}  // namespace

Window::Window(const TWindowDesign& design) : name_(design.Name) {
    // The design's size is the client area's; the frame is around it.
    RECT frame{0, 0, design.Bounds.Width, design.Bounds.Height};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    handle_ = CreateWindowExW(0, FormClass(), Wide(design.Caption).c_str(), kFormStyle,
                              design.Bounds.Left, design.Bounds.Top, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    if (handle_ == nullptr)
        throw std::runtime_error("CreateWindowExW failed: " + SystemErrorText(GetLastError()));
    SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);

    for (const TControlDesign& row : design.Controls) {
        TControl* parent = nullptr;
        HWND parentWindow = handle_;
        if (row.Parent != name_) {
            parent = FindControl(row.Parent);
            if (parent == nullptr)
                throw std::logic_error(std::string("No container ") + row.Parent + " for " + row.Name);
            parentWindow = HandleOf(parent);
        }
        controls_.push_back(MakeControl(row, parent, parentWindow));
        byName_[row.Name] = controls_.back().get();
    }
    for (const char* name : design.TabOrder) {
        TControl* control = FindControl(name);
        if (control == nullptr) throw std::logic_error(std::string("No control ") + name + " to tab to");
        tabOrder_.push_back(control);
    }
    SetKeyHandler(handle_, [this](const MSG& message) { return HandleKey(message); });
}

Window::~Window() {
    for (int id : idleHandlers_) w32tk::RemoveIdleHandler(id);
    // The windows go first, while the controls their messages reach are whole.
    if (IsWindow(handle_)) {
        RemoveKeyHandler(handle_);
        // Closing the program's window ends the loop; destroying it here
        // does not.
        SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
        DestroyWindow(handle_);
    }
}

std::string Window::Caption() const { return WindowText(handle_); }

TRect Window::BoundsRect() const {
    // The frame's place, as the window was made at; the client area's size.
    RECT frame;
    RECT client;
    GetWindowRect(handle_, &frame);
    GetClientRect(handle_, &client);
    return {frame.left, frame.top, client.right, client.bottom};
}

void Window::Show() {
    ShowWindow(handle_, SW_SHOWNORMAL);
    UpdateWindow(handle_);
    // The keyboard starts at the first stop of the design's order.
    const std::vector<HWND> stops = TabStops();
    if (!stops.empty() && GetFocus() == nullptr) SetFocus(stops.front());
}

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
    const int id = w32tk::AddIdleHandler(std::move(handler));
    idleHandlers_.push_back(id);
    return id;
}

void Window::RemoveIdleHandler(int id) {
    w32tk::RemoveIdleHandler(id);
    idleHandlers_.erase(std::remove(idleHandlers_.begin(), idleHandlers_.end(), id), idleHandlers_.end());
}

bool Window::IdleUpdatesAllowed() const {
    return IsWindowVisible(handle_) && IsWindowEnabled(handle_) && !ModalBoxUp();
}

int Window::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    const ModalScope modal;
    MessageBoxW(handle_, Wide(text).c_str(), Wide(caption).c_str(),
                MB_OK | (flags & MB_ICONMASK) | MB_APPLMODAL);
    return IDOK;
}

bool Window::ConfirmYesNo(const std::string& text) {
    const ModalScope modal;
    return ShowConfirmation(handle_, text);
}

// Where Tab stops, in the design's order: each control that can take the
// focus; of a radio group or a set of radio buttons only the option it is
// entered at.
std::vector<HWND> Window::TabStops() const {
    std::vector<HWND> stops;
    for (TControl* control : tabOrder_) {
        HWND stop = nullptr;
        if (auto* group = dynamic_cast<RadioGroup*>(control)) {
            std::vector<HWND> options;
            for (int i = 0; i < group->Count(); ++i) options.push_back(group->Option(i));
            stop = EntryOption(options);
        } else if (control->Kind() == TControlKind::RadioButton) {
            std::vector<HWND> set;
            for (TControl* other : tabOrder_)
                if (other->Kind() == TControlKind::RadioButton && other->Parent() == control->Parent())
                    set.push_back(HandleOf(other));
            if (EntryOption(set) == HandleOf(control)) stop = HandleOf(control);
        } else {
            stop = HandleOf(control);
        }
        if (stop != nullptr && CanTakeFocus(stop)) stops.push_back(stop);
    }
    return stops;
}

// Arrow keys move to the next option of the set the focused one is in and
// choose it, as a click would.
bool Window::MoveInOptionSet(HWND option, int step) {
    std::vector<HWND> set;
    for (HWND sibling = GetWindow(GetParent(option), GW_CHILD); sibling != nullptr;
         sibling = GetWindow(sibling, GW_HWNDNEXT))
        if (IsRadioButton(sibling)) set.push_back(sibling);
    // The stacking order is the reverse of the order the options were made in.
    std::reverse(set.begin(), set.end());
    const auto at = std::find(set.begin(), set.end(), option);
    if (at == set.end()) return false;
    const auto count = static_cast<int>(set.size());
    int index = static_cast<int>(at - set.begin());
    for (int tried = 1; tried < count; ++tried) {
        index = (index + step + count) % count;
        HWND next = set[static_cast<std::size_t>(index)];
        if (!CanTakeFocus(next)) continue;
        SetFocus(next);
        SendMessageW(next, BM_CLICK, 0, 0);
        return true;
    }
    return true;
}

bool Window::HandleKey(const MSG& message) {
    if (message.message != WM_KEYDOWN) return false;
    const HWND focus = GetFocus();
    switch (message.wParam) {
    case VK_TAB: {
        if (GetKeyState(VK_CONTROL) < 0) return false;
        const std::vector<HWND> stops = TabStops();
        if (stops.empty()) return true;
        const auto count = static_cast<int>(stops.size());
        // The stop that holds the focus, or the one whose set it is in.
        int at = -1;
        for (int i = 0; i < count; ++i) {
            HWND stop = stops[static_cast<std::size_t>(i)];
            if (stop == focus || (IsRadioButton(focus) && IsRadioButton(stop) &&
                                  GetParent(stop) == GetParent(focus)))
                at = i;
        }
        const int step = GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
        const int next = at < 0 ? (step > 0 ? 0 : count - 1) : (at + step + count) % count;
        SetFocus(stops[static_cast<std::size_t>(next)]);
        return true;
    }
    case VK_LEFT:
    case VK_UP:
        return IsRadioButton(focus) && MoveInOptionSet(focus, -1);
    case VK_RIGHT:
    case VK_DOWN:
        return IsRadioButton(focus) && MoveInOptionSet(focus, 1);
    default:
        return false;
    }
}

}  // namespace w32tk

std::unique_ptr<TWindow> BuildWindow(const TWindowDesign& design) {
    return std::make_unique<w32tk::Window>(design);
}
