// One clock check or set at a time on this machine, whichever process runs it: a set never moves the clock under
// another operation's measurement, and two sets never race.
#pragma once

#include <windows.h>

// A set holds the lock for its look-ups and its walk: well under this.
const DWORD kClockLockWaitMs = 30000;

// Whether a lock that was already there when the global namespace had to be used may be waited for: its owner is
// SYSTEM, Administrators or the running user. One that anyone else made first is hers to hold for ever.
bool LockOwnerIsTrusted(PSECURITY_DESCRIPTOR descriptor);

// Holds the machine's clock lock for as long as it lives, once Held() says so. The lock lives in a private namespace
// bounded by the Administrators SID, which no standard user can create or open; where Windows cannot make one (Wine),
// in the global namespace.
class ClockLock {
public:
    ClockLock();
    ClockLock(const ClockLock &) = delete;
    ClockLock &operator=(const ClockLock &) = delete;
    ~ClockLock();
    // False when the lock was refused or could not be had within kClockLockWaitMs: the operation must not go on.
    bool Held() const { return held_; }

private:
    HANDLE space_;
    HANDLE mutex_;
    bool held_;
};
