// The running program's own path, as Windows reports it.
#include "platform/program_path_win32.h"

bool ProgramFilePath(wchar_t *path, DWORD size) {
    const DWORD length = GetModuleFileNameW(nullptr, path, size);
    return length > 0 && length < size;
}

bool ProgramFileBeside(const wchar_t *name, wchar_t *path, size_t size) {
    wchar_t program[kPathSize] = {};
    return ProgramFilePath(program, kPathSize) && PathBeside(program, name, path, size);
}
