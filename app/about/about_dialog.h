// The About box and the vendor's web pages.
#pragma once

#include <windows.h>

// Shows the About box, modal to `owner`.
void ShowAboutDialog(HWND owner);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Opens the vendor's homepage; a thread entry, so the box never waits for the browser.
DWORD WINAPI HomepageTask(LPVOID parameter);
void OpenGuestbook();
