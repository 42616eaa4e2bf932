// The operator's actions as mouse messages to the windows behind the
// controls, the way the system delivers a click.
#include "operator.h"

#include "app/toolkit/win32/application.h"
#include "app/toolkit/win32/controls.h"

#include <gtest/gtest.h>

void RunUntilIdle() { w32tk::RunUntilIdle(); }

namespace {

// The system sends no mouse input to a disabled window, nor to one inside a
// disabled container.
bool TakesInput(HWND window) {
    for (HWND w = window; w != nullptr; w = GetParent(w)) {
        if (!IsWindowEnabled(w)) return false;
        if (!(GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) break;
    }
    return true;
}

void ClickAt(HWND window, int x, int y) {
    if (!TakesInput(window)) return;
    const LPARAM at = MAKELPARAM(x, y);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(window, WM_LBUTTONUP, 0, at);
}

// A radio button or check box reacts to clicks on its mark and caption.
void ClickOnItsMark(HWND option) {
    RECT client;
    GetClientRect(option, &client);
    ClickAt(option, 6, client.bottom / 2);
}

}  // namespace

void ClickOption(TRadioGroup* group, int index) {
    ClickOnItsMark(dynamic_cast<w32tk::RadioGroup&>(*group).Option(index));
}

void Click(TRadioButton* button) { ClickOnItsMark(w32tk::HandleOf(button)); }

void Click(TCheckBox* box) { ClickOnItsMark(w32tk::HandleOf(box)); }

void Press(TButton* button) {
    HWND window = w32tk::HandleOf(button);
    RECT client;
    GetClientRect(window, &client);
    ClickAt(window, client.right / 2, client.bottom / 2);
}

void ChooseItem(TComboBox* list, int index) {
    HWND box = w32tk::HandleOf(list);
    if (!TakesInput(box)) ADD_FAILURE() << "an operator cannot choose in a disabled list";
    // What the list does when the operator picks an item: it selects it and
    // tells its parent.
    SendMessageW(box, CB_SETCURSEL, index, 0);
    SendMessageW(GetParent(box), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(box), CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

namespace {

HWND HandleAt(TFocus at) {
    if (at.option >= 0) return dynamic_cast<const w32tk::RadioGroup&>(*at.control).Option(at.option);
    return w32tk::HandleOf(at.control);
}

}  // namespace

void PressKey(TFocus from, TKey key) {
    HWND window = HandleAt(from);
    SetFocus(window);
    const WPARAM keys[] = {VK_TAB, VK_TAB, VK_LEFT, VK_DOWN};
    // Shift held down for Shift+Tab, in the thread's own key state, which
    // is what the window reads while it handles the key.
    BYTE state[256];
    GetKeyboardState(state);
    const BYTE shift = state[VK_SHIFT];
    state[VK_SHIFT] = key == TKey::BackTab ? 0x80 : 0;
    SetKeyboardState(state);
    PostMessageW(window, WM_KEYDOWN, keys[static_cast<int>(key)], 1);
    w32tk::RunUntilIdle();
    state[VK_SHIFT] = shift;
    SetKeyboardState(state);
}

bool HasFocus(TFocus at) { return GetFocus() == HandleAt(at); }
