// What Windows itself leaves undone: a child of a disabled window is drawn
// as usable, so every window inside a disabled setting must be disabled too,
// or the operator sees settings greyed on Linux and usable on Windows.
#include "form_com_fixture.h"

#include "app/toolkit/win32/controls.h"

namespace {

// Each window below `control`'s, at any depth, and the control's own.
std::vector<HWND> WindowsOf(TControl* control) {
    std::vector<HWND> windows{dynamic_cast<w32tk::WindowHolder*>(control)->Handle()};
    EnumChildWindows(
        windows.front(),
        [](HWND w, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

void ExpectDrawnEnabled(TControl* control, bool enabled) {
    for (HWND w : WindowsOf(control)) EXPECT_EQ(IsWindowEnabled(w) != FALSE, enabled) << control->Name();
}

TEST_F(FormCom, EveryWindowInsideADisabledSettingIsDrawnDisabledAndComesBackWithIt) {
    // Radio groups draw their options as windows of their own, which no
    // handler switches one by one.
    const std::vector<TControl*> groups{form.RadioGroup_cardnum, form.RadioGroup_bandrate_OutStyle_bit1_0,
                                        form.RadioGroup_KeySet};
    for (TControl* c : groups) ExpectDrawnEnabled(c, false);
    ConnectInModeOne();
    for (TControl* c : groups) ExpectDrawnEnabled(c, true);
    Connect(false);
    for (TControl* c : groups) ExpectDrawnEnabled(c, false);
}

}  // namespace
