#include "mastercard/hex_codec.h"

namespace mastercard {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Only ASCII digits count: an input method's full-width digits are other
// bytes altogether and must not pass as hexadecimal.
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string HexToBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() / 2 + 1);
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && DigitValue(text[i]) < 0) ++i;
        if (i == text.size()) break;  // only non-digits were left
        const int high = DigitValue(text[i]);
        const int low = i + 1 < text.size() ? DigitValue(text[i + 1]) : -1;
        // A lone digit stands for its own value; stepping by two then also
        // steps over the non-digit after it.
        const int value = low >= 0 ? high * 16 + low : high;
        bytes.push_back(static_cast<char>(value));
        i += 2;
    }
    return bytes;
}

std::string BytesToHex(std::string_view bytes) {
    std::string text;
    if (bytes.empty()) return text;
    text.reserve(bytes.size() * 3 - 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto value = static_cast<unsigned char>(bytes[i]);
        if (i > 0) text.push_back(' ');
        text.push_back(kDigits[value >> 4]);
        text.push_back(kDigits[value & 0x0F]);
    }
    return text;
}

bool IsHexText(std::string_view text) {
    for (char c : text) {
        if (DigitValue(c) < 0) return false;
    }
    return true;
}

std::string ByteToHex(unsigned char value) {
    return std::string{kDigits[value >> 4], kDigits[value & 0x0F]};
}

}  // namespace mastercard
