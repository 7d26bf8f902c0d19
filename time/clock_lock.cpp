// One clock check or set at a time on this machine: a named mutex in the global namespace.
#include "time/clock_lock.h"

#include <sddl.h>

namespace {

// Only SYSTEM and Administrators may open it, so that no standard user can hold it and stall every set.
const wchar_t kLockName[] = L"Global\\Tempvaro-ClockLock";
const wchar_t kLockAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE OpenLockMutex() {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockAccess, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
        return nullptr;
    const HANDLE mutex = CreateMutexW(&attributes, FALSE, kLockName);
    LocalFree(attributes.lpSecurityDescriptor);
    return mutex;
}

} // namespace

ClockLock::ClockLock() : mutex_(OpenLockMutex()), held_(false) {
    if (mutex_ == nullptr)
        return;
    // An owner that ended without letting go leaves the lock abandoned, and ours.
    const DWORD waited = WaitForSingleObject(mutex_, kClockLockWaitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

ClockLock::~ClockLock() {
    if (held_)
        ReleaseMutex(mutex_);
    if (mutex_ != nullptr)
        CloseHandle(mutex_);
}
