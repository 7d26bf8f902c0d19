// The scheduled task that starts the program at log-on, written as Task Scheduler XML, and its security descriptor.
#pragma once

#include <stddef.h>

// Room for the task's XML, in characters: the fixed text plus a full program path and a user's SID, each written
// twice and escaped.
const size_t kLogonTaskXmlSize = 8192;

// Writes the task that starts `programPath` (in its own folder) with the highest privileges when the user whose SID is
// `userId` logs on. Returns false when it does not fit `size` characters.
bool FormatLogonTaskXml(const wchar_t *programPath, const wchar_t *userId, wchar_t *xml, size_t size);

// Room for the task's security descriptor as SDDL: its fixed text and a user's SID, which has at most 184 characters.
const size_t kLogonTaskSddlSize = 256;

// Writes the task's security descriptor for the user whose SID is `userId`: owned by Administrators, changed only by
// SYSTEM and Administrators, read by the user. Returns false when it does not fit `size` characters.
bool FormatLogonTaskSddl(const wchar_t *userId, wchar_t *sddl, size_t size);
