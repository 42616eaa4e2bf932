// The program's two modal dialogs: a message box and a Yes/No confirmation.
#pragma once

#include <QString>

class QWidget;

// Message-box flags as the program passes them: the icon in bits 4-7. Only
// an OK button is ever asked for.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;

// Shows `text` with the caption and icon that `flags` ask for and waits until
// the operator closes it. Returns IDOK.
int ShowMessageBoxDialog(QWidget* parent, const QString& text, const QString& caption,
                         unsigned flags);

// Asks the question under the caption "Confirm" with "&Yes" (the default)
// and "&No" (also chosen by Esc and by closing the box). True for Yes.
bool ShowConfirmationDialog(QWidget* parent, const QString& text);
