#include "probe/sjis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs op on a copy of text placed in a buffer of exactly its size plus the
// terminator and a guard byte, so that any write past the terminator shows
// (and, under AddressSanitizer, any read past the guard is caught).
template <typename Op>
std::string Apply(const std::string& text, Op op, char guard = 'X') {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    buffer.push_back(guard);
    op(buffer.data());
    EXPECT_EQ(buffer[text.size() + 1], guard) << "wrote past the terminator";
    return std::string(buffer.data());
}

TEST(SjisLeadByteTable, MarksExactlyTheShiftJisLeadBytes) {
    int count = 0;
    for (int b = 0; b < 256; ++b) {
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(SjisLeadByteTable[b], lead ? 1 : 0) << "byte " << b;
        count += SjisLeadByteTable[b];
    }
    EXPECT_EQ(count, 60);
}

struct TextCase {
    const char* name;
    std::string input;
    std::string lowered;   // after SjisLowerAscii
    std::string instance;  // after MakeInstanceName
};

// ゲ = 83 51 (trail byte 'Q'), ソ = 83 5C and 表 = 95 5C (trail byte '\'),
// Ａ = 82 60, ｱ = B1 (half-width, single byte).
const TextCase kTextCases[] = {
    {"empty", "", "", ""},
    {"drive path", "C:\\Games\\harunel\\harunel.exe", "c:\\games\\harunel\\harunel.exe",
     "c::games:harunel:harunel.exe"},
    {"worked example", "D:\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\\harunel.exe",
     "d:\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\\harunel.exe",
     "d::\x83\x51\x81\x5B\x83\x80:\x83\x5C\x83\x74\x83\x67:\x95\x5C:harunel.exe"},
    {"range edges", "@AZ[`az{", "@az[`az{", "@az[`az{"},
    {"full-width letter and half-width kana", "\x82\x60\xB1Q", "\x82\x60\xB1q", "\x82\x60\xB1q"},
    {"trail byte that is a capital", "\x83QQ", "\x83Qq", "\x83Qq"},
    {"single bytes above 0x7F", "\x80\\\xA0\\\xFD\\\xFE\\\xFF\\A", "\x80\\\xA0\\\xFD\\\xFE\\\xFF\\a",
     "\x80:\xA0:\xFD:\xFE:\xFF:a"},
    {"UNC path", "\\\\Server\\Share\\harunel.exe", "\\\\server\\share\\harunel.exe",
     "::server:share:harunel.exe"},
    {"lead byte of 0xE0-0xFC with backslash trail", "\xE0\\\xFC\\A\\", "\xE0\\\xFC\\a\\", "\xE0\\\xFC\\a:"},
    {"relative name", "harunel.exe", "harunel.exe", "harunel.exe"},
};

TEST(SjisText, LowersAndMakesInstanceNames) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Apply(c.input, SjisLowerAscii), c.lowered);
        EXPECT_EQ(Apply(c.input, MakeInstanceName), c.instance);
    }
}

TEST(SjisText, LowersExactlyTheTwentySixCapitals) {
    for (int b = 1; b < 256; ++b) {
        if (SjisLeadByteTable[b]) continue;
        const std::string lowered = Apply(std::string(1, static_cast<char>(b)), SjisLowerAscii);
        const int expected = (b >= 'A' && b <= 'Z') ? b + 0x20 : b;
        EXPECT_EQ(static_cast<unsigned char>(lowered[0]), expected) << "byte " << b;
    }
}

TEST(SjisReplaceByte, ReturnsTheTerminatorAndLeavesDoubleByteCharactersAlone) {
    struct Case {
        std::string input;
        char find, put;
        std::string expected;
    } cases[] = {
        {"", '\\', ':', ""},
        {"a\\b\\", '\\', ':', "a:b:"},
        {"\x95\\\\", '\\', ':', "\x95\\:"},             // 表 then a backslash
        {"\x81\x81\x81", '\x81', '!', "\x81\x81\x81"},  // a lead-byte value never matches
        {"abc", '\0', '!', "abc"},                      // nor does the terminator
        {"\x80\xFD\xFE\xFF", '\xFE', '!', "\x80\xFD!\xFF"},
        {"::", ':', '\\', "\\\\"},                         // a written byte is not looked at again
        {"\xFF\xFF\xFF", '\xFF', '\xF7', "\xF7\xF7\xF7"},  // not even when it is a lead-byte value
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.input.begin(), c.input.end());
        buffer.push_back('\0');
        char* end = SjisReplaceByte(buffer.data(), c.find, c.put);
        EXPECT_EQ(end, buffer.data() + c.input.size());
        EXPECT_EQ(std::string(buffer.data()), c.expected);
    }
}

// A lead byte cut short by the terminator: both scans stop there and never
// touch or step over the byte after it.
TEST(SjisText, StopsAtTheTerminatorAfterALoneLeadByte) {
    for (const std::string& text : {std::string("\x83"), std::string("AB\x95"), std::string("\\\xE0")}) {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        buffer.push_back('\\');  // would be replaced if the scan went past the end
        buffer.push_back('\0');
        buffer.push_back('Q');
        buffer.push_back('\0');
        char* end = SjisReplaceByte(buffer.data(), '\\', ':');
        EXPECT_EQ(end, buffer.data() + text.size());
        SjisLowerAscii(buffer.data());
        EXPECT_EQ(buffer[text.size() + 1], '\\');
        EXPECT_EQ(buffer[text.size() + 3], 'Q');
    }
}

}  // namespace
