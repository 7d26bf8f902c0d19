// The main window: a modal dialog whose handler starts every user action and background task.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
