// An in-memory dialog template, for the layer's own small dialogs (the lock
// confirmation, the port selection): the dialog and its controls, without a
// resource file. Places are left at 0; each dialog lays itself out in
// pixels when it starts, since only then is its text measured.
#pragma once

#include "app/toolkit/win32/text.h"

#include <vector>

namespace w32tk {

// The predefined window classes a template names by atom.
enum class DialogControl : WORD { Button = 0x0080, Edit = 0x0081, Static = 0x0082, ComboBox = 0x0085 };

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

    void AddControl(DWORD style, WORD id, DialogControl kind, const wchar_t* text) {
        while (words_.size() % 2 != 0) words_.push_back(0);  // DWORD aligned
        Add32(style | WS_CHILD | WS_VISIBLE);
        Add32(0);
        for (int i = 0; i < 4; ++i) words_.push_back(0);
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(static_cast<WORD>(kind));
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

    // A vector's storage is aligned for any WORD run, and the template
    // starts at its beginning, so its start is DWORD aligned.
    std::vector<WORD> words_;
};

// Sets the layer's font on a dialog's control and moves it, in pixels.
inline void PlaceDialogControl(HWND dialog, int id, HFONT font, int left, int top, int width, int height) {
    HWND control = GetDlgItem(dialog, id);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    MoveWindow(control, left, top, width, height, FALSE);
}

// Gives a dialog the client size asked for and centres it over its owner
// (or the work area when it has none).
void CentreDialog(HWND dialog, int clientWidth, int clientHeight);

}  // namespace w32tk
