#include "app/toolkit/win32/confirm_dialog.h"

#include "app/toolkit/win32/application.h"

#include <algorithm>
#include <vector>

namespace w32tk {

namespace {

constexpr int kIconId = 100;
constexpr int kTextId = 101;
constexpr int kMargin = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;

// An in-memory dialog template: the dialog and its controls, laid out in
// pixels when the dialog starts, since only then is the text measured.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, const wchar_t* caption, WORD controls) {
        Add32(style);
        Add32(0);  // extended style
        words_.push_back(controls);
        for (int i = 0; i < 4; ++i) words_.push_back(0);  // place, set later
        words_.push_back(0);  // no menu
        words_.push_back(0);  // the standard dialog class
        AddText(caption);
    }

    // `atom`: 0x0080 button, 0x0082 static.
    void AddControl(DWORD style, WORD id, WORD atom, const wchar_t* text) {
        while (words_.size() % 2 != 0) words_.push_back(0);  // DWORD aligned
        Add32(style | WS_CHILD | WS_VISIBLE);
        Add32(0);
        for (int i = 0; i < 4; ++i) words_.push_back(0);
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        AddText(text);
        words_.push_back(0);  // no creation data
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Add32(DWORD value) {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    void AddText(const wchar_t* text) {
        for (; *text != L'\0'; ++text) words_.push_back(static_cast<WORD>(*text));
        words_.push_back(0);
    }

    // Kept in DWORDs' worth of WORDs so the start is DWORD aligned.
    std::vector<WORD> words_;
};

struct Confirmation {
    std::wstring text;
};

void Place(HWND dialog, int id, int left, int top, int width, int height) {
    HWND control = GetDlgItem(dialog, id);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    MoveWindow(control, left, top, width, height, FALSE);
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

    // Centred over the owner.
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    RECT owner{};
    HWND parent = GetWindow(dialog, GW_OWNER);
    if (parent == nullptr || !GetWindowRect(parent, &owner)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &owner, 0);
    const int frameWidth = frame.right - frame.left;
    const int frameHeight = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, owner.left + (owner.right - owner.left - frameWidth) / 2,
                 owner.top + (owner.bottom - owner.top - frameHeight) / 2, frameWidth, frameHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
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
    dialog.AddControl(SS_ICON, kIconId, 0x0082, L"");
    dialog.AddControl(SS_LEFT | SS_NOPREFIX, kTextId, 0x0082, L"");
    dialog.AddControl(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, 0x0080, L"&Yes");
    dialog.AddControl(BS_PUSHBUTTON | WS_TABSTOP, IDNO, 0x0080, L"&No");
    Confirmation confirmation{Wide(text)};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner,
                                                   ConfirmationProc,
                                                   reinterpret_cast<LPARAM>(&confirmation));
    return answer == IDYES;
}

}  // namespace w32tk
