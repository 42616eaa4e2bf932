// The port selection dialog on Windows, under Wine: the ports it lists come
// from the device layer's probe of COM ports linked in the prefix, and the
// user's pick, made in the running dialog, is the port reported.
#include "app/toolkit/win32/com_select_form.h"

#include "peer_client.h"
#include "port_dir.h"
#include "serial/core/port_available.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sio;

namespace {

// What the user does once the dialog is up: picks entry `index`, presses
// `button`; and what the running dialog showed.
struct UserAction {
    UserAction(int pick, int press) : index(pick), button(press) {}
    int index;
    int button;
    std::vector<std::string> shown;  // caption, labels, entries, buttons
    bool clipped = false;            // a label narrower than its text
};
UserAction* action = nullptr;

std::string TextOf(HWND dialog, int id) { return w32tk::WindowText(GetDlgItem(dialog, id)); }

bool Clipped(HWND dialog, int id) {
    HWND label = GetDlgItem(dialog, id);
    const std::wstring text = w32tk::Wide(w32tk::WindowText(label));
    HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT place{};
    GetClientRect(label, &place);
    return size.cx > place.right || size.cy > place.bottom;
}

// Runs in the dialog's own modal loop, until the dialog is there.
void CALLBACK ActWhenShown(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowW(L"#32770", L"Select Port");
    if (dialog == nullptr || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    HWND list = GetDlgItem(dialog, TComSelectForm::PortsComboBox);
    action->shown = {w32tk::WindowText(dialog), TextOf(dialog, TComSelectForm::InvalidLabel),
                     TextOf(dialog, TComSelectForm::ChooseLabel)};
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t entry[16] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        action->shown.push_back(w32tk::Utf8(entry));
    }
    action->shown.push_back(TextOf(dialog, IDOK));
    action->shown.push_back(TextOf(dialog, IDCANCEL));
    action->clipped = Clipped(dialog, TComSelectForm::InvalidLabel) || Clipped(dialog, TComSelectForm::ChooseLabel);
    // As the list box tells its dialog about a choice, then the button.
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(action->index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(TComSelectForm::PortsComboBox, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    SendMessageW(GetDlgItem(dialog, action->button), BM_CLICK, 0, 0);
}

bool ShowAndAct(TComSelectForm& form, UserAction& what) {
    action = &what;
    SetTimer(nullptr, 0, 10, ActWhenShown);
    const bool ok = form.ShowModal();
    action = nullptr;
    return ok;
}

TEST(ComSelectForm, ListsTheLinkedPortsAndReportsThePick) {
    test::ScopedPortDir ports;
    peer::LinePeer* peer = peer::SharedLinePeer();
    ASSERT_NE(peer, nullptr);
    ASSERT_FALSE(peer->Link(12, ports.path()).empty());
    ASSERT_FALSE(peer->Link(37, ports.path()).empty());
    EXPECT_FALSE(IsPortAvailable(0));

    // The device layer's probe, asked about three numbers only: under Wine
    // each absent port costs about two seconds to refuse.
    TComSelectForm form([](int n) { return (n == 12 || n == 13 || n == 37) && IsPortAvailable(n); });
    EXPECT_EQ(form.Ports(), (std::vector<std::string>{"COM12", "COM37"}));
    EXPECT_EQ(form.SelectedPort(), 12) << "the first entry until the user picks";
    UserAction pick{1, IDOK};
    ASSERT_TRUE(ShowAndAct(form, pick));
    EXPECT_EQ(pick.shown, (std::vector<std::string>{"Select Port", "The configured serial port is not valid.",
                                                    "Please choose another port.", "COM12", "COM37", "OK",
                                                    "Cancel"}));
    EXPECT_FALSE(pick.clipped);
    EXPECT_EQ(form.SelectedPort(), 37);

    UserAction cancel{0, IDCANCEL};
    EXPECT_FALSE(ShowAndAct(form, cancel));
    EXPECT_EQ(form.SelectedPort(), 37) << "a cancel keeps the last choice";

    peer->HangUp(12);
    peer->HangUp(37);
}

TEST(ComSelectForm, AnEmptyListReportsNoPortEvenOnOk) {
    TComSelectForm none([](int) { return false; });
    EXPECT_TRUE(none.Ports().empty());
    UserAction ok{0, IDOK};
    EXPECT_FALSE(ShowAndAct(none, ok));
    EXPECT_EQ(none.SelectedPort(), 0);
}

}  // namespace
