// Bounded text building for fixed buffers.
#pragma once

#include <stddef.h>

// Writes format into out, every "%s" replaced by arg, as printf would for a
// format whose only conversions are %s. Returns false if the result did not
// fit in capacity bytes; out is terminated and within bounds either way.
bool FormatText(char* out, size_t capacity, const char* format, const char* arg);

// Appends tail at the terminator of the text in out. Returns false, and
// leaves out as it was, if the text with tail and terminator would exceed
// capacity bytes or out holds no terminator within them.
bool AppendText(char* out, size_t capacity, const char* tail);
