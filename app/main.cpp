// Program entry: one copy per program file name, then the main dialog until it closes.
#include <windows.h>
#include <commctrl.h>

#include "app/app_shell.h"
#include "app/main_dialog.h"
#include "platform/system_library.h"
#include "res/resource.h"

namespace {

typedef BOOL(WINAPI *InitCommonControlsExFunction)(const INITCOMMONCONTROLSEX *);

// comctl32 is loaded from the system (through the manifest, version 6), never from the program's folder.
void InitStatusBarClass() {
    const InitCommonControlsExFunction init =
        SystemFunction<InitCommonControlsExFunction>(L"comctl32.dll", "InitCommonControlsEx");
    const INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
    if (init != nullptr)
        init(&classes);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystem();
    InitStatusBarClass();
    if (g_appShell.IsAlreadyRunning(instance))
        return 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
