#include "app/text.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

TEST(FormatText, FillsEveryPlaceholderAndStaysInBounds) {
    struct Case {
        const char* format;
        const char* arg;
        size_t capacity;
        bool fits;
        const char* expected;
    } cases[] = {
        {"ver%s (ver%s)", "1.01", 32, true, "ver1.01 (ver1.01)"},
        {"no placeholder", "x", 32, true, "no placeholder"},
        {"100% %d %s", "x", 32, true, "100% %d x"},  // only %s is a placeholder
        {"%s", "", 1, true, ""},
        {"abc", "", 3, false, "ab"},
        {"a%sb", "xyz", 4, false, "a"},  // an argument is never cut in half
        {"%s", "x", 0, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        char out[40];
        memset(out, '#', sizeof out);
        EXPECT_EQ(FormatText(out, c.capacity, c.format, c.arg), c.fits);
        if (c.expected != nullptr) {
            EXPECT_STREQ(out, c.expected);
        }
        for (size_t i = c.capacity; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << "wrote at " << i;
    }
}

TEST(AppendText, AppendsOnlyWhatFits) {
    char out[8] = "abc";
    EXPECT_TRUE(AppendText(out, sizeof out, "defg"));
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_FALSE(AppendText(out, sizeof out, "h"));
    EXPECT_STREQ(out, "abcdefg");

    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(AppendText(unterminated, sizeof unterminated, ""));
    EXPECT_EQ(std::string(unterminated, 4), "abcd");
}

// The text that results ends where the tail ends, whatever bytes the buffer
// held after the old terminator: the tail's terminator is written too.
TEST(AppendText, TerminatesOverBytesLeftInTheBuffer) {
    struct Case {
        const char* name;
        std::string before;  // the buffer's 10 bytes
        const char* tail;
        bool fits;
        std::string after;
    } cases[] = {
        {"tail shorter than the leftovers", std::string("ab\0XXXXXXX", 10), "cd", true,
         std::string("abcd\0XXXXX", 10)},
        {"empty text", std::string("\0XXXXXXXXX", 10), "c", true, std::string("c\0XXXXXXXX", 10)},
        {"empty tail", std::string("ab\0XXXXXXX", 10), "", true, std::string("ab\0XXXXXXX", 10)},
        {"tail filling the buffer", std::string("ab\0XXXXXXX", 10), "cdefghi", true,
         std::string("abcdefghi\0", 10)},
        {"a later terminator is not the text's end", std::string("ab\0XX\0XXXX", 10), "c", true,
         std::string("abc\0X\0XXXX", 10)},
        {"tail one byte too long", std::string("ab\0XXXXXXX", 10), "cdefghij", false,
         std::string("ab\0XXXXXXX", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[10];
        memcpy(out, c.before.data(), sizeof out);
        EXPECT_EQ(AppendText(out, sizeof out, c.tail), c.fits);
        EXPECT_EQ(std::string(out, sizeof out), c.after);
    }
}

}  // namespace
