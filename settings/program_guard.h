// Whether the log-on task may start the program: only a file that nobody but administrators can change.
#pragma once

#include <windows.h>

// A task that starts a file elevated and without a prompt would hand administrator rights to any program of a user
// that could replace that file, or any folder above it, so the log-on start is registered only for a program inside
// a Program Files folder on a local fixed drive, which neither the file nor any folder from Program Files down can be
// changed by the user's own programs, and only when that user is the one logged on to the session.

// The token the user's own programs run with: under UAC the linked limited token, otherwise the given token; in
// either, Administrators can only deny. Null when it cannot be made; the caller closes it.
HANDLE LimitedToken(HANDLE token);

// True when `token` may write, append to, delete, re-permission or take over the object that `descriptor` guards
// (for a folder: add files or subfolders, delete its children or itself), or when that cannot be decided.
bool TokenMayChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor);

// Program Files, Program Files (x86) and the 64-bit Program Files.
const int kProgramFilesFolders = 3;

// What the decision rests on, as read from the system.
struct ProgramPlace {
    // The program file's final path: links, junctions and mapped drives resolved.
    const wchar_t *finalPath;
    // The final paths of the machine's Program Files folders; null where a machine has none.
    const wchar_t *programFiles[kProgramFilesFolders];
    bool onFixedDrive;
    // "domain\name" of the user the program runs as, and of the user logged on to the session; null when unknown.
    const wchar_t *processUser;
    const wchar_t *sessionUser;
};

// Reads the descriptor that guards a file or folder into `size` bytes; false when it cannot.
typedef bool (*DescriptorReader)(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor, DWORD size);

// True when the program lies on a fixed drive below a Program Files folder, the session's user is the program's, and
// `token` may change neither the file nor any folder from that Program Files folder down to it.
bool MayStartAtLogOn(HANDLE token, const ProgramPlace &place, DescriptorReader read);

// The same for the running program at `programPath`, with everything read from the system; false when anything
// cannot be read. On success `taskPath` holds the path the task must start: the final one, as a plain drive path, so
// that no link or junction that the user could later point elsewhere lies on the way.
bool ProgramMayStartAtLogOn(const wchar_t *programPath, wchar_t *taskPath, size_t size);

// The running user as "domain\name"; false when it cannot be found or does not fit.
bool CurrentUserName(wchar_t *userName, DWORD size);

// The running user's SID as text ("S-1-5-21-…"); false when it cannot be read or does not fit.
bool CurrentUserSid(wchar_t *sid, DWORD size);
