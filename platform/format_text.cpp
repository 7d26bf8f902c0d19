// Formatting into a fixed buffer, the one way the program formats its texts.
#include "platform/format_text.h"

#include <stdarg.h>
#include <stdio.h>

int FormatText(char *buffer, size_t size, const char *format, ...) {
    if (size == 0)
        return -1;
    va_list arguments;
    va_start(arguments, format);
#ifdef _WIN32
    // msvcrt's formatter leaves a text that fills the whole buffer without its zero.
    const int written = _vsnprintf(buffer, size, format, arguments);
#else
    const int written = vsnprintf(buffer, size, format, arguments);
#endif
    va_end(arguments);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[size - 1] = '\0';
        return -1;
    }
    return written;
}
