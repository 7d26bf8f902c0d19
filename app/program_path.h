// Pieces of the program's own path: its file name, its directory, and files beside it.
#pragma once

#include <stddef.h>

// The text after the last backslash: the program's file name with its extension.
const char *FileNamePart(const char *path);

// Writes directory\name; a drive's root ("C:\") gives a doubled backslash, which Windows accepts.
// The directory is the path without its last component and without a trailing separator, except that a drive's
// root keeps its backslash. Returns false when the result does not fit.
bool PathBeside(const char *programPath, const char *name, char *result, size_t size);
