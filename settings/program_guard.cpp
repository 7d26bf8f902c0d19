// Whether the user's own programs could change the program file, which the log-on task starts elevated.
#include "settings/program_guard.h"

#include "platform/owned_handle.h"
#include "platform/program_path.h"

namespace {

// For a folder, writing and appending data are adding files and subfolders.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
const SECURITY_INFORMATION kDescriptorParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Far more than the descriptor of any ordinary file or folder; a larger one is treated as changeable.
const DWORD kDescriptorSize = 8192;
// Room for the privileges that AccessCheck reports having used; a limited token holds only a few.
const DWORD kReportedPrivileges = 8;

bool FileMayBeChanged(HANDLE token, const wchar_t *path) {
    alignas(void *) BYTE descriptor[kDescriptorSize];
    DWORD needed = 0;
    if (!GetFileSecurityW(path, kDescriptorParts, descriptor, kDescriptorSize, &needed))
        return true;
    return TokenMayChange(token, descriptor);
}

} // namespace

HANDLE LimitedToken(HANDLE token) {
    // Under UAC the user's programs run with the linked token; without it, with this one.
    OwnedHandle linked;
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevationType, &elevation, sizeof elevation, &size) &&
        elevation == TokenElevationTypeFull) {
        TOKEN_LINKED_TOKEN info = {};
        if (!GetTokenInformation(token, TokenLinkedToken, &info, sizeof info, &size))
            return nullptr;
        *linked.Out() = info.LinkedToken;
    }
    // Administrators only able to deny, and no administrator's privileges: so a standard user's token is. Windows'
    // linked token is so already and is taken as it is if it cannot be restricted; Wine's keeps Administrators.
    alignas(void *) BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    SID_AND_ATTRIBUTES disable = {administrators, 0};
    HANDLE restricted = nullptr;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
        CreateRestrictedToken(linked.Get() != nullptr ? linked.Get() : token, DISABLE_MAX_PRIVILEGE, 1, &disable, 0,
                              nullptr, 0, nullptr, &restricted))
        return restricted;
    return linked.Release();
}

bool TokenMayChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor) {
    // AccessCheck takes an impersonation token only.
    OwnedHandle identification;
    if (!DuplicateToken(token, SecurityIdentification, identification.Out()))
        return true;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    union {
        PRIVILEGE_SET set;
        BYTE room[sizeof(PRIVILEGE_SET) + kReportedPrivileges * sizeof(LUID_AND_ATTRIBUTES)];
    } privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor, identification.Get(), MAXIMUM_ALLOWED, &mapping, &privileges.set, &privilegesSize,
                     &granted, &allowed))
        return true;
    return allowed && (granted & kChangeRights) != 0;
}

bool UserMayChangeProgram(const wchar_t *programPath) {
    wchar_t folder[kPathSize] = {};
    if (!DirectoryPart(programPath, folder, kPathSize))
        return true;
    OwnedHandle process;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.Out()))
        return true;
    const OwnedHandle limited(LimitedToken(process.Get()));
    if (limited.Get() == nullptr)
        return true;
    return FileMayBeChanged(limited.Get(), programPath) || FileMayBeChanged(limited.Get(), folder);
}
