#include "mastercard/hex_codec.h"

#include <gtest/gtest.h>

#include <random>

using namespace mastercard;
using namespace std::string_literals;

TEST(HexToBytes, ReadsPlainSpacedAndLowerCaseTextAlike) {
    EXPECT_EQ(HexToBytes("AA2015"), "\xAA\x20\x15"s);
    EXPECT_EQ(HexToBytes("AA 20 15"), "\xAA\x20\x15"s);
    EXPECT_EQ(HexToBytes("aa2015"), "\xAA\x20\x15"s);
    EXPECT_EQ(HexToBytes(""), "");
}

TEST(HexToBytes, LoneDigitsStandForTheirOwnValue) {
    EXPECT_EQ(HexToBytes("2"), "\x02"s);   // the handshake command
    EXPECT_EQ(HexToBytes("6"), "\x06"s);   // the acknowledge
    EXPECT_EQ(HexToBytes("ABC"), "\xAB\x0C"s);
    EXPECT_EQ(HexToBytes("A B"), "\x0A\x0B"s);
}

TEST(HexToBytes, SkipsLeadingAndTrailingNonDigits) {
    EXPECT_EQ(HexToBytes(" AA"), "\xAA"s);
    EXPECT_EQ(HexToBytes("06 "), "\x06"s);
    EXPECT_EQ(HexToBytes("06   \t"), "\x06"s);
    EXPECT_EQ(HexToBytes("  "), "");
    // Full-width digits from an input method are not hexadecimal.
    EXPECT_EQ(HexToBytes("\xEF\xBC\x91\xEF\xBC\x92"), "");
}

TEST(BytesToHex, WritesTwoUpperCaseDigitsPerByteWithSingleBlanks) {
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(BytesToHex("\x06"), "06");
    EXPECT_EQ(BytesToHex("\x02\x00\xFF\x0A"s), "02 00 FF 0A");
}

TEST(HexCodec, RoundTripsEveryByteValueIncludingZero) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string text = BytesToHex(all);
    EXPECT_EQ(text.size(), 3u * 256 - 1);
    EXPECT_EQ(HexToBytes(text), all);
    EXPECT_EQ(HexToBytes(BytesToHex("\x00\x00"s)), "\x00\x00"s);
}

TEST(IsHexText, AcceptsAsciiHexDigitsOnly) {
    EXPECT_TRUE(IsHexText("0123456789ABCDEFabcdef"));
    EXPECT_TRUE(IsHexText(""));
    EXPECT_FALSE(IsHexText("12G4"));
    EXPECT_FALSE(IsHexText("12 4"));
    EXPECT_FALSE(IsHexText("\xEF\xBC\x91"));     // full-width 1
    EXPECT_FALSE(IsHexText("12\0"s "4"));
}

// Random texts of any bytes: the decoder must neither crash nor read past the
// text (the sanitizer build checks the reads), and every pair of digits it
// sees must come out as one byte.
TEST(HexToBytes, ArbitraryTextNeverFailsOrOverreads) {
    std::mt19937 rng(2026);
    for (int round = 0; round < 20000; ++round) {
        std::string text(rng() % 24, '\0');
        for (char& c : text) c = static_cast<char>(rng() % 256);
        const std::string bytes = HexToBytes(text);
        EXPECT_LE(bytes.size(), text.size());
        const std::string copy = text;  // an exact-size buffer for ASan
        EXPECT_EQ(HexToBytes(copy), bytes);
    }
}
