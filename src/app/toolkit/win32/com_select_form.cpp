#include "app/toolkit/win32/com_select_form.h"

#include "app/toolkit/win32/application.h"
#include "app/toolkit/win32/dialog_template.h"
#include "serial/component/com_port_hooks.h"
#include "serial/core/port_available.h"

#include <algorithm>
#include <cstdlib>

namespace sio {

namespace {

constexpr int kHighestListedPort = 50;
constexpr int kMargin = 12;
constexpr int kGap = 6;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kComboWidth = 120;
constexpr int kComboHeight = 21;      // the closed box
constexpr int kComboListHeight = 160;  // with its list dropped down

const wchar_t kInvalidText[] = L"The configured serial port is not valid.";
const wchar_t kChooseText[] = L"Please choose another port.";

SIZE Measure(HWND dialog, const wchar_t* text) {
    HDC dc = GetDC(dialog);
    const HGDIOBJ old = SelectObject(dc, w32tk::WindowFont());
    RECT measured{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return SIZE{measured.right, measured.bottom};
}

}  // namespace

TComSelectForm::TComSelectForm(PortProbe probe) {
    if (!probe) probe = [](int n) { return IsPortAvailable(n); };
    for (int n = 1; n <= kHighestListedPort; ++n)
        if (probe(n)) ports_.push_back("COM" + std::to_string(n));
    if (!ports_.empty()) selected_ = ports_.front();
}

bool TComSelectForm::ShowModal(HWND owner) {
    w32tk::DialogTemplate dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, L"Select Port", 5);
    dialog.AddControl(SS_LEFT | SS_NOPREFIX, InvalidLabel, w32tk::DialogControl::Static, kInvalidText);
    dialog.AddControl(SS_LEFT | SS_NOPREFIX, ChooseLabel, w32tk::DialogControl::Static, kChooseText);
    dialog.AddControl(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP, PortsComboBox,
                      w32tk::DialogControl::ComboBox, L"");
    dialog.AddControl(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK, w32tk::DialogControl::Button, L"OK");
    dialog.AddControl(BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, w32tk::DialogControl::Button, L"Cancel");
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, DialogProc,
                                                   reinterpret_cast<LPARAM>(this));
    return answer == IDOK && SelectedPort() != 0;
}

Word TComSelectForm::SelectedPort() const {
    // "COMn": the number starts at the fourth character.
    if (selected_.size() <= 3) return 0;
    char* end = nullptr;
    const long n = std::strtol(selected_.c_str() + 3, &end, 10);
    return *end == '\0' && n > 0 && n <= 0xFFFF ? static_cast<Word>(n) : 0;
}

void TComSelectForm::LayOut(HWND dialog) {
    const SIZE invalid = Measure(dialog, kInvalidText);
    const SIZE choose = Measure(dialog, kChooseText);
    const int lineHeight = std::max<int>(invalid.cy, choose.cy);
    const int buttonsWidth = 2 * kButtonWidth + kGap;
    const int contentWidth = std::max<int>({invalid.cx, choose.cx, buttonsWidth});
    const int comboTop = kMargin + 2 * lineHeight + kGap + kGap;
    const int buttonsTop = comboTop + kComboHeight + kMargin;
    const HFONT font = w32tk::WindowFont();

    w32tk::PlaceDialogControl(dialog, InvalidLabel, font, kMargin, kMargin, contentWidth, lineHeight);
    w32tk::PlaceDialogControl(dialog, ChooseLabel, font, kMargin, kMargin + lineHeight + kGap, contentWidth,
                              lineHeight);
    w32tk::PlaceDialogControl(dialog, PortsComboBox, font, kMargin, comboTop, kComboWidth, kComboListHeight);
    const int buttonsLeft = kMargin + contentWidth - buttonsWidth;
    w32tk::PlaceDialogControl(dialog, IDOK, font, buttonsLeft, buttonsTop, kButtonWidth, kButtonHeight);
    w32tk::PlaceDialogControl(dialog, IDCANCEL, font, buttonsLeft + kButtonWidth + kGap, buttonsTop, kButtonWidth,
                              kButtonHeight);
    w32tk::CentreDialog(dialog, kMargin + contentWidth + kMargin, buttonsTop + kButtonHeight + kMargin);
}

INT_PTR CALLBACK TComSelectForm::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<TComSelectForm*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        form = reinterpret_cast<TComSelectForm*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(w32tk::WindowFont()), FALSE);
        form->LayOut(dialog);
        HWND list = GetDlgItem(dialog, PortsComboBox);
        for (const std::string& port : form->ports_)
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w32tk::Wide(port).c_str()));
        SendMessageW(list, CB_SETCURSEL, 0, 0);
        SetFocus(list);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            HWND list = GetDlgItem(dialog, PortsComboBox);
            const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
            form->selected_.clear();
            if (index >= 0 && static_cast<std::size_t>(index) < form->ports_.size())
                form->selected_ = form->ports_[static_cast<std::size_t>(index)];
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;  // Esc and the close box too
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}

void InstallComSelectForm() {
    SetPortPrompt([](Word& comNumber) {
        TComSelectForm form;
        if (!form.ShowModal(GetActiveWindow())) return false;
        comNumber = form.SelectedPort();
        return true;
    });
}

}  // namespace sio
