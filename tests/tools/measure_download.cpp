// Times one update download from the vendor host (a fake server in the test namespace) and prints milliseconds.
#include <windows.h>
#include <stdio.h>

#include "update/held_file.h"
#include "update/update_checker.h"
#include "vendor.h"

int main() {
    UpdateChecker checker;
    checker.SetSource(TEMPVARO_VENDOR_HOST, "/soft/Chronvik/", "Chronvik.asp?id=711", "Chronvik.exe");
    checker.markerSeen = 1;
    checker.latestVersion = 32;
    const ULONGLONG start = GetTickCount64();
    HeldFile download;
    const int result = checker.DownloadUpdate(download);
    const ULONGLONG elapsed = GetTickCount64() - start;
    printf("result %d bytes %ld ms %llu\n", result, static_cast<long>(checker.expectedSize), elapsed);
    return result == 1 ? 0 : 1;
}
