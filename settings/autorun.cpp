// The log-on start: a value named after the program in the machine-wide Run key.
#include "app/app_shell.h"

#include <wchar.h>

#include "platform/program_path_win32.h"
#include "settings/run_command.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const DWORD kRunPathSize = 260;

// Adds (mode 1) or removes (mode 0) the value; removing a value that is not there is what the user asked for.
bool ChangeRunValue(HKEY key, int mode) {
    wchar_t path[kRunPathSize] = {};
    if (!ProgramFilePath(path, kRunPathSize))
        return false;
    const wchar_t *name = FileNamePart(path);
    if (mode != 1) {
        const LONG status = RegDeleteValueW(key, name);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    wchar_t command[kRunPathSize + 2] = {};
    if (!FormatRunCommand(path, command, kRunPathSize + 2))
        return false;
    const DWORD size = static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(command), size) == ERROR_SUCCESS;
}

} // namespace

int AppShell::SetAutoRun(int mode) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    const bool changed = ChangeRunValue(key, mode);
    RegCloseKey(key);
    return changed ? 1 : 0;
}
