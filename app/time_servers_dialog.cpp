// The time servers dialog: the user names the three servers, and they are kept in the settings file.
#include "app/time_servers_dialog.h"

#include "app/clock_tasks.h"
#include "app/settings_boxes.h"
#include "platform/format_text.h"
#include "platform/interface_text.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "time/time_servers.h"

namespace {

const char kCaption[] = "时间服务器";
const char kNotAHostNameText[] = "服务器%d的名称不对：只能由字母、数字、连字符(-)和点(.)组成，"
                                 "点隔开的每一段1至63个字符，全长不超过253个字符；也可以写IP地址。";
const char kRefusedText[] = "他人能改设置文件，未用其中的服务器。";
// A full-length name, or a web server's http:// and its name, as far as the settings hold.
const WPARAM kMaxNameLength = kHostNameSize - 1;
const wchar_t kIdeographicSpace = 0x3000;
static_assert(kTimeServerSettings == kTimeServerCount, "one key in the settings file for each server");

int ServerBox(int server) {
    return IDC_SERVER1 + server - 1;
}

void ShowNames(HWND window, bool builtIn) {
    TimeServerNames names = ConfiguredServers();
    for (int server = 1; server <= kTimeServerCount; ++server) {
        if (builtIn)
            AssembleTimeServerName(server, names.host[server - 1]);
        SetDlgItemTextA(window, ServerBox(server), names.host[server - 1]);
    }
}

void OnInitDialog(HWND window) {
    for (int server = 1; server <= kTimeServerCount; ++server)
        SendDlgItemMessageW(window, ServerBox(server), EM_LIMITTEXT, kMaxNameLength, 0);
    ShowNames(window, false);
    if (TimeServerSettingsRefused())
        ShowMessage(window, kRefusedText, kCaption, MB_OK | MB_ICONWARNING);
}

// The box's text as ASCII: an ideographic space, as a Chinese input method types it, is a blank; anything else that
// is not ASCII becomes a character that no host name holds.
void ReadBox(HWND window, int server, char *typed) {
    wchar_t text[kHostNameSize] = {};
    GetDlgItemTextW(window, ServerBox(server), text, kHostNameSize);
    size_t length = 0;
    for (; text[length] != L'\0'; ++length)
        typed[length] = text[length] == kIdeographicSpace ? ' '
                        : text[length] < 0x80             ? static_cast<char>(text[length])
                                                          : '?';
    typed[length] = '\0';
}

void WarnNotAHostName(HWND window, int server) {
    char text[kInterfaceTextSize];
    FormatText(text, sizeof text, kNotAHostNameText, server);
    ShowMessage(window, text, kCaption, MB_OK | MB_ICONWARNING);
    const HWND box = GetDlgItem(window, ServerBox(server));
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
    SendMessageW(box, EM_SETSEL, 0, -1);
}

// Checks every box before anything is written, so that one bad name saves nothing; a write that fails saves nothing
// either, and the dialog stays open.
void OnSave(HWND window) {
    char names[kTimeServerCount][kHostNameSize];
    const char *kept[kTimeServerSettings];
    for (int server = 1; server <= kTimeServerCount; ++server) {
        char typed[kHostNameSize];
        ReadBox(window, server, typed);
        const TypedServerName kind = ReadTypedServerName(server, typed, names[server - 1]);
        if (kind == TypedServerName::kNotAHostName) {
            WarnNotAHostName(window, server);
            return;
        }
        kept[server - 1] = kind == TypedServerName::kOwn ? names[server - 1] : nullptr;
    }
    if (WriteTimeServerSettings(kept))
        EndDialog(window, IDOK);
    else
        ShowMessage(window, kSaveFailedText, kCaption, MB_OK | MB_ICONWARNING);
}

void OnCommand(HWND window, WORD command) {
    switch (command) {
    case IDOK:
        OnSave(window);
        break;
    case IDCANCEL:
        EndDialog(window, IDCANCEL);
        break;
    case IDC_DEFAULTSERVERS:
        ShowNames(window, true);
        break;
    default:
        break;
    }
}

} // namespace

void ShowTimeServersDialog(HWND owner) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TIMESERVERS), owner, TimeServersDialogProc, 0);
}

INT_PTR CALLBACK TimeServersDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return TRUE; // the focus goes to server 1's box
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        break;
    default:
        break;
    }
    return 0;
}
