#include "probe/sjis.h"

// clang-format off
const unsigned char SjisLeadByteTable[256] = {
    // 0x00-0x7F: ASCII, single-byte.
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    // 0x80 single; 0x81-0x9F lead bytes.
    0,1,1,1,1,1,1,1, 1,1,1,1,1,1,1,1,  1,1,1,1,1,1,1,1, 1,1,1,1,1,1,1,1,
    // 0xA0-0xDF: half-width katakana and friends, single-byte.
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,
    // 0xE0-0xFC lead bytes; 0xFD-0xFF single.
    1,1,1,1,1,1,1,1, 1,1,1,1,1,1,1,1,  1,1,1,1,1,1,1,1, 1,1,1,1,1,0,0,0,
};
// clang-format on

namespace {

inline bool IsLeadByte(char c) { return SjisLeadByteTable[static_cast<unsigned char>(c)] != 0; }

// The position after the double-byte character that starts at text. A lead
// byte right before the terminator stands alone, so the scan lands on the
// terminator instead of stepping over it.
inline char* AfterDoubleByte(char* text) { return text[1] != '\0' ? text + 2 : text + 1; }

}  // namespace

void SjisLowerAscii(char* text) {
    while (*text != '\0') {
        if (IsLeadByte(*text)) {
            text = AfterDoubleByte(text);
            continue;
        }
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + 0x20);
        ++text;
    }
}

// The written byte is not looked at again, whatever it is.
char* SjisReplaceByte(char* text, char find, char put) {
    while (*text != '\0') {
        if (IsLeadByte(*text)) {
            text = AfterDoubleByte(text);
            continue;
        }
        if (*text == find) *text = put;
        ++text;
    }
    return text;
}

void MakeInstanceName(char* buffer) {
    SjisLowerAscii(buffer);
    SjisReplaceByte(buffer, '\\', ':');
}
