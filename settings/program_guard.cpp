// Whether the log-on task may start the program: only a file that nobody but administrators can change.
#include "settings/program_guard.h"

#include <sddl.h>
#include <shlobj.h>
#include <wtsapi32.h>

#include "platform/owned_handle.h"
#include "platform/program_path.h"
#include "platform/system_library.h"

namespace {

// For a folder, writing and appending data are adding files and subfolders.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
const SECURITY_INFORMATION kDescriptorParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Far more than the descriptor of any ordinary file or folder; a larger one is treated as changeable.
const DWORD kDescriptorSize = 8192;
// Room for the privileges that AccessCheck reports having used; a limited token holds only a few.
const DWORD kReportedPrivileges = 8;
// A final path begins with \\?\ (or \\?\UNC\); a longer one than this is refused.
const DWORD kFinalPathSize = kPathSize + 16;
// A domain name, a backslash and a user name, each at their longest.
const DWORD kNameSize = 256;
const DWORD kUserNameSize = 2 * kNameSize + 1;
const wchar_t kLongPathPrefix[] = L"\\\\?\\";

union ProcessUser {
    TOKEN_USER info;
    BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

bool ReadProcessUser(ProcessUser &user) {
    OwnedHandle token;
    DWORD size = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out()) &&
           GetTokenInformation(token.Get(), TokenUser, &user, sizeof user, &size);
}

bool Unchangeable(HANDLE token, const wchar_t *path, DescriptorReader read) {
    alignas(void *) BYTE descriptor[kDescriptorSize];
    return read(path, descriptor, kDescriptorSize) && !TokenMayChange(token, descriptor);
}

bool ReadFileDescriptor(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor, DWORD size) {
    DWORD needed = 0;
    return GetFileSecurityW(path, kDescriptorParts, descriptor, size, &needed) != FALSE;
}

// The path a handle really leads to, as \\?\C:\… or \\?\UNC\…; false when it does not fit.
bool FinalPath(const wchar_t *path, DWORD flags, wchar_t (&final)[kFinalPathSize]) {
    const OwnedHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       flags, nullptr));
    if (!file.IsOpen())
        return false;
    const DWORD length =
        GetFinalPathNameByHandleW(file.Get(), final, kFinalPathSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < kFinalPathSize;
}

// A path on a drive letter (not a share) whose drive is a local fixed disk.
bool OnFixedDrive(const wchar_t *final) {
    const size_t prefix = wcslen(kLongPathPrefix);
    if (wcsncmp(final, kLongPathPrefix, prefix) != 0 || final[prefix + 1] != L':' || final[prefix + 2] != L'\\')
        return false;
    const wchar_t root[] = {final[prefix], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}

// The final path of a Program Files folder. A 32-bit program is not told the 64-bit one as a known folder; the
// machine's own setting, which only administrators can change, names it.
bool ProgramFilesFolder(const KNOWNFOLDERID &id, wchar_t (&final)[kFinalPathSize]) {
    wchar_t *known = nullptr;
    bool found = false;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &known)))
        found = FinalPath(known, FILE_FLAG_BACKUP_SEMANTICS, final);
    CoTaskMemFree(known);
    if (found || id != FOLDERID_ProgramFilesX64)
        return found;
    wchar_t folder[kPathSize] = {};
    DWORD size = sizeof folder;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    const LONG status = RegGetValueW(key, nullptr, L"ProgramW6432Dir", RRF_RT_REG_SZ, nullptr, folder, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && FinalPath(folder, FILE_FLAG_BACKUP_SEMANTICS, final);
}

typedef BOOL(WINAPI *QuerySessionFunction)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR *, DWORD *);
typedef void(WINAPI *FreeMemoryFunction)(PVOID);

// The user logged on to this session as "domain\name": the one whose desktop the program is shown on, who may not
// be the user it runs as (an administrator's name typed into a UAC prompt). No privilege is needed for one's own
// session.
bool SessionUserName(wchar_t *userName, DWORD size) {
    const QuerySessionFunction query =
        SystemFunction<QuerySessionFunction>(L"wtsapi32.dll", "WTSQuerySessionInformationW");
    const FreeMemoryFunction release = SystemFunction<FreeMemoryFunction>(L"wtsapi32.dll", "WTSFreeMemory");
    if (query == nullptr || release == nullptr)
        return false;
    wchar_t *name = nullptr;
    wchar_t *domain = nullptr;
    DWORD bytes = 0;
    const bool joined = query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &name, &bytes) &&
                        query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName, &domain, &bytes) &&
                        name[0] != L'\0' && JoinWithBackslash(domain, wcslen(domain), name, userName, size);
    if (name != nullptr)
        release(name);
    if (domain != nullptr)
        release(domain);
    return joined;
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

