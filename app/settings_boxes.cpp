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

// The log-on box keeps in its user data the log-on start it last showed as known (from the file at start, from the
// Task Scheduler once read, from a save), whether a save has decided it since the start, so that the start's reading,
// which may come after a save, does not undo it, and whether that reading is still to come. Only the window's thread
// reads or writes it.
const LONG_PTR kShownRegistered = 1;
const LONG_PTR kDecidedBySave = 2;
const LONG_PTR kReadingAwaited = 4;
// Far longer than the Task Scheduler takes to answer; a save gives up waiting for a reading that never ends.
const DWORD kReadingWaitMs = 30000;

// The start's reading: set once it has ended, with what it found (a kLogonStartReadMessage wParam).
const HANDLE g_readingDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
volatile LONG g_readingFound;

LONG_PTR LogonStartShown(HWND window) {
    return GetWindowLongPtrW(GetDlgItem(window, IDC_AUTORUN), GWLP_USERDATA);
}

void RememberLogonStart(HWND window, bool registered, LONG_PTR decided) {
    SetWindowLongPtrW(GetDlgItem(window, IDC_AUTORUN), GWLP_USERDATA, (registered ? kShownRegistered : 0) | decided);
}

void ShowLogonStart(HWND window, bool registered, LONG_PTR decided) {
    CheckDlgButton(window, IDC_AUTORUN, registered ? BST_CHECKED : BST_UNCHECKED);
    RememberLogonStart(window, registered, decided);
}

void EndReading(HWND window, LONG found) {
    InterlockedExchange(&g_readingFound, found);
    SetEvent(g_readingDone);
    PostMessageW(window, kLogonStartReadMessage, static_cast<WPARAM>(found), 0);
}

DWORD WINAPI ReadLogonStartTask(LPVOID window) {
    bool registered = false;
    const bool read = ReadLogonStart(registered);
    EndReading(static_cast<HWND>(window), static_cast<LONG>(read ? registered : kLogonStartUnknown));
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
    // The file is the machine's, the log-on start each user's own: until the Task Scheduler says, and where it
    // cannot, the box shows what the last save wrote.
    RememberLogonStart(window, choices.autoRun == 1, kReadingAwaited);
    ResetEvent(g_readingDone);
    if (!StartTask(ReadLogonStartTask, window))
        EndReading(window, static_cast<LONG>(kLogonStartUnknown));
    return choices.minimized == 1;
}

void ShowLogonStartRead(HWND window, WPARAM read) {
    const LONG_PTR shown = LogonStartShown(window);
    const bool registered = read == 1;
    if ((shown & kDecidedBySave) != 0)
        return;
    if (read == kLogonStartUnknown)
        RememberLogonStart(window, shown & kShownRegistered, 0);
    else if (IsTicked(window, IDC_AUTORUN) == ((shown & kShownRegistered) != 0))
        ShowLogonStart(window, registered, 0);
    else
        RememberLogonStart(window, registered, 0);
}

bool SaveBoxes(HWND window) {
    const bool wanted = IsTicked(window, IDC_AUTORUN);
    const LONG_PTR shown = LogonStartShown(window);
    bool registered = shown & kShownRegistered;
    bool changed = true;
    // A save that leaves the box as it was shown leaves every task alone: another administrator's start may have
    // shown it from the file. Shown from the file before the start's reading came, the box shows what the reading
    // finds.
    if (wanted != registered)
        changed = ChangeLogonStart(wanted, registered);
    else if ((shown & kReadingAwaited) != 0 && WaitForSingleObject(g_readingDone, kReadingWaitMs) == WAIT_OBJECT_0 &&
             g_readingFound != kLogonStartUnknown)
        registered = g_readingFound == 1;
    ShowLogonStart(window, registered, kDecidedBySave);
    return WriteSettings(registered, IsTicked(window, IDC_AUTOSYNC), IsTicked(window, IDC_MINIMIZED)) && changed;
}

void SaveSettings(HWND window) {
    const bool saved = SaveBoxes(window);
    // The sets while the program runs follow what the file now says.
    const SavedChoices choices = ReadSettings();
    ScheduleResync(choices.autoSetTime == 1, choices.resyncHours);
    ShowMessage(window, saved ? kSavedText : kSaveFailedText, kNoticeCaption, MB_OK);
}
