// The operating system's text for an error number on Windows: the system's
// own message, as FormatMessageA gives it (ending in CR LF; the message
// table's lookup cleans it). Built into sio_errors by the Windows build in
// place of the Linux edition's table (errors/system_text.cpp).
#include "serial/errors/errors.h"

#include <windows.h>

namespace sio {

std::string SystemMessageText(int number) {
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(number), 0, text,
                                        255, nullptr);
    return std::string(text, length);
}

}  // namespace sio
