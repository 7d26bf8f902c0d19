// The main window's three option boxes, shown as the settings file says and saved back to it.
#include "app/settings_boxes.h"

#include "app/clock_tasks.h"
#include "app/start_task.h"
#include "platform/interface_text.h"
#include "res/resource.h"
#include "settings/settings.h"

const char kSaveFailedText[] = "保存设置失败!";

namespace {

const char kSavedText[] = "保存设置完成";
const char kNoticeCaption[] = "提示";

// Only 1 and 0 change a box; anything else leaves it as the template made it.
void ApplyCheckBox(HWND window, int checkBox, int value) {
    if (value == 0 || value == 1)
        CheckDlgButton(window, checkBox, value == 1 ? BST_CHECKED : BST_UNCHECKED);
}

bool IsTicked(HWND window, int checkBox) {
    return IsDlgButtonChecked(window, checkBox) == BST_CHECKED;
}

// A log-on start left for a program that the guard refuses now is removed; when none is left, the box says so.
void ShowLogonStartAsSaved(HWND window) {
    if (ReadSettings().autoRun == 0)
        CheckDlgButton(window, IDC_AUTORUN, BST_UNCHECKED);
}

DWORD WINAPI DropRefusedLogonStartTask(LPVOID window) {
    DropRefusedLogonStart();
    ShowLogonStartAsSaved(static_cast<HWND>(window));
    return 0;
}

} // namespace

bool ApplySettings(HWND window) {
    const SavedChoices choices = ReadSettings();
    ApplyCheckBox(window, IDC_AUTORUN, choices.autoRun);
    ApplyCheckBox(window, IDC_AUTOSYNC, choices.autoSetTime);
    ApplyCheckBox(window, IDC_MINIMIZED, choices.minimized);
    if (choices.autoSetTime == 1)
        StartAutoSync();
    ScheduleResync(choices.autoSetTime == 1, choices.resyncHours);
    if (choices.autoRun == 1)
        StartTask(DropRefusedLogonStartTask, window);
    return choices.minimized == 1;
}

bool SaveBoxes(HWND window) {
    const bool saved =
        WriteSettings(IsTicked(window, IDC_AUTORUN), IsTicked(window, IDC_AUTOSYNC), IsTicked(window, IDC_MINIMIZED));
    if (!saved)
        ShowLogonStartAsSaved(window);
    return saved;
}

void SaveSettings(HWND window) {
    const bool saved = SaveBoxes(window);
    // The sets while the program runs follow what the file now says.
    const SavedChoices choices = ReadSettings();
    ScheduleResync(choices.autoSetTime == 1, choices.resyncHours);
    ShowMessage(window, saved ? kSavedText : kSaveFailedText, kNoticeCaption, MB_OK);
}
