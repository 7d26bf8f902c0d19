// Whether the log-on task may start the program: only a file that nobody but administrators can change.
#pragma once

#include <windows.h>

// A task that starts a file elevated and without a prompt would hand administrator rights to any program of a user
// that could replace that file, or any folder above it, so the log-on start is registered only for a program inside
// a Program Files folder on a local fixed drive, which neither the file nor any folder from Program Files down can be
// changed by anyone but administrators, and only when the user it runs as is the one logged on to the session.

// True when only SYSTEM, Administrators and TrustedInstaller may change what `descriptor` guards: one of them owns
// it, and every ACE that allows writing, appending, deleting, deleting a child, re-permissioning or taking over names
// one of them, or CREATOR OWNER on an ACE that only passes on to what is made inside.
// `user`, when given, is trusted as they are.
bool OnlyAdministratorsMayChange(PSECURITY_DESCRIPTOR descriptor, PSID user = nullptr);
// The same with the running user trusted too: a file that the user herself, or an administrator, wrote.
bool OnlyAdministratorsAndUserMayChange(PSECURITY_DESCRIPTOR descriptor);
// What a reading of the Task Scheduler says of a task: only a definite kRefused may delete it.
enum class Verdict { kRefused, kUnknown, kAllowed };

// The worse of two verdicts: a refusal outweighs what could not be read, which outweighs an allowance.
inline Verdict Worse(Verdict a, Verdict b) {
    return a < b ? a : b;
}

// OnlyAdministratorsAndUserMayChange for the file at `path`; kUnknown when its descriptor cannot be read (there is no
// file, say).
Verdict FileVerdictWithUser(const wchar_t *path);

// OnlyAdministratorsMayChange for a descriptor written as SDDL, as the Task Scheduler gives a task's: kUnknown when
// the text is no descriptor, or names no owner or holds no DACL and nothing else in it is refused.
Verdict TaskDescriptorVerdict(const wchar_t *sddl);

// Whether a task's user id names the running user, compared by SID: the id as a SID, "DOMAIN\name", a bare name or a
// UPN. kUnknown when it is none that this machine can look up.
Verdict UserIdVerdict(const wchar_t *userId);

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

// True when the program lies on a fixed drive below a Program Files folder and only administrators may change the file
// and every folder from that Program Files folder down to it.
bool PlaceIsGuarded(const ProgramPlace &place, DescriptorReader read);

// PlaceIsGuarded, and the session's user is the one the program runs as.
bool MayStartAtLogOn(const ProgramPlace &place, DescriptorReader read);

// The same for the running program at `programPath`, with everything read from the system; false when anything
// cannot be read. On success `taskPath` holds the path the task must start: the final one, as a plain drive path, so
// that no link or junction that the user could later point elsewhere lies on the way.
bool ProgramMayStartAtLogOn(const wchar_t *programPath, wchar_t *taskPath, size_t size);

// Whether a task that starts `taskPath` may stay: the path is the program's own final path (a drive path, compared as
// the file system compares names), so that no link, junction or short name on the way can later lead elsewhere, and
// PlaceIsGuarded allows the program.
bool TaskPlaceIsGuarded(const wchar_t *taskPath, const ProgramPlace &place, DescriptorReader read);

// TaskPlaceIsGuarded for the program that a task already registered starts, read from the system.
bool TaskProgramIsGuarded(const wchar_t *taskPath);

// A domain name, a backslash and a user name, each at their longest.
const DWORD kUserNameSize = 2 * 256 + 1;

// The running user as "domain\name"; false when it cannot be found or does not fit.
bool CurrentUserName(wchar_t *userName, DWORD size);

// The running user's SID as text ("S-1-5-21-…"); false when it cannot be read or does not fit.
bool CurrentUserSid(wchar_t *sid, DWORD size);
