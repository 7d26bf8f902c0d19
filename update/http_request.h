// The one HTTP request the update flow sends, for the version page and for the download alike.
#pragma once

#include <stddef.h>

// Builds a GET request for folder + page on host; false when it does not fit the buffer.
bool FormatHttpRequest(const char *folder, const char *page, const char *host, char *request, size_t size);
