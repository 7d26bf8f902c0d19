// Interface texts are stored in code page 936 and shown through the wide functions, so that they read right on a
// Windows whose ANSI code page is another.
#pragma once

#include <windows.h>

const UINT kInterfaceCodePage = 936;
// Room for one interface text, in characters.
const int kInterfaceTextSize = 256;

// Converts a stored text; false (and an empty result) when it does not convert or does not fit.
bool InterfaceTextToWide(const char *text, wchar_t *wide, int size);

// MessageBoxW with stored texts.
int ShowMessage(HWND owner, const char *text, const char *caption, UINT type);
