// Text from a program without a window: to its redirected standard output, else to the console of the process that
// started it, else nowhere.
#pragma once

#include <windows.h>

#include "platform/owned_handle.h"

class StandardOutput {
public:
    StandardOutput() : target_(nullptr), console_(false) {}

    // Finds where the text goes; with an output redirected to NUL, or neither a redirected output nor a parent
    // console, Write does nothing.
    void Open();
    // A console gets wide text, so that Chinese shows right in any code page; a file or pipe gets UTF-8.
    void Write(const wchar_t *text) const;
    // A stored interface text (code page 936), then optionally a line end.
    void WriteText(const char *text, bool endLine = true) const;

private:
    HANDLE target_;
    bool console_;
    OwnedHandle parentConsole_;
};
