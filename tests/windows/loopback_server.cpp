// A TCP server on a loopback address for the Windows tests: one connection at a time, served by a subclass.
#include "loopback_server.h"

bool LoopbackServer::Listen(const char *address, unsigned short port) {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = inet_addr(address);
    if (bind(listener_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 || listen(listener_, 8) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        WSACleanup();
        return false;
    }
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, AcceptLoop, this, 0, nullptr);
    return true;
}

void LoopbackServer::Stop() {
    if (thread_ == nullptr)
        return;
    SetEvent(stop_);
    closesocket(listener_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
    thread_ = nullptr;
    listener_ = INVALID_SOCKET;
    WSACleanup();
}

DWORD WINAPI LoopbackServer::AcceptLoop(LPVOID self) {
    LoopbackServer &server = *static_cast<LoopbackServer *>(self);
    for (;;) {
        const SOCKET client = accept(server.listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 0;
        InterlockedIncrement(&server.connections_);
        server.Serve(client);
        closesocket(client);
    }
}
