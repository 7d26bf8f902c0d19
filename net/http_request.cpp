// The HTTP/1.1 GET request that the update flow and the web time send.
#include "net/http_request.h"

#include "platform/format_text.h"

namespace {

// The header lines have no blank after their colons; the server sees an old browser.
const char kRequestTemplate[] = "%s %s%s HTTP/1.1\r\nHost:%s\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; MSIE "
                                "5.00; Windows 98)\r\nConnection:Keep-Alive\r\n\r\n";

} // namespace

bool FormatHttpRequest(const char *folder, const char *page, const char *host, char *request, size_t size) {
    const int written = FormatText(request, size, kRequestTemplate, "GET", folder, page, host);
    return written >= 0 && static_cast<size_t>(written) < size;
}

bool FormatHttpHeadRequest(const char *host, char *request, size_t size) {
    const int written = FormatText(request, size, kRequestTemplate, "HEAD", "/", "", host);
    return written >= 0 && static_cast<size_t>(written) < size;
}
