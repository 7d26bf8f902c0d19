// The record the update flow works on: where the vendor's server is, and what it said about the current build.
#pragma once

#include <stdint.h>

#include "version.h"

class HeldFile;

// The running build, as the About box's version says.
const int CURRENT_VERSION = TEMPVARO_BUILD_NUMBER;

enum VersionResult { kVersionUnknown = 0, kVersionCurrent = 1, kVersionNewer = 2 };

class UpdateChecker {
public:
    static const int kTextSize = 256;
    static const int kVersionPageSize = 4;

    UpdateChecker();
    void SetSource(const char *hostName, const char *folderPath, const char *pageName, const char *programFile);
    // Reads the version page's four bytes (fewer when it was shorter): "zq" and the build number.
    void ApplyVersionPage(const char *body, int length);
    // kVersionUnknown without a marker or a number, kVersionNewer for a number above `current`, else kVersionCurrent:
    // a lower build is never offered, since a rollback through the update channel is a downgrade attack.
    int CompareVersion(int current) const;

    // Network and file work; Windows only.
    void ProbeVersion();
    // Downloads the build beside the program. Returns 1 when the whole announced length was written; `download`
    // then holds the file open for reading, with read sharing only, so that nobody can write, rename or delete it.
    // On any failure, what was written is deleted.
    int DownloadUpdate(HeldFile &download);
    // True when the held file carries a valid signature from the running program's own publisher and a version record
    // of this program (OriginalFilename Tempvaro.exe) of the announced build; another file is closed and deleted.
    bool VerifyDownload(HeldFile &download);
    // Opens the held file through the shell when its size is the announced one, then lets it go.
    void LaunchUpdate(HeldFile &download);

    int32_t markerSeen;
    int32_t latestVersion;
    int32_t expectedSize;
    char host[kTextSize];
    char folder[kTextSize];
    char page[kTextSize];
    char fileName[kTextSize];
};
