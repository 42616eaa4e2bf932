// Texts between the layer's UTF-8 and the wide strings of the Windows API.
#pragma once

#include <windows.h>
#undef MessageBox  // the layer's own MessageBox methods carry that name

#include <string>
#include <string_view>

namespace w32tk {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A window's text (a control's caption or content) as UTF-8.
std::string WindowText(HWND window);

// The system's text for an error number, without the trailing line break.
std::string SystemErrorText(DWORD error);

}  // namespace w32tk
