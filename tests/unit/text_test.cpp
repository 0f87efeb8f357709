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

}  // namespace
