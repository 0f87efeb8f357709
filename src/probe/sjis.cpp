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

// Length of the character at text: 2 for a lead byte followed by a trail
// byte, 1 otherwise. A lead byte right before the terminator counts as one
// byte, so the scan lands on the terminator instead of stepping over it.
inline int CharLength(const char* text) {
    if (SjisLeadByteTable[static_cast<unsigned char>(text[0])] && text[1] != '\0') return 2;
    return 1;
}

inline bool IsLeadByte(char c) { return SjisLeadByteTable[static_cast<unsigned char>(c)] != 0; }

}  // namespace

void SjisLowerAscii(char* text) {
    while (*text != '\0') {
        if (!IsLeadByte(*text) && *text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + 0x20);
        text += CharLength(text);
    }
}

char* SjisReplaceByte(char* text, char find, char put) {
    while (*text != '\0') {
        if (!IsLeadByte(*text) && *text == find) *text = put;
        text += CharLength(text);
    }
    return text;
}

void MakeInstanceName(char* buffer) {
    SjisLowerAscii(buffer);
    SjisReplaceByte(buffer, '\\', ':');
}
