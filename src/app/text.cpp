#include "app/text.h"

#include <string.h>

bool FormatText(char* out, size_t capacity, const char* format, const char* arg) {
    if (capacity == 0) return false;
    const size_t argLength = strlen(arg);
    size_t used = 0;
    bool fits = true;
    // '%' (0x25) is never the trail byte of a double-byte character, so a
    // byte-wise search for "%s" cannot split one.
    for (const char* p = format; *p != '\0' && fits; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (argLength > capacity - 1 - used) {
                fits = false;
            } else {
                memcpy(out + used, arg, argLength);
                used += argLength;
                ++p;
            }
        } else if (used < capacity - 1) {
            out[used++] = *p;
        } else {
            fits = false;
        }
    }
    out[used] = '\0';
    return fits;
}

bool AppendText(char* out, size_t capacity, const char* tail) {
    const void* terminator = memchr(out, '\0', capacity);
    if (terminator == nullptr) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(terminator) - out);
    const size_t tailLength = strlen(tail);
    if (tailLength > capacity - 1 - length) return false;
    memcpy(out + length, tail, tailLength + 1);
    return true;
}
