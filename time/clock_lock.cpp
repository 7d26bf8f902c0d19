// One clock check or set at a time on this machine: a named mutex in a namespace only administrators can open.
#include "time/clock_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include <string.h>

#include "platform/owned_handle.h"
#include "platform/process_user.h"

namespace {

const wchar_t kSpaceName[] = L"Tempvaro";
const wchar_t kPrivateLockName[] = L"Tempvaro\\Lock";
const wchar_t kGlobalLockName[] = L"Global\\Tempvaro-ClockLock";
// Only SYSTEM and Administrators may open the namespace and the lock.
const wchar_t kLockAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

typedef HANDLE(WINAPI *CreateBoundaryFunction)(LPCWSTR, ULONG);
typedef BOOL(WINAPI *AddSidFunction)(HANDLE *, PSID);
typedef void(WINAPI *DeleteBoundaryFunction)(HANDLE);
typedef HANDLE(WINAPI *CreateSpaceFunction)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef HANDLE(WINAPI *OpenSpaceFunction)(LPVOID, LPCWSTR);

// Loaded at run time: Wine has these only as stubs, or not at all. One text, each name ended by its zero.
const char kSpaceFunctionNames[] = "CreateBoundaryDescriptorW\0"
                                   "AddSIDToBoundaryDescriptor\0"
                                   "DeleteBoundaryDescriptor\0"
                                   "CreatePrivateNamespaceW\0"
                                   "OpenPrivateNamespaceW";
const int kSpaceFunctions = 5;
// BUILTIN\Administrators, S-1-5-32-544.
const struct {
    BYTE revision;
    BYTE subAuthorityCount;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthority[2];
} kAdministrators = {SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

union SpaceFunctions {
    FARPROC loaded[kSpaceFunctions];
    struct {
        CreateBoundaryFunction createBoundary;
        AddSidFunction addSid;
        DeleteBoundaryFunction deleteBoundary;
        CreateSpaceFunction createSpace;
        OpenSpaceFunction openSpace;
    } call;
};

// Opens the private namespace into `space` (null when it was refused); false when this Windows cannot make one.
bool OpenPrivateSpace(SECURITY_ATTRIBUTES *attributes, HANDLE &space) {
    // kernel32 is always loaded.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    SpaceFunctions functions;
    const char *name = kSpaceFunctionNames;
    for (int i = 0; i < kSpaceFunctions; name += strlen(name) + 1, ++i) {
        if ((functions.loaded[i] = GetProcAddress(kernel, name)) == nullptr)
            return false;
    }
    HANDLE boundary = functions.call.createBoundary(kSpaceName, 0);
    if (boundary == nullptr)
        return false;
    const bool bounded =
        functions.call.addSid(&boundary, const_cast<void *>(static_cast<const void *>(&kAdministrators)));
    // One that another process made is opened; one whose last handle closes in between is a refusal, and the
    // operation says so rather than wait.
    if (bounded) {
        space = functions.call.createSpace(attributes, boundary, kSpaceName);
        if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
            space = functions.call.openSpace(boundary, kSpaceName);
    }
    functions.call.deleteBoundary(boundary);
    return bounded;
}

bool OwnerIsTrusted(HANDLE object) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool trusted = GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr,
                                         nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                         LockOwnerIsTrusted(descriptor);
    LocalFree(descriptor);
    return trusted;
}

// Creating a mutex in the global namespace needs no privilege: one that was there first must be ours.
HANDLE OpenGlobalLock(SECURITY_ATTRIBUTES *attributes) {
    OwnedHandle mutex(CreateMutexW(attributes, FALSE, kGlobalLockName));
    if (mutex.IsOpen() && GetLastError() == ERROR_ALREADY_EXISTS && !OwnerIsTrusted(mutex.Get()))
        mutex.Close();
    return mutex.Release();
}

} // namespace

bool LockOwnerIsTrusted(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ProcessUser user;
    return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
           (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            (ReadProcessUser(user) && EqualSid(owner, user.info.User.Sid)));
}

ClockLock::ClockLock() : space_(nullptr), mutex_(nullptr), held_(false) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockAccess, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
        return;
    if (!OpenPrivateSpace(&attributes, space_))
        mutex_ = OpenGlobalLock(&attributes);
    else if (space_ != nullptr)
        mutex_ = CreateMutexW(&attributes, FALSE, kPrivateLockName);
    LocalFree(attributes.lpSecurityDescriptor);
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
    // ClosePrivateNamespace without PRIVATE_NAMESPACE_FLAG_DESTROY only closes the handle.
    if (space_ != nullptr)
        CloseHandle(space_);
}
