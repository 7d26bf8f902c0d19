// The vendor's web server for the Windows tests: a scripted version page and download, and ways to misbehave.
#pragma once

#include <string>
#include <vector>

#include "loopback_server.h"

struct WebResponse {
    std::string bytes;
    // Send only this many bytes, then hold the connection open saying nothing.
    size_t stallAfter = std::string::npos;
};

// A whole response with the given status line, extra header lines and body.
std::string HttpResponse(const char *status, const std::string &headers, const std::string &body);

class FakeWebServer : public LoopbackServer {
public:
    ~FakeWebServer() override { Stop(); }
    // The vendor host's address inside the test namespace.
    bool Start() { return Listen("127.0.0.20", 80); }
    void SetVersionPage(const WebResponse &response) { versionPage_ = response; }
    void SetDownload(const WebResponse &response) { download_ = response; }
    // The requests received so far, each recorded before it is answered.
    std::vector<std::string> requests;

protected:
    void Serve(SOCKET client) override;

private:
    WebResponse versionPage_;
    WebResponse download_;
};
