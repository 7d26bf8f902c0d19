// The update flow that runs at every start: probe, download, check, offer, launch. Every failure is silent.
#include "update/update_task.h"

#include "platform/com_guards.h"
#include "platform/interface_text.h"
#include "update/held_file.h"
#include "update/update_checker.h"
#include "vendor.h"

namespace {

const char kFolder[] = "/soft/Chronvik/";
const char kVersionPage[] = "Chronvik.asp?id=711";
const char kProgramFile[] = "Chronvik.exe";
const char kOfferText[] = "软件有更新版本，您要更新吗！";
const char kOfferCaption[] = "更新提示";

bool UserAcceptsUpdate(HWND owner) {
    return ShowMessage(owner, kOfferText, kOfferCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace

DWORD WINAPI UpdateTask(LPVOID ownerWindow) {
    // The shell's functions that start the new build may use COM, which they expect the thread to have started.
    const ComApartment com;
    // One record per run, on this thread's stack: it lives exactly as long as the flow.
    UpdateChecker checker;
    checker.SetSource(TEMPVARO_VENDOR_HOST, kFolder, kVersionPage, kProgramFile);
    checker.ProbeVersion();
    // Offered only once the whole file is here and carries our own publisher's signature; from the download to the
    // launch (or the answer No) the file stays held, so the build checked is the build started.
    HeldFile download;
    if (checker.CompareVersion(CURRENT_VERSION) == kVersionNewer && checker.DownloadUpdate(download) == 1 &&
        checker.VerifyDownload(download) && UserAcceptsUpdate(static_cast<HWND>(ownerWindow)))
        checker.LaunchUpdate(download);
    return 0;
}
