// The log-on start: a value named after the program in the machine-wide Run key.
#include "app/app_shell.h"

#include <string.h>

#include "app/program_path.h"
#include "settings/run_command.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const DWORD kRunPathSize = 260;

// Adds (mode 1) or removes (mode 0) the value; removing a value that is not there is what the user asked for.
bool ChangeRunValue(HKEY key, int mode) {
    char path[kRunPathSize] = {};
    if (!ProgramFilePath(path, sizeof path))
        return false;
    const char *name = FileNamePart(path);
    if (mode != 1) {
        const LONG status = RegDeleteValueA(key, name);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    char command[kRunPathSize + 2] = {};
    if (!FormatRunCommand(path, command, sizeof command))
        return false;
    const DWORD size = static_cast<DWORD>(strlen(command) + 1);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(command), size) == ERROR_SUCCESS;
}

} // namespace

int AppShell::SetAutoRun(int mode) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    const bool changed = ChangeRunValue(key, mode);
    RegCloseKey(key);
    return changed ? 1 : 0;
}
