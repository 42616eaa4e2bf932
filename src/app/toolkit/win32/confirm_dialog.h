// The lock confirmation: caption "Confirm", a question icon, the text, and
// the buttons "&Yes" (the default) and "&No" (also Esc and the close box).
// MessageBoxW words its buttons in the system's language, so this is a
// small dialog of the program's own.
#pragma once

#include "app/toolkit/win32/text.h"

#include <string>

namespace w32tk {

// Modal to `owner`; true for Yes.
bool ShowConfirmation(HWND owner, const std::string& text);

}  // namespace w32tk
