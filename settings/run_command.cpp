// The command line stored in the Run key for the log-on start.
#include "settings/run_command.h"

#include <wchar.h>

bool FormatRunCommand(const wchar_t *programPath, wchar_t *command, size_t size) {
    const bool quote = wcschr(programPath, L' ') != nullptr;
    const size_t length = wcslen(programPath);
    const size_t quotes = quote ? 2 : 0;
    if (length + quotes >= size)
        return false;
    wchar_t *end = command;
    if (quote)
        *end++ = L'"';
    wmemcpy(end, programPath, length);
    end += length;
    if (quote)
        *end++ = L'"';
    *end = L'\0';
    return true;
}
