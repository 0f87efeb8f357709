// Fuzzes the Shift_JIS scans and the instance name against a plain
// reference scan written out here, index by index.
//
// Input: byte 0 picks the operation and whether a lone lead byte is put
// right before the terminator; bytes 1 and 2 are find and put for the
// replacement; the rest, up to its first NUL, is the
// text. Every operation works on a copy of the text at the very end of an
// allocation of exactly its length plus terminator, so a read or write past
// the terminator is caught.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "probe/sjis.h"

namespace {

// The lead bytes of code page 932, written out on their own.
bool IsLead(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

[[noreturn]] void Fail(const char* what, const std::string& text) {
    fprintf(stderr, "fuzz_sjis: %s\n  text (%zu bytes):", what, text.size());
    for (unsigned char c : text) fprintf(stderr, " %02X", c);
    fprintf(stderr, "\n");
    abort();
}

// Whether the byte at i starts a double-byte character: a lead byte with a
// byte after it inside the text. A lead byte that is the last byte stands
// alone and is no single-byte character either.
bool StartsPair(const std::string& text, size_t i) { return IsLead(text[i]) && i + 1 < text.size(); }

std::string RefLower(std::string text) {
    size_t i = 0;
    while (i < text.size()) {
        if (StartsPair(text, i)) {
            i += 2;
            continue;
        }
        if (!IsLead(text[i]) && text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 0x20);
        i += 1;
    }
    return text;
}

std::string RefReplace(std::string text, char find, char put) {
    const std::string original = text;
    size_t i = 0;
    while (i < original.size()) {
        if (StartsPair(original, i)) {
            i += 2;
            continue;
        }
        if (!IsLead(original[i]) && original[i] == find) text[i] = put;
        i += 1;
    }
    return text;
}

std::string RefInstanceName(const std::string& text) { return RefReplace(RefLower(text), '\\', ':'); }

// The text with its terminator at the very end of a heap block of exactly
// that size.
struct ExactText {
    explicit ExactText(const std::string& text) : size(text.size()), bytes(new char[text.size() + 1]) {
        memcpy(bytes, text.data(), size);
        bytes[size] = '\0';
    }
    ~ExactText() { delete[] bytes; }
    ExactText(const ExactText&) = delete;
    ExactText& operator=(const ExactText&) = delete;

    std::string Contents() const { return std::string(bytes, size); }
    size_t size;
    char* bytes;
};

void ExpectSame(const ExactText& got, const std::string& expected, const char* what,
                const std::string& text) {
    if (got.bytes[got.size] != '\0') Fail("terminator overwritten", text);
    if (got.Contents() != expected) Fail(what, text);
}

void CheckLower(const std::string& text) {
    ExactText buffer(text);
    SjisLowerAscii(buffer.bytes);
    ExpectSame(buffer, RefLower(text), "SjisLowerAscii differs from the reference", text);
}

void CheckReplace(const std::string& text, char find, char put) {
    ExactText buffer(text);
    const char* end = SjisReplaceByte(buffer.bytes, find, put);
    if (end != buffer.bytes + buffer.size) Fail("SjisReplaceByte did not return the terminator", text);
    ExpectSame(buffer, RefReplace(text, find, put), "SjisReplaceByte differs from the reference", text);
}

void CheckInstanceName(const std::string& text) {
    ExactText buffer(text);
    MakeInstanceName(buffer.bytes);
    ExpectSame(buffer, RefInstanceName(text), "MakeInstanceName differs from the reference", text);

    // What the name must be, whatever the reference says.
    const std::string name = buffer.Contents();
    if (strlen(buffer.bytes) != text.size()) Fail("instance name changed length", text);
    size_t i = 0;
    while (i < name.size()) {
        if (StartsPair(name, i)) {
            if (name[i] != text[i] || name[i + 1] != text[i + 1]) Fail("double-byte character changed", text);
            i += 2;
            continue;
        }
        if (!IsLead(name[i]) && (name[i] == '\\' || (name[i] >= 'A' && name[i] <= 'Z'))) {
            Fail("single-byte backslash or capital left in the instance name", text);
        }
        i += 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t mode = data[0];
    const char find = static_cast<char>(data[1]);
    // put may be any byte, a lead-byte value included: a written byte is
    // never looked at again.
    const char put = static_cast<char>(data[2]);
    const char* body = reinterpret_cast<const char*>(data + 3);
    std::string text(body, strnlen(body, size - 3));

    // Bit 2: end the text with a lead byte cut short by the terminator.
    if (mode & 0x04) {
        const unsigned step = mode >> 4;
        text += static_cast<char>((mode & 0x08) ? 0xE0 + step : 0x81 + step);
        if (!IsLead(text.back())) Fail("harness: appended byte is no lead byte", text);
    }

    switch (mode & 0x03) {
        case 0:
            CheckLower(text);
            break;
        case 1:
            CheckReplace(text, find, put);
            break;
        case 2:
            CheckInstanceName(text);
            break;
        default:
            CheckLower(text);
            CheckReplace(text, '\\', ':');
            CheckReplace(text, find, put);
            CheckInstanceName(text);
            break;
    }
    return 0;
}
