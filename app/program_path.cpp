// Pieces of the program's own path: its file name, its directory, and files beside it.
#include "app/program_path.h"

#include <stdio.h>
#include <string.h>

const char *FileNamePart(const char *path) {
    const char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

bool PathBeside(const char *programPath, const char *name, char *result, size_t size) {
    int length = static_cast<int>(FileNamePart(programPath) - programPath);
    if (length > 0)
        --length; // drop the backslash itself
    if (length == 2 && programPath[1] == ':')
        length = 3; // a drive's root keeps its backslash
    const int written = snprintf(result, size, "%.*s\\%s", length, programPath, name);
    return written >= 0 && static_cast<size_t>(written) < size;
}
