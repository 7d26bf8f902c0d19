// Pieces of the program's own path: its file name, its directory, and files beside it. Wide characters throughout,
// so that no code page can split a character in two (in code page 936 a second byte can be a backslash).
#pragma once

#include <stddef.h>

// Room for a program path, in characters.
const size_t kPathSize = 260;

// The text after the last backslash: the program's file name with its extension.
const wchar_t *FileNamePart(const wchar_t *path);

// The path without its last component and without a trailing separator, except that a drive's root ("C:\") keeps
// its backslash. Returns false when it does not fit `size` characters.
bool DirectoryPart(const wchar_t *programPath, wchar_t *result, size_t size);

// Writes the first `firstLength` characters of `first`, a backslash and `second`: a file in a folder, or a user in a
// domain. Returns false when the result does not fit `size` characters.
bool JoinWithBackslash(const wchar_t *first, size_t firstLength, const wchar_t *second, wchar_t *result, size_t size);

// Writes directory\name; a drive's root gives a doubled backslash, which Windows accepts. Returns false when the
// result does not fit `size` characters.
bool PathBeside(const wchar_t *programPath, const wchar_t *name, wchar_t *result, size_t size);

// The length of `folder`, without a trailing backslash, when `path` lies below it; 0 when it does not (the folder
// itself is not below it). ASCII letters match in either case, as Windows' file names do.
size_t InsideFolderLength(const wchar_t *folder, const wchar_t *path);
