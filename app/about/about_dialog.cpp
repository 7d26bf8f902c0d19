// The About box and the vendor's web pages, always opened in Internet Explorer by its program name.
#include "app/about/about_dialog.h"

#include <shellapi.h>

#include "res/resource.h"
#include "app/start_task.h"
#include "platform/com_guards.h"
#include "vendor.h"

namespace {

const char kBrowser[] = "iexplore";
const char kGuestbook[] = TEMPVARO_HOMEPAGE "/liuyanban/liuyanban.asp?id=13278";

void OpenInBrowser(const char *address) {
    // The shell may hand the start to COM objects, which need the thread to have started COM.
    const ComApartment com;
    ShellExecuteA(nullptr, "open", kBrowser, address, nullptr, SW_SHOWNORMAL);
}

void OnCommand(HWND window, WORD command) {
    switch (command) {
    case IDCANCEL:
        EndDialog(window, IDCANCEL);
        break;
    case IDC_HOMEPAGE:
        StartTask(HomepageTask, nullptr);
        break;
    default:
        break;
    }
}

} // namespace

void ShowAboutDialog(HWND owner) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0);
}

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        break;
    default:
        break;
    }
    return 0;
}

DWORD WINAPI HomepageTask(LPVOID) {
    OpenInBrowser(TEMPVARO_HOMEPAGE);
    return 0;
}

void OpenGuestbook() {
    OpenInBrowser(kGuestbook);
}
