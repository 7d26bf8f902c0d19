// Interface texts are stored in code page 936 and shown through the wide functions.
#include "platform/interface_text.h"

bool InterfaceTextToWide(const char *text, wchar_t *wide, int size) {
    if (MultiByteToWideChar(kInterfaceCodePage, MB_ERR_INVALID_CHARS, text, -1, wide, size) > 0)
        return true;
    if (size > 0)
        wide[0] = L'\0';
    return false;
}

int ShowMessage(HWND owner, const char *text, const char *caption, UINT type) {
    wchar_t wideText[kInterfaceTextSize];
    wchar_t wideCaption[kInterfaceTextSize];
    InterfaceTextToWide(text, wideText, kInterfaceTextSize);
    InterfaceTextToWide(caption, wideCaption, kInterfaceTextSize);
    return MessageBoxW(owner, wideText, wideCaption, type);
}
