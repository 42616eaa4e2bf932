// The Qt forms of the program's two modal dialogs: a message box and a
// Yes/No confirmation.
#pragma once

#include "app/toolkit/message_box.h"

#include <QString>

class QWidget;

namespace qtk {

// Shows `text` with the caption and icon that `flags` ask for and waits until
// the operator closes it. Returns IDOK.
int ShowMessageBoxDialog(QWidget* parent, const QString& text, const QString& caption,
                         unsigned flags);

// Asks the question under the caption "Confirm" with "&Yes" (the default)
// and "&No" (also chosen by Esc and by closing the box). True for Yes.
bool ShowConfirmationDialog(QWidget* parent, const QString& text);

}  // namespace qtk
