// The three options of the main window and the time servers the user named, kept in NetTimeConfig.ini beside the
// program, and the log-on start.
#include "settings/settings.h"

#include <windows.h>

#include <sddl.h>

#include "platform/owned_handle.h"
#include "platform/program_path_win32.h"
#include "settings/logon_start.h"
#include "settings/program_guard.h"
#include "settings/resync_period.h"

namespace {

const wchar_t kSettingsFileName[] = L"NetTimeConfig.ini";
// Profile names match without regard to case: both name the one section, and a new file gets "Config".
const wchar_t kReadSection[] = L"config";
const wchar_t kWriteSection[] = L"Config";
const wchar_t kAutoRunKey[] = L"AutoRun";
const wchar_t kAutoSetTimeKey[] = L"AutoSetTime";
const wchar_t kMinimizedKey[] = L"AutoXiao";
const wchar_t kResyncHoursKey[] = L"ResyncHours";
// Room for any valid ResyncHours, leading zeros and all; a text that fills it may have been cut, and is no number.
const DWORD kResyncTextSize = 64;
const wchar_t *const kTimeServerKeys[kTimeServerSettings] = {L"TimeServer1", L"TimeServer2", L"TimeServer3"};
// Read for a key that is not there: no value holds a line break. It ends in no blank, which the read would strip.
const wchar_t kAbsent[] = L"\n(absent)";
// A file the program makes: full control for SYSTEM, Administrators and the running user (whose SID ends it), read for
// Users; nothing inherited from a folder that others may hold rights on.
const wchar_t kNewFileAccess[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)(A;;FA;;;";
const DWORD kNewFileAccessSize = 256;
// Read for a missing key: neither on nor off, so the box stays as the template made it.
const int kMissing = 3;
// The user's log-on tasks are read and changed by one thread at a time: a save and the reading at start may meet.
SRWLOCK g_logonStartLock = SRWLOCK_INIT;

class LogonStartLock {
public:
    LogonStartLock() { AcquireSRWLockExclusive(&g_logonStartLock); }
    LogonStartLock(const LogonStartLock &) = delete;
    LogonStartLock &operator=(const LogonStartLock &) = delete;
    ~LogonStartLock() { ReleaseSRWLockExclusive(&g_logonStartLock); }
};

// The settings file, bound to its path beside the program.
class SettingsFile {
public:
    SettingsFile() : located_(ProgramFileBeside(kSettingsFileName, path_, kPathSize)) {}

    int Read(const wchar_t *key) const {
        return located_ ? GetPrivateProfileIntW(kReadSection, key, kMissing, path_) : kMissing;
    }
    // The key's text into value (size characters), `missing` when there is none.
    void ReadText(const wchar_t *key, wchar_t *value, DWORD size, const wchar_t *missing = L"") const {
        wcscpy(value, missing);
        if (located_)
            GetPrivateProfileStringW(kReadSection, key, missing, value, size, path_);
    }
    bool Write(const wchar_t *key, bool on) const { return WriteText(key, on ? L"1" : L"0"); }
    // A null value removes the key.
    bool WriteText(const wchar_t *key, const wchar_t *value) const {
        return located_ && Writable(value != nullptr) &&
               WritePrivateProfileStringW(kWriteSection, key, value, path_) != 0;
    }
    // The time servers decide who may set this machine's clock: they are used only from a file that no one but
    // administrators and the running user owns or may change.
    Verdict ServersVerdict() const { return located_ ? FileVerdictWithUser(path_) : Verdict::kUnknown; }

private:
    // Written as administrator, the file must be no reparse point or second name of a file that someone else chose;
    // one that is not there is made first, with its own DACL, unless the write only removes a key.
    bool Writable(bool create) const {
        wchar_t sddl[kNewFileAccessSize];
        wcscpy(sddl, kNewFileAccess);
        const size_t start = wcslen(sddl);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
        if (!CurrentUserSid(sddl + start, kNewFileAccessSize - start - 1))
            return false;
        wcscpy(sddl + wcslen(sddl), L")");
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                  &attributes.lpSecurityDescriptor, nullptr))
            return false;
        const OwnedHandle file(
            CreateFileW(path_, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        &attributes, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const bool missing = GetLastError() == ERROR_FILE_NOT_FOUND;
        LocalFree(attributes.lpSecurityDescriptor);
        if (!file.IsOpen())
            return !create && missing;
        BY_HANDLE_FILE_INFORMATION information;
        return GetFileInformationByHandle(file.Get(), &information) &&
               (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && information.nNumberOfLinks == 1;
    }

    wchar_t path_[kPathSize] = {};
    bool located_;
};

} // namespace

SavedChoices ReadSettings() {
    const SettingsFile file;
    wchar_t resync[kResyncTextSize];
    file.ReadText(kResyncHoursKey, resync, kResyncTextSize);
    return SavedChoices{file.Read(kAutoRunKey), file.Read(kAutoSetTimeKey), file.Read(kMinimizedKey),
                        ParseResyncHours(lstrlenW(resync) < static_cast<int>(kResyncTextSize) - 1 ? resync : L"")};
}

bool WriteSettings(bool autoRun, bool autoSetTime, bool minimized) {
    const SettingsFile file;
    bool saved = file.Write(kAutoRunKey, autoRun);
    saved = file.Write(kAutoSetTimeKey, autoSetTime) && saved;
    return file.Write(kMinimizedKey, minimized) && saved;
}

bool ReadLogonStart(bool &registered) {
    const LogonStartLock lock;
    return RemoveRefusedLogonTasks(registered);
}

bool ChangeLogonStart(bool on, bool &registered) {
    const LogonStartLock lock;
    if (SetAutoRun(on ? 1 : 0) == 1) {
        registered = on;
        return true;
    }
    // A refused save also takes away an earlier task that would not be registered now.
    bool left = false;
    if (RemoveRefusedLogonTasks(left))
        registered = left;
    return false;
}

void ReadTimeServerSetting(int server, char *name, size_t size) {
    wchar_t value[kPathSize] = {};
    const SettingsFile file;
    if (server >= 1 && server <= kTimeServerSettings && file.ServersVerdict() == Verdict::kAllowed)
        file.ReadText(kTimeServerKeys[server - 1], value, static_cast<DWORD>(kPathSize));
    size_t length = 0;
    for (; value[length] != L'\0' && value[length] < 0x80 && length + 1 < size; ++length)
        name[length] = static_cast<char>(value[length]);
    // Anything cut short or not ASCII is dropped whole, so that it cannot pass for a shorter name.
    name[value[length] == L'\0' ? length : 0] = '\0';
}

bool TimeServerSettingsRefused() {
    return SettingsFile().ServersVerdict() == Verdict::kRefused;
}

bool WriteTimeServerSetting(int server, const char *name) {
    if (server < 1 || server > kTimeServerSettings)
        return false;
    wchar_t value[kPathSize] = {};
    for (size_t length = 0; name != nullptr && name[length] != '\0' && length + 1 < kPathSize; ++length)
        value[length] = static_cast<unsigned char>(name[length]);
    return SettingsFile().WriteText(kTimeServerKeys[server - 1], name != nullptr ? value : nullptr);
}

bool WriteTimeServerSettings(const char *const (&names)[kTimeServerSettings], TimeServerWriter write) {
    const SettingsFile file;
    // Longer than any name; a longer text, which names no server, would come back cut to this.
    wchar_t before[kTimeServerSettings][kPathSize];
    for (int server = 0; server < kTimeServerSettings; ++server)
        file.ReadText(kTimeServerKeys[server], before[server], static_cast<DWORD>(kPathSize), kAbsent);
    for (int server = 0; server < kTimeServerSettings; ++server) {
        if (write(server + 1, names[server]))
            continue;
        // A save that stopped part-way would leave a mix that nobody chose.
        for (int key = 0; key < kTimeServerSettings; ++key)
            file.WriteText(kTimeServerKeys[key], wcscmp(before[key], kAbsent) == 0 ? nullptr : before[key]);
        return false;
    }
    return true;
}
