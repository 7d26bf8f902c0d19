// The window helpers shared by the main window and the background tasks: single instance, icon, status panes.
#pragma once

#include <windows.h>

enum StatusPane { kMessagePane = 0, kClockPane = 1, kResultPane = 2 };

class AppShell {
public:
    // True when another copy under the same file name holds the program's mutex; the mutex stays open.
    bool IsAlreadyRunning(HINSTANCE instance);
    // Creates the status bar, in the system's status font for the window's DPI, its panes fitted to their texts.
    void CreateStatusBar(HWND parent);
    // Gives `window` its large and small icons at the sizes the system asks for at the window's DPI.
    void SetWindowIcon(HWND window, int icon);
    // The window has moved to a monitor of another DPI: takes the suggested rectangle, icons, font and panes for it.
    void OnDpiChanged(HWND window, const RECT *suggested);
    // Lets go of the icons and the font before the window goes.
    void OnDestroy(HWND window);
    void ShowClock();
    // The one way to write a pane, with a stored interface text; carried out by the window's thread, so safe from
    // any worker.
    void SetPaneText(int pane, const char *text);
    // Minimises the main window as soon as it is first shown. A modal dialog is shown normally once its message
    // loop first goes idle, which would undo a minimise made while it is being created.
    void MinimiseWhenShown() { minimiseWhenShown_ = true; }
    void OnShowWindow(HWND window, bool shown);

private:
    // Every pane write reaches the status bar on the window's thread, whichever thread made it: the place to refit.
    static LRESULT CALLBACK StatusBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
    void FitToDpi(HWND window);
    // Gives the status bar `font` (null for its own) and deletes the one it had from us.
    void UseFont(HFONT font);
    // Sets the pane edges for the texts the panes now show.
    void FitPanes();

    HWND statusBar_ = nullptr;
    WNDPROC statusBarProc_ = nullptr;
    // Written on the window's thread only, and read there: by FitPanes and when they are replaced.
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    HFONT font_ = nullptr;
    bool minimiseWhenShown_ = false; // the window's thread only
};

extern AppShell g_appShell;
