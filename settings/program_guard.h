// Whether a user's own programs could change the program file: the log-on task starts it elevated and without a
// prompt, so a file they could replace would hand them administrator rights.
#pragma once

#include <windows.h>

// The token the user's own programs run with: under UAC the linked limited token, otherwise the given token; in
// either, Administrators can only deny. Null when it cannot be made; the caller closes it.
HANDLE LimitedToken(HANDLE token);

// True when `token` may write, append to, delete, re-permission or take over the object that `descriptor` guards
// (for a folder: add files or subfolders, delete its children or itself), or when that cannot be decided.
bool TokenMayChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor);

// True unless neither the program file nor its folder can be changed by the limited token of the running user.
bool UserMayChangeProgram(const wchar_t *programPath);
