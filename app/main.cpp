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

int RunProgram(HINSTANCE instance) {
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

} // namespace

// ld's list of the constructors of globals with a run-time value: -1, the functions, then 0.
extern "C" void (*__CTOR_LIST__[])();
// MinGW's relocator of auto-imported data, which its start-up calls first; without a call to it, ld crashes in the
// link-time optimisation.
extern "C" void _pei386_runtime_relocator();

// The entry, without the C run-time's start-up: nothing here uses its command line, TLS, atexit or exceptions, and
// msvcrt sets itself up when it is loaded. The link-time optimisation keeps it only when told to. Windows gives a
// 32-bit entry a 4-byte-aligned stack; GCC wants 16.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used, externally_visible)) void WinMainCRTStartup() {
    _pei386_runtime_relocator();
    for (void (**constructor)() = __CTOR_LIST__ + 1; *constructor != nullptr; ++constructor)
        (*constructor)();
    ExitProcess(static_cast<UINT>(RunProgram(GetModuleHandleW(nullptr))));
}
