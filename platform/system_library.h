// Loading Windows' own DLLs from the system folder only, never from the program's folder or the current one.
#pragma once

#include <windows.h>

// Makes System32 the only place later DLL loads look (where Windows can do that), before anything else is loaded.
void RestrictDllSearchToSystem();

// Loads a DLL of Windows from System32 by its file name; null when it cannot. The module stays loaded.
HMODULE LoadSystemLibrary(const wchar_t *name);

// A function of a system DLL, typed as the caller's pointer type; null when the DLL or the function is missing.
template <typename Function> Function SystemFunction(const wchar_t *library, const char *name) {
    const HMODULE module = LoadSystemLibrary(library);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}
