// Formatting into a fixed buffer, the one way the program formats its texts.
#pragma once

#include <stddef.h>

// Formats as printf does into `size` bytes and always ends the text with a zero; returns the length written, or -1
// when the text was cut to fit. On Windows this is msvcrt's own formatter, which adds nothing to the program's size.
int FormatText(char *buffer, size_t size, const char *format, ...);
