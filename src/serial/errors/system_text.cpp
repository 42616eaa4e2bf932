// The operating system's text for an error number on Linux, where there is
// no system text in the Windows numbering: a small table of the numbers our
// device layer reports, worded and terminated (CR LF) as Windows words them,
// so messages read the same on every platform. (The Windows build asks the
// system instead: win32/system_text.cpp.)
#include "serial/errors/errors.h"

#include <array>
#include <string_view>

namespace sio {
namespace {

struct SystemText {
    int number;
    std::string_view text;
};

constexpr std::array kSystemTexts = std::to_array<SystemText>({
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
});

}  // namespace

std::string SystemMessageText(int number) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.number == number) return std::string(entry.text);
    }
    return {};
}

}  // namespace sio
