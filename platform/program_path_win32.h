// The running program's own path, as Windows reports it.
#pragma once

#include <windows.h>

#include "platform/program_path.h"

// The running program's full path (wide, so any file name works whatever the code page); false when it does not fit.
bool ProgramFilePath(wchar_t *path, DWORD size);
// The full path of a file in the program's directory; false when it does not fit.
bool ProgramFileBeside(const wchar_t *name, wchar_t *path, size_t size);
