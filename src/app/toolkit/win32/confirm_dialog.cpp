#include "app/toolkit/win32/confirm_dialog.h"

#include "app/toolkit/win32/application.h"
#include "app/toolkit/win32/dialog_template.h"

#include <algorithm>

namespace w32tk {

namespace {

constexpr int kIconId = 100;
constexpr int kTextId = 101;
constexpr int kMargin = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;

struct Confirmation {
    std::wstring text;
};

void Place(HWND dialog, int id, int left, int top, int width, int height) {
    PlaceDialogControl(dialog, id, WindowFont(), left, top, width, height);
}

void LayOut(HWND dialog, const std::wstring& text) {
    HDC dc = GetDC(dialog);
    const HGDIOBJ old = SelectObject(dc, WindowFont());
    RECT measured{0, 0, 400, 0};
    DrawTextW(dc, text.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);

    const int icon = GetSystemMetrics(SM_CXICON);
    const int textLeft = kMargin + icon + kMargin;
    const int contentHeight = std::max<int>(icon, measured.bottom);
    const int buttonsWidth = 2 * kButtonWidth + 6;
    const int width = std::max<int>(textLeft + measured.right, buttonsWidth + kMargin) + kMargin;
    const int buttonsTop = kMargin + contentHeight + kMargin;
    const int height = buttonsTop + kButtonHeight + kMargin;

    Place(dialog, kIconId, kMargin, kMargin, icon, icon);
    Place(dialog, kTextId, textLeft, kMargin + (contentHeight - measured.bottom) / 2, measured.right,
          measured.bottom);
    const int buttonsLeft = (width - buttonsWidth) / 2;
    Place(dialog, IDYES, buttonsLeft, buttonsTop, kButtonWidth, kButtonHeight);
    Place(dialog, IDNO, buttonsLeft + kButtonWidth + 6, buttonsTop, kButtonWidth, kButtonHeight);
    SendDlgItemMessageW(dialog, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32514))  /* IDI_QUESTION */), 0);
    SetDlgItemTextW(dialog, kTextId, text.c_str());

    CentreDialog(dialog, width, height);
}

INT_PTR CALLBACK ConfirmationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
        LayOut(dialog, reinterpret_cast<const Confirmation*>(lParam)->text);
        SetFocus(GetDlgItem(dialog, IDYES));
        return FALSE;  // the focus is set
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDYES: EndDialog(dialog, IDYES); return TRUE;
        case IDNO:
        case IDCANCEL: EndDialog(dialog, IDNO); return TRUE;  // Esc and the close box
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

bool ShowConfirmation(HWND owner, const std::string& text) {
    DialogTemplate dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, L"Confirm", 4);
    dialog.AddControl(SS_ICON, kIconId, DialogControl::Static, L"");
    dialog.AddControl(SS_LEFT | SS_NOPREFIX, kTextId, DialogControl::Static, L"");
    dialog.AddControl(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, DialogControl::Button, L"&Yes");
    dialog.AddControl(BS_PUSHBUTTON | WS_TABSTOP, IDNO, DialogControl::Button, L"&No");
    Confirmation confirmation{Wide(text)};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner,
                                                   ConfirmationProc,
                                                   reinterpret_cast<LPARAM>(&confirmation));
    return answer == IDYES;
}

}  // namespace w32tk
