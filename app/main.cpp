// Program entry: one copy per program file name, then the main dialog until it closes.
#include <windows.h>
#include <commctrl.h>

#include "app/app_shell.h"
#include "app/main_dialog.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InitCommonControls();
    if (g_appShell.IsAlreadyRunning(instance))
        return 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
