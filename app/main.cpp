// Program entry: a run from the command line, or one copy per program file name, then the main dialog until it closes.
#include <windows.h>
#include <commctrl.h>

#include "app/app_shell.h"
#include "app/command_run.h"
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
    // A script's run is no second start of the window: it takes no single-instance name and shows nothing.
    const CommandLine command = ParseCommandLine(GetCommandLineW());
    if (command.mode != CommandMode::kWindow)
        return RunCommandLine(command);
    InitStatusBarClass();
    if (g_appShell.IsAlreadyRunning(instance))
        return 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
