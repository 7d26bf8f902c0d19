// One clock check or set at a time on this machine, whichever process runs it: a set never moves the clock under
// another operation's measurement, and two sets never race.
#pragma once

#include <windows.h>

// A set holds the lock for its look-ups and its walk: well under this.
const DWORD kClockLockWaitMs = 30000;

// Holds the machine's clock lock for as long as it lives, once Held() says so.
class ClockLock {
public:
    ClockLock();
    ClockLock(const ClockLock &) = delete;
    ClockLock &operator=(const ClockLock &) = delete;
    ~ClockLock();
    // False when the lock could not be had within kClockLockWaitMs: the operation must not go on.
    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_;
};
