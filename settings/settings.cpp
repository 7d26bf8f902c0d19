// The three options of the main window, kept in NetTimeConfig.ini beside the program.
#include "settings/settings.h"

#include "app/app_shell.h"
#include "res/resource.h"
#include "time/clock_tasks.h"

namespace {

const char kSettingsFileName[] = "NetTimeConfig.ini";
// Profile names match without regard to case: both name the one section, and a new file gets "Config".
const char kReadSection[] = "config";
const char kWriteSection[] = "Config";
const char kAutoRunKey[] = "AutoRun";
const char kAutoSetTimeKey[] = "AutoSetTime";
const char kMinimizedKey[] = "AutoXiao";
// Read for a missing key: neither on nor off, so the box stays as the template made it.
const int kMissing = 3;

const char kSavedText[] = "保存设置完成";
const char kSaveFailedText[] = "保存设置失败!";
const char kNoticeCaption[] = "提示";

// The settings file, bound to its path beside the program.
class SettingsFile {
public:
    SettingsFile() : located_(ProgramFileBeside(kSettingsFileName, path_, sizeof path_)) {}

    int Read(const char *key) const {
        return located_ ? GetPrivateProfileIntA(kReadSection, key, kMissing, path_) : kMissing;
    }
    bool Write(const char *key, bool on) const {
        return located_ && WritePrivateProfileStringA(kWriteSection, key, on ? "1" : "0", path_) != 0;
    }

private:
    char path_[256] = {};
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

void ApplySettings(HWND window) {
    const SettingsFile file;
    ApplyCheckBox(window, IDC_AUTORUN, file.Read(kAutoRunKey));

    const int autoSetTime = file.Read(kAutoSetTimeKey);
    ApplyCheckBox(window, IDC_AUTOSYNC, autoSetTime);
    if (autoSetTime == 1)
        StartTask(AutoSyncTask, nullptr);

    const int minimized = file.Read(kMinimizedKey);
    ApplyCheckBox(window, IDC_MINIMIZED, minimized);
    if (minimized == 1)
        g_appShell.MinimiseWhenShown();
}

bool WriteSettings(HWND window) {
    const SettingsFile file;
    const bool autoRun = IsTicked(window, IDC_AUTORUN);
    // AutoRun keeps its old value when the log-on start could not be changed, so the box keeps telling the truth.
    bool saved = g_appShell.SetAutoRun(autoRun ? 1 : 0) == 1;
    if (saved)
        saved = file.Write(kAutoRunKey, autoRun);
    saved = file.Write(kAutoSetTimeKey, IsTicked(window, IDC_AUTOSYNC)) && saved;
    saved = file.Write(kMinimizedKey, IsTicked(window, IDC_MINIMIZED)) && saved;
    return saved;
}

void SaveSettings(HWND window) {
    MessageBoxA(window, WriteSettings(window) ? kSavedText : kSaveFailedText, kNoticeCaption, MB_OK);
}
