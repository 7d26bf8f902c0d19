// The three options of the main window, kept in NetTimeConfig.ini beside the program.
#include "settings/settings.h"

#include "platform/interface_text.h"
#include "platform/program_path_win32.h"
#include "res/resource.h"
#include "settings/logon_start.h"
#include "time/clock_tasks.h"

namespace {

const wchar_t kSettingsFileName[] = L"NetTimeConfig.ini";
// Profile names match without regard to case: both name the one section, and a new file gets "Config".
const wchar_t kReadSection[] = L"config";
const wchar_t kWriteSection[] = L"Config";
const wchar_t kAutoRunKey[] = L"AutoRun";
const wchar_t kAutoSetTimeKey[] = L"AutoSetTime";
const wchar_t kMinimizedKey[] = L"AutoXiao";
// Read for a missing key: neither on nor off, so the box stays as the template made it.
const int kMissing = 3;

const char kSavedText[] = "保存设置完成";
const char kSaveFailedText[] = "保存设置失败!";
const char kNoticeCaption[] = "提示";

// The settings file, bound to its path beside the program.
class SettingsFile {
public:
    SettingsFile() : located_(ProgramFileBeside(kSettingsFileName, path_, kPathSize)) {}

    int Read(const wchar_t *key) const {
        return located_ ? GetPrivateProfileIntW(kReadSection, key, kMissing, path_) : kMissing;
    }
    bool Write(const wchar_t *key, bool on) const {
        return located_ && WritePrivateProfileStringW(kWriteSection, key, on ? L"1" : L"0", path_) != 0;
    }

private:
    wchar_t path_[kPathSize] = {};
    bool located_;
};

void ApplyCheckBox(HWND window, int checkBox, int value) {
    if (value == 0 || value == 1)
        CheckDlgButton(window, checkBox, value == 1 ? BST_CHECKED : BST_UNCHECKED);
}

bool IsTicked(HWND window, int checkBox) {
    return IsDlgButtonChecked(window, checkBox) == BST_CHECKED;
}

} // namespace

bool ApplySettings(HWND window) {
    const SettingsFile file;
    ApplyCheckBox(window, IDC_AUTORUN, file.Read(kAutoRunKey));

    const int autoSetTime = file.Read(kAutoSetTimeKey);
    ApplyCheckBox(window, IDC_AUTOSYNC, autoSetTime);
    if (autoSetTime == 1)
        StartTask(AutoSyncTask, nullptr);

    const int minimized = file.Read(kMinimizedKey);
    ApplyCheckBox(window, IDC_MINIMIZED, minimized);
    return minimized == 1;
}

bool WriteSettings(HWND window) {
    const SettingsFile file;
    const bool autoRun = IsTicked(window, IDC_AUTORUN);
    // AutoRun keeps its old value when the log-on start could not be changed, so the box keeps telling the truth.
    bool saved = SetAutoRun(autoRun ? 1 : 0) == 1;
    if (saved)
        saved = file.Write(kAutoRunKey, autoRun);
    saved = file.Write(kAutoSetTimeKey, IsTicked(window, IDC_AUTOSYNC)) && saved;
    saved = file.Write(kMinimizedKey, IsTicked(window, IDC_MINIMIZED)) && saved;
    return saved;
}

void SaveSettings(HWND window) {
    ShowMessage(window, WriteSettings(window) ? kSavedText : kSaveFailedText, kNoticeCaption, MB_OK);
}
