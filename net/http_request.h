// The HTTP/1.1 GET request that the update flow and the web time send.
#pragma once

#include <stddef.h>

// Builds a GET request for folder + page on host; false when it does not fit the buffer.
bool FormatHttpRequest(const char *folder, const char *page, const char *host, char *request, size_t size);
// Builds a HEAD request for / on host: the header alone, on a connection kept open; false when it does not fit.
bool FormatHttpHeadRequest(const char *host, char *request, size_t size);
