// An SNTP server on a loopback address for the Windows tests.
#include "fake_sntp_server.h"

#include <string.h>

namespace {

const uint64_t kIntervalsFrom1601To1900 = 94354848000000000ull;

void PutStamp(char *at, uint64_t fileTime) {
    const uint64_t since1900 = fileTime - kIntervalsFrom1601To1900;
    const uint64_t stamp = since1900 / 10000000ull << 32 | (since1900 % 10000000ull << 32) / 10000000ull;
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<char>(stamp >> (56 - 8 * i));
}

} // namespace

bool FakeSntpServer::Start(unsigned short port, SntpBehaviour behaviour, int64_t offsetMs, DWORD delayMs) {
    behaviour_ = behaviour;
    stopping_ = false;
    offsetMs_ = offsetMs;
    delayMs_ = delayMs;
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DWORD poll = 50;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&poll), sizeof poll);
    if (bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
        WSACleanup();
        return false;
    }
    thread_ = CreateThread(nullptr, 0, ServeLoop, this, 0, nullptr);
    return true;
}

void FakeSntpServer::Stop() {
    if (thread_ == nullptr)
        return;
    stopping_ = true;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    closesocket(socket_);
    thread_ = nullptr;
    WSACleanup();
}

uint64_t FakeSntpServer::ServerTime() const {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) + offsetMs_ * 10000;
}

void FakeSntpServer::Answer(const char *request, const sockaddr_in &client, bool echo, uint64_t receivedAt) {
    char answer[48] = {};
    answer[0] = 0x24; // version 4, server
    answer[1] = 1;
    memcpy(answer + 24, request + 40, 8);
    answer[31] ^= echo ? 0 : 1;
    PutStamp(answer + 32, receivedAt);
    PutStamp(answer + 40, ServerTime());
    sendto(socket_, answer, sizeof answer, 0, reinterpret_cast<const sockaddr *>(&client), sizeof client);
}

DWORD WINAPI FakeSntpServer::ServeLoop(LPVOID self) {
    FakeSntpServer &server = *static_cast<FakeSntpServer *>(self);
    while (!server.stopping_) {
        char request[48];
        sockaddr_in client = {};
        int size = sizeof client;
        if (recvfrom(server.socket_, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&client), &size) != 48)
            continue;
        InterlockedIncrement(&server.requests_);
        const uint64_t receivedAt = server.ServerTime();
        if (server.behaviour_ == SntpBehaviour::Answer) {
            Sleep(server.delayMs_);
            server.Answer(request, client, true, receivedAt);
        }
        while (server.behaviour_ == SntpBehaviour::Chatter && !server.stopping_) {
            server.Answer(request, client, false, receivedAt);
            Sleep(20);
        }
    }
    return 0;
}
