// Conversions between byte strings and the hexadecimal texts in which the
// program builds, compares and logs everything it exchanges with the writer
// device. A byte string is a std::string holding one byte per character,
// 0x00 included.
#pragma once

#include <string>
#include <string_view>

namespace mastercard {

// Reads plain hex text ("AA2015"), spaced hex text ("AA 20 15") and lone
// digits alike: "2" gives 0x02, "ABC" gives AB 0C. Characters that are not
// hexadecimal digits are skipped; it never fails and never reads past the text.
std::string HexToBytes(std::string_view text);

// Spaced hex text: two upper-case digits per byte, one blank between bytes,
// none at the ends. No bytes give the empty text.
std::string BytesToHex(std::string_view bytes);

// True when every character is an ASCII digit 0-9, A-F or a-f. The empty
// text is true; callers that need a length check it themselves.
bool IsHexText(std::string_view text);

// Plain hex text of one byte: exactly two upper-case digits.
std::string ByteToHex(unsigned char value);

}  // namespace mastercard
