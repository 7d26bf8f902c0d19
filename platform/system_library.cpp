// Loading Windows' own DLLs from the system folder only, never from the program's folder or the current one.
#include "platform/system_library.h"

#include "platform/program_path.h"

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);

// Without update KB2533623 Windows 7 has no LOAD_LIBRARY_SEARCH_* flags; the full System32 path does the same.
HMODULE LoadByFullPath(const wchar_t *name) {
    wchar_t system[kPathSize] = {};
    wchar_t path[kPathSize] = {};
    const UINT length = GetSystemDirectoryW(system, kPathSize);
    if (length == 0 || length >= kPathSize || !JoinWithBackslash(system, length, name, path, kPathSize))
        return nullptr;
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

void RestrictDllSearchToSystem() {
    // kernel32 is always loaded; GetModuleHandle takes no search path.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const SetDefaultDllDirectoriesFunction setDefault =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                     reinterpret_cast<void *>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L""); // at least take the current directory out of the search
}

HMODULE LoadSystemLibrary(const wchar_t *name) {
    const HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    return LoadByFullPath(name);
}
