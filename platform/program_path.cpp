// Pieces of the program's own path: its file name, its directory, and files beside it.
#include "platform/program_path.h"

#include <wchar.h>

namespace {

// Characters of the directory part, as DirectoryPart defines it.
size_t DirectoryLength(const wchar_t *programPath) {
    size_t length = static_cast<size_t>(FileNamePart(programPath) - programPath);
    if (length > 0)
        --length; // drop the backslash itself
    if (length == 2 && programPath[1] == L':')
        length = 3; // a drive's root keeps its backslash
    return length;
}

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

} // namespace

const wchar_t *FileNamePart(const wchar_t *path) {
    const wchar_t *slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

bool DirectoryPart(const wchar_t *programPath, wchar_t *result, size_t size) {
    const size_t length = DirectoryLength(programPath);
    if (length >= size)
        return false;
    wmemcpy(result, programPath, length);
    result[length] = L'\0';
    return true;
}

bool JoinWithBackslash(const wchar_t *first, size_t firstLength, const wchar_t *second, wchar_t *result, size_t size) {
    const size_t secondLength = wcslen(second);
    if (firstLength + 1 + secondLength >= size)
        return false;
    wmemcpy(result, first, firstLength);
    result[firstLength] = L'\\';
    wmemcpy(result + firstLength + 1, second, secondLength + 1);
    return true;
}

bool PathBeside(const wchar_t *programPath, const wchar_t *name, wchar_t *result, size_t size) {
    return JoinWithBackslash(programPath, DirectoryLength(programPath), name, result, size);
}

size_t InsideFolderLength(const wchar_t *folder, const wchar_t *path) {
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\')
        --length;
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(folder[i]) != AsciiLower(path[i]))
            return 0;
    }
    return length > 0 && path[length] == L'\\' && path[length + 1] != L'\0' ? length : 0;
}
