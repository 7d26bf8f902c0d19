// The three options of the main window and the time servers the user named, kept in NetTimeConfig.ini beside the
// program, and the log-on start.
#include "settings/settings.h"

#include <windows.h>

#include "platform/program_path_win32.h"
#include "settings/logon_start.h"
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
const int kTimeServerKeyCount = 3;
const wchar_t *const kTimeServerKeys[kTimeServerKeyCount] = {L"TimeServer1", L"TimeServer2", L"TimeServer3"};
// Read for a missing key: neither on nor off, so the box stays as the template made it.
const int kMissing = 3;
// The log-on start is changed, and AutoRun written to match, by one thread at a time: a save and the clean-up at
// start may meet.
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
    // The key's text into value (size characters), empty when there is none.
    void ReadText(const wchar_t *key, wchar_t *value, DWORD size) const {
        value[0] = L'\0';
        if (located_)
            GetPrivateProfileStringW(kReadSection, key, L"", value, size, path_);
    }
    bool Write(const wchar_t *key, bool on) const { return WriteText(key, on ? L"1" : L"0"); }
    // A null value removes the key.
    bool WriteText(const wchar_t *key, const wchar_t *value) const {
        return located_ && WritePrivateProfileStringW(kWriteSection, key, value, path_) != 0;
    }

private:
    wchar_t path_[kPathSize] = {};
    bool located_;
};

// Removes the user's tasks that the guard refuses and, when none of the user's remains, saves AutoRun as 0.
void DropRefusedTasks(const SettingsFile &file) {
    bool registered = true;
    if (RemoveRefusedLogonTasks(registered) && !registered)
        file.Write(kAutoRunKey, false);
}

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
    const LogonStartLock lock;
    // AutoRun keeps its old value when the log-on start could not be changed, so the box keeps telling the truth; a
    // refused save also takes away an earlier task that would not be registered now.
    bool saved = SetAutoRun(autoRun ? 1 : 0) == 1;
    if (saved)
        saved = file.Write(kAutoRunKey, autoRun);
    else
        DropRefusedTasks(file);
    saved = file.Write(kAutoSetTimeKey, autoSetTime) && saved;
    saved = file.Write(kMinimizedKey, minimized) && saved;
    return saved;
}

void DropRefusedLogonStart() {
    const LogonStartLock lock;
    DropRefusedTasks(SettingsFile());
}

void ReadTimeServerSetting(int server, char *name, size_t size) {
    wchar_t value[kPathSize] = {};
    if (server >= 1 && server <= kTimeServerKeyCount)
        SettingsFile().ReadText(kTimeServerKeys[server - 1], value, static_cast<DWORD>(kPathSize));
    size_t length = 0;
    for (; value[length] != L'\0' && value[length] < 0x80 && length + 1 < size; ++length)
        name[length] = static_cast<char>(value[length]);
    // Anything cut short or not ASCII is dropped whole, so that it cannot pass for a shorter name.
    name[value[length] == L'\0' ? length : 0] = '\0';
}

bool WriteTimeServerSetting(int server, const char *name) {
    if (server < 1 || server > kTimeServerKeyCount)
        return false;
    wchar_t value[kPathSize] = {};
    for (size_t length = 0; name != nullptr && name[length] != '\0' && length + 1 < kPathSize; ++length)
        value[length] = static_cast<unsigned char>(name[length]);
    return SettingsFile().WriteText(kTimeServerKeys[server - 1], name != nullptr ? value : nullptr);
}
