// The scheduled task that starts the program at log-on, written as Task Scheduler XML.
#pragma once

#include <stddef.h>

// Room for the task's XML, in characters: the fixed text plus a full program path and a user's SID, each written
// twice and escaped.
const size_t kLogonTaskXmlSize = 8192;

// Writes the task that starts `programPath` (in its own folder) with the highest privileges when the user whose SID is
// `userId` logs on. Returns false when it does not fit `size` characters.
bool FormatLogonTaskXml(const wchar_t *programPath, const wchar_t *userId, wchar_t *xml, size_t size);
