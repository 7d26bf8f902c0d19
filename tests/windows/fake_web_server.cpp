// The vendor's web server for the Windows tests: a scripted version page and download, and ways to misbehave.
#include "fake_web_server.h"

std::string HttpResponse(const char *status, const std::string &headers, const std::string &body) {
    return std::string("HTTP/1.1 ") + status + "\r\nServer: fake\r\n" + headers + "\r\n" + body;
}

void FakeWebServer::Serve(SOCKET client) {
    std::string request;
    char byte;
    while (request.find("\r\n\r\n") == std::string::npos && recv(client, &byte, 1, 0) == 1)
        request += byte;
    requests.push_back(request);

    const WebResponse &response = request.find("Chronvik.exe") != std::string::npos ? download_ : versionPage_;
    const size_t length = response.bytes.size() < response.stallAfter ? response.bytes.size() : response.stallAfter;
    for (size_t sent = 0; sent < length;) {
        const int chunk = static_cast<int>(length - sent < 65536 ? length - sent : 65536);
        const int count = send(client, response.bytes.data() + sent, chunk, 0);
        if (count <= 0)
            return;
        sent += static_cast<size_t>(count);
    }
    if (length < response.bytes.size())
        StayQuiet();
}
