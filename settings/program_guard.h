// Whether the user's own programs could change the program file, which the log-on task starts elevated.
#pragma once

#include <windows.h>

// A task that starts a file elevated and without a prompt would hand administrator rights to any program of the user
// that could replace that file, so the log-on start is registered only for a file and folder they cannot change.

// The token the user's own programs run with: under UAC the linked limited token, otherwise the given token; in
// either, Administrators can only deny. Null when it cannot be made; the caller closes it.
HANDLE LimitedToken(HANDLE token);

// True when `token` may write, append to, delete, re-permission or take over the object that `descriptor` guards
// (for a folder: add files or subfolders, delete its children or itself), or when that cannot be decided.
bool TokenMayChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor);

// True when the running user's limited token may change the program file or its folder, or when that cannot be
// decided.
bool UserMayChangeProgram(const wchar_t *programPath);
