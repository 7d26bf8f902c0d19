// The time servers dialog: the user names the three servers, and they are kept in the settings file.
#pragma once

#include <windows.h>

// Shows the dialog, modal to `owner`.
void ShowTimeServersDialog(HWND owner);
INT_PTR CALLBACK TimeServersDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
