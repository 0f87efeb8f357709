// Shift_JIS (code page 932) text operations and the game's instance name.
#pragma once

// 1 for the bytes that open a double-byte character (0x81-0x9F, 0xE0-0xFC),
// 0 for every other byte. A character is its first byte's entry plus one long.
extern const unsigned char SjisLeadByteTable[256];

// Lowers the single-byte capitals A-Z in place; double-byte characters are
// stepped over whole, so their trail bytes never change.
void SjisLowerAscii(char* text);

// Overwrites each single-byte character equal to find with put, stepping over
// double-byte characters whole. Returns the terminator at which the scan
// stopped. A lead byte cut short by the terminator ends the scan there.
char* SjisReplaceByte(char* text, char find, char put);

// Turns the game's executable path into its instance name in place: capitals
// lowered, backslashes turned into colons, double-byte characters untouched.
void MakeInstanceName(char* buffer);
