// Whether the log-on task may start the program: only a file that nobody but administrators can change.
#include "settings/program_guard.h"

#include <sddl.h>
#include <shlobj.h>
#include <wtsapi32.h>

#include "platform/owned_handle.h"
#include "platform/process_user.h"
#include "platform/program_path.h"
#include "platform/system_library.h"

namespace {

// For a folder, writing and appending data are adding files and subfolders.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                            GENERIC_WRITE | GENERIC_ALL;
const SECURITY_INFORMATION kDescriptorParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Far more than the descriptor of any ordinary file or folder; a larger one is treated as changeable.
const DWORD kDescriptorSize = 8192;
// A final path begins with \\?\ (or \\?\UNC\); a longer one than this is refused.
const DWORD kFinalPathSize = kPathSize + 16;
// A user or a domain name at its longest: half of "domain\name".
const DWORD kNameSize = (kUserNameSize - 1) / 2;
const wchar_t kLongPathPrefix[] = L"\\\\?\\";

// TrustedInstaller's service SID, S-1-5-80- and the hash of its name: the same on every Windows.
const struct {
    BYTE revision;
    BYTE subAuthorityCount;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthority[6];
} kTrustedInstaller = {SID_REVISION,
                       6,
                       SECURITY_NT_AUTHORITY,
                       {SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

// SYSTEM, Administrators, TrustedInstaller, and `user` when it is given.
bool IsTrusted(PSID sid, PSID user) {
    return (user != nullptr && EqualSid(sid, user)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           EqualSid(sid, const_cast<void *>(static_cast<const void *>(&kTrustedInstaller)));
}

// CREATOR OWNER on an inherit-only ACE gives rights only to whoever creates something inside, on that.
bool MayGrantChange(const ACCESS_ALLOWED_ACE &ace, PSID user) {
    const PSID sid = const_cast<DWORD *>(&ace.SidStart);
    return (ace.Mask & kChangeRights) == 0 || IsTrusted(sid, user) ||
           ((ace.Header.AceFlags & INHERIT_ONLY_ACE) != 0 && IsWellKnownSid(sid, WinCreatorOwnerSid));
}

bool Unchangeable(const wchar_t *path, DescriptorReader read) {
    alignas(void *) BYTE descriptor[kDescriptorSize];
    return read(path, descriptor, kDescriptorSize) && OnlyAdministratorsMayChange(descriptor);
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

// The program's final path and the Program Files folders, read from the system; the users are left unknown.
class SystemPlace {
public:
    bool Read(const wchar_t *programPath) {
        const KNOWNFOLDERID *const ids[kProgramFilesFolders] = {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86,
                                                                &FOLDERID_ProgramFilesX64};
        if (!FinalPath(programPath, 0, final_))
            return false;
        place_.finalPath = final_;
        place_.onFixedDrive = OnFixedDrive(final_);
        for (int i = 0; i < kProgramFilesFolders; ++i) {
            if (ProgramFilesFolder(*ids[i], programFiles_[i]))
                place_.programFiles[i] = programFiles_[i];
        }
        return true;
    }
    const ProgramPlace &Place() const { return place_; }

private:
    wchar_t final_[kFinalPathSize] = {};
    wchar_t programFiles_[kProgramFilesFolders][kFinalPathSize] = {};
    ProgramPlace place_ = {};
};

// kRefused when an ACE lets anyone else change what the descriptor guards, or there is no DACL at all (everyone may do
// anything); kUnknown when the descriptor holds no DACL part, as a text read back without one does.
Verdict DaclVerdict(PSECURITY_DESCRIPTOR descriptor, PSID user) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL *dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        return Verdict::kUnknown;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return Verdict::kRefused;
        // A deny takes nothing away from the question; any other kind of ACE, conditional or object, is not read
        // here and so is not trusted.
        const BYTE type = static_cast<ACE_HEADER *>(ace)->AceType;
        if (type != ACCESS_DENIED_ACE_TYPE &&
            (type != ACCESS_ALLOWED_ACE_TYPE || !MayGrantChange(*static_cast<ACCESS_ALLOWED_ACE *>(ace), user)))
            return Verdict::kRefused;
    }
    return dacl != nullptr ? Verdict::kAllowed : Verdict::kRefused;
}

} // namespace

bool OnlyAdministratorsMayChange(PSECURITY_DESCRIPTOR descriptor, PSID user) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return IsValidSecurityDescriptor(descriptor) && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
           owner != nullptr && IsTrusted(owner, user) && DaclVerdict(descriptor, user) == Verdict::kAllowed;
}

bool OnlyAdministratorsAndUserMayChange(PSECURITY_DESCRIPTOR descriptor) {
    ProcessUser user;
    return ReadProcessUser(user) && OnlyAdministratorsMayChange(descriptor, user.info.User.Sid);
}

Verdict FileVerdictWithUser(const wchar_t *path) {
    alignas(void *) BYTE descriptor[kDescriptorSize];
    if (!ReadFileDescriptor(path, descriptor, kDescriptorSize))
        return Verdict::kUnknown;
    return OnlyAdministratorsAndUserMayChange(descriptor) ? Verdict::kAllowed : Verdict::kRefused;
}

Verdict TaskDescriptorVerdict(const wchar_t *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return Verdict::kUnknown;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    Verdict verdict = DaclVerdict(descriptor, nullptr);
    if (verdict != Verdict::kRefused && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        verdict = owner == nullptr ? Verdict::kUnknown : IsTrusted(owner, nullptr) ? verdict : Verdict::kRefused;
    LocalFree(descriptor);
    return verdict;
}

Verdict UserIdVerdict(const wchar_t *userId) {
    ProcessUser user;
    PSID sid = nullptr;
    alignas(void *) BYTE named[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof named;
    wchar_t domain[kNameSize];
    DWORD domainSize = kNameSize;
    SID_NAME_USE use;
    if (!ReadProcessUser(user))
        return Verdict::kUnknown;
    if (ConvertStringSidToSidW(userId, &sid)) {
        const bool same = EqualSid(sid, user.info.User.Sid);
        LocalFree(sid);
        return same ? Verdict::kAllowed : Verdict::kRefused;
    }
    // "DOMAIN\name", a bare name or a UPN, as the Task Scheduler may give it back.
    if (!LookupAccountNameW(nullptr, userId, named, &size, domain, &domainSize, &use))
        return Verdict::kUnknown;
    return EqualSid(named, user.info.User.Sid) ? Verdict::kAllowed : Verdict::kRefused;
}

bool PlaceIsGuarded(const ProgramPlace &place, DescriptorReader read) {
    if (!place.onFixedDrive)
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
        if (!Unchangeable(path, read))
            return false;
        path[end] = kept;
        if (kept == L'\0')
            return true;
        for (++end; path[end] != L'\0' && path[end] != L'\\'; ++end) {
        }
    }
}

bool MayStartAtLogOn(const ProgramPlace &place, DescriptorReader read) {
    return place.processUser != nullptr && place.sessionUser != nullptr &&
           CompareStringOrdinal(place.processUser, -1, place.sessionUser, -1, TRUE) == CSTR_EQUAL &&
           PlaceIsGuarded(place, read);
}

bool ProgramMayStartAtLogOn(const wchar_t *programPath, wchar_t *taskPath, size_t size) {
    SystemPlace system;
    wchar_t processUser[kUserNameSize] = {};
    wchar_t sessionUser[kUserNameSize] = {};
    if (!system.Read(programPath))
        return false;
    ProgramPlace place = system.Place();
    place.processUser = CurrentUserName(processUser, kUserNameSize) ? processUser : nullptr;
    place.sessionUser = SessionUserName(sessionUser, kUserNameSize) ? sessionUser : nullptr;
    // On a fixed drive the final path is \\?\ and a drive path.
    const wchar_t *drivePath = place.finalPath + wcslen(kLongPathPrefix);
    if (!MayStartAtLogOn(place, ReadFileDescriptor) || wcslen(drivePath) >= size)
        return false;
    wcscpy(taskPath, drivePath);
    return true;
}

bool TaskPlaceIsGuarded(const wchar_t *taskPath, const ProgramPlace &place, DescriptorReader read) {
    // A guarded place lies on a drive, so its final path holds the prefix and a drive path.
    return PlaceIsGuarded(place, read) &&
           CompareStringOrdinal(taskPath, -1, place.finalPath + wcslen(kLongPathPrefix), -1, TRUE) == CSTR_EQUAL;
}

bool TaskProgramIsGuarded(const wchar_t *taskPath) {
    SystemPlace system;
    return system.Read(taskPath) && TaskPlaceIsGuarded(taskPath, system.Place(), ReadFileDescriptor);
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
