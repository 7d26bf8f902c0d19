// The window helpers shared by the main window and the background tasks: single instance, icon, status panes.
#pragma once

#include <windows.h>

enum StatusPane { kMessagePane = 0, kClockPane = 1, kResultPane = 2 };

class AppShell {
public:
    // True when another copy under the same file name holds the program's mutex; the mutex stays open.
    bool IsAlreadyRunning(HINSTANCE instance);
    void CreateStatusBar(HWND parent);
    void SetWindowIcon(HWND window, int icon);
    void ShowClock();
    // The one way to write a pane, with a stored interface text; carried out by the window's thread, so safe from
    // any worker.
    void SetPaneText(int pane, const char *text);
    // Minimises the main window as soon as it is first shown. A modal dialog is shown normally once its message
    // loop first goes idle, which would undo a minimise made while it is being created.
    void MinimiseWhenShown() { minimiseWhenShown_ = true; }
    void OnShowWindow(HWND window, bool shown);

private:
    HWND statusBar_ = nullptr;
    bool minimiseWhenShown_ = false; // the window's thread only
};

extern AppShell g_appShell;
