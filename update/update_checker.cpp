// The record the update flow works on: where the vendor's server is, and what it said about the current build.
#include "update/update_checker.h"

#include <string.h>

#include "platform/format_text.h"
#include "net/http_response.h"

namespace {

const char kMarker[] = "zq";

void CopyText(char (&target)[UpdateChecker::kTextSize], const char *source) {
    FormatText(target, sizeof target, "%s", source);
}

} // namespace

UpdateChecker::UpdateChecker()
    : markerSeen(0), latestVersion(0), expectedSize(0), host(), folder(), page(), fileName() {}

void UpdateChecker::SetSource(const char *hostName, const char *folderPath, const char *pageName,
                              const char *programFile) {
    CopyText(host, hostName);
    CopyText(folder, folderPath);
    CopyText(page, pageName);
    CopyText(fileName, programFile);
}

void UpdateChecker::ApplyVersionPage(const char *body, int length) {
    // Each pair of bytes is read as text, so a zero byte or a short page ends it early.
    char cell[kVersionPageSize] = {};
    memcpy(cell, body, static_cast<size_t>(length < 0 ? 0 : (length < kVersionPageSize ? length : kVersionPageSize)));
    const char number[3] = {cell[2], cell[3], 0};
    if (cell[0] == kMarker[0] && cell[1] == kMarker[1])
        markerSeen = 1;
    latestVersion = static_cast<int32_t>(ReadDecimal(number));
}

int UpdateChecker::CompareVersion(int current) const {
    if (markerSeen == 0 || latestVersion == 0)
        return kVersionUnknown;
    return latestVersion > current ? kVersionNewer : kVersionCurrent;
}
