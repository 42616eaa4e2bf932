// The system's texts on Windows: FormatMessageA's, cleaned as every text of
// the message table is. Wine words them its own way; a Windows machine gives
// "The parameter is incorrect. " and "Incorrect function. ".
#include "serial/errors/errors.h"

#include <gtest/gtest.h>

#include <string>

using namespace sio;

namespace {

bool OneOf(const std::string& text, const char* windows, const char* wine) {
    return text == windows || text == wine;
}

}  // namespace

TEST(SystemText, ComesFromTheSystemCleanedToOneTrailingBlank) {
    EXPECT_PRED3(OneOf, ErrorMessageFor(-87), "The parameter is incorrect. ", "Invalid parameter. ");
    EXPECT_PRED3(OneOf, ErrorMessageFor(1), "Incorrect function. ", "Invalid function. ");
    EXPECT_PRED3(OneOf, ErrorMessageFor(31), "A device attached to the system is not functioning. ",
                 "General failure. ");
    // The raw text ends as the system ends it.
    const std::string raw = SystemMessageText(87);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST(SystemText, TheTableStillComesFirstAndUnknownNumbersHaveNone) {
    EXPECT_EQ(ErrorMessageFor(2), "File not found");
    EXPECT_EQ(ErrorMessageFor(-2008), "ie_Open - device already open");
    EXPECT_EQ(ErrorMessageFor(777), "");
    EXPECT_EQ(SystemMessageText(777), "");
}