bool MayStartAtLogOn(HANDLE token, const ProgramPlace &place, DescriptorReader read) {
    if (!place.onFixedDrive || place.processUser == nullptr || place.sessionUser == nullptr ||
        CompareStringOrdinal(place.processUser, -1, place.sessionUser, -1, TRUE) != CSTR_EQUAL)
        return false;
    size_t rootLength = 0;
    for (const wchar_t *folder : place.programFiles) {
        if (rootLength == 0 && folder != nullptr)
            rootLength = InsideFolderLength(folder, place.finalPath);
    }
    wchar_t path[kFinalPathSize] = {};
    if (rootLength == 0 || wcslen(place.finalPath) >= kFinalPathSize)
        return false;
    wcscpy(path, place.finalPath);
    // The Program Files folder, each folder below it, then the file: whoever may rename or replace any of them can
    // put another program where the task looks.
    for (size_t end = rootLength;;) {
        const wchar_t kept = path[end];
        path[end] = L'\0';
        if (!Unchangeable(token, path, read))
            return false;
        path[end] = kept;
        if (kept == L'\0')
            return true;
        for (++end; path[end] != L'\0' && path[end] != L'\\'; ++end) {
        }
    }
}

bool ProgramMayStartAtLogOn(const wchar_t *programPath, wchar_t *taskPath, size_t size) {
    wchar_t final[kFinalPathSize] = {};
    wchar_t programFiles[kProgramFilesFolders][kFinalPathSize] = {};
    const KNOWNFOLDERID *const ids[kProgramFilesFolders] = {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86,
                                                            &FOLDERID_ProgramFilesX64};
    wchar_t processUser[kUserNameSize] = {};
    wchar_t sessionUser[kUserNameSize] = {};
    ProgramPlace place = {};
    if (!FinalPath(programPath, 0, final))
        return false;
    place.finalPath = final;
    place.onFixedDrive = OnFixedDrive(final);
    for (int i = 0; i < kProgramFilesFolders; ++i) {
        if (ProgramFilesFolder(*ids[i], programFiles[i]))
            place.programFiles[i] = programFiles[i];
    }
    place.processUser = CurrentUserName(processUser, kUserNameSize) ? processUser : nullptr;
    place.sessionUser = SessionUserName(sessionUser, kUserNameSize) ? sessionUser : nullptr;
    OwnedHandle process;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.Out()))
        return false;
    const OwnedHandle limited(LimitedToken(process.Get()));
    // On a fixed drive the final path is \\?\ and a drive path.
    const wchar_t *drivePath = final + wcslen(kLongPathPrefix);
    if (!limited.IsOpen() || !MayStartAtLogOn(limited.Get(), place, ReadFileDescriptor) || wcslen(drivePath) >= size)
        return false;
    wcscpy(taskPath, drivePath);
    return true;
}

bool CurrentUserName(wchar_t *userName, DWORD size) {
    ProcessUser user;
    wchar_t name[kNameSize] = {};
    wchar_t domain[kNameSize] = {};
    DWORD nameSize = kNameSize;
    DWORD domainSize = kNameSize;
    SID_NAME_USE use;
    return ReadProcessUser(user) &&
           LookupAccountSidW(nullptr, user.info.User.Sid, name, &nameSize, domain, &domainSize, &use) &&
           JoinWithBackslash(domain, domainSize, name, userName, size);
}

bool CurrentUserSid(wchar_t *sid, DWORD size) {
    ProcessUser user;
    wchar_t *text = nullptr;
    if (!ReadProcessUser(user) || !ConvertSidToStringSidW(user.info.User.Sid, &text))
        return false;
    const bool fits = wcslen(text) < size;
    if (fits)
        wcscpy(sid, text);
    LocalFree(text);
    return fits;
}
