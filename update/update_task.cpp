// The update flow that runs at every start: probe, download, check, offer, launch. Every failure is silent.
#include "update/update_task.h"

#include "app/app_shell.h"
#include "update/update_checker.h"
#include "vendor.h"

namespace {

const char kFolder[] = "/soft/Chronvik/";
const char kVersionPage[] = "Chronvik.asp?id=711";
const char kProgramFile[] = "Chronvik.exe";
const char kOfferText[] = "软件有更新版本，您要更新吗！";
const char kOfferCaption[] = "更新提示";

bool UserAcceptsUpdate() {
    return MessageBoxA(g_mainWindow, kOfferText, kOfferCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace

DWORD WINAPI UpdateTask(LPVOID) {
    // One record per run, on this thread's stack: it lives exactly as long as the flow.
    UpdateChecker checker;
    checker.SetSource(TEMPVARO_VENDOR_HOST, kFolder, kVersionPage, kProgramFile);
    checker.ProbeVersion();
    // Offered only once the whole file is here and carries our own publisher's signature.
    if (checker.CompareVersion(CURRENT_VERSION) == kVersionDifferent && checker.DownloadUpdate() == 1 &&
        checker.VerifyDownload() && UserAcceptsUpdate())
        checker.LaunchUpdate();
    return 0;
}
