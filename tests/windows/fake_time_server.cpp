// A Time Protocol server on a loopback address for the Windows tests, with the ways a real one can misbehave.
#include "fake_time_server.h"

#include <windows.h>

namespace {

const uint64_t kIntervalsFrom1601To1900 = 94354848000000000ull;

} // namespace

uint32_t SecondsSince1900Now(unsigned *millisecondsIntoSecond) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t intervals = (static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    const uint64_t since1900 = intervals - kIntervalsFrom1601To1900;
    if (millisecondsIntoSecond)
        *millisecondsIntoSecond = static_cast<unsigned>(since1900 / 10000 % 1000);
    return static_cast<uint32_t>(since1900 / 10000000ull);
}

bool FakeTimeServer::Start(const char *address, ServerBehaviour behaviour) {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    behaviour_ = behaviour;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(37);
    local.sin_addr.s_addr = inet_addr(address);
    if (bind(listener_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 || listen(listener_, 8) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return false;
    }
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
    return true;
}

void FakeTimeServer::Stop() {
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

uint32_t FakeTimeServer::CurrentValue() const {
    if (fixedValue_)
        return value_;
    unsigned ms = 0;
    SecondsSince1900Now(&ms);
    if (ms > 250)
        Sleep(1050 - ms); // start of the next second, so that the receiver reads the same second
    return static_cast<uint32_t>(SecondsSince1900Now() + offset_);
}

void FakeTimeServer::Answer(SOCKET client) {
    const uint32_t wire = htonl(CurrentValue());
    const char *bytes = reinterpret_cast<const char *>(&wire);
    switch (behaviour_) {
    case ServerBehaviour::Answer:
        send(client, bytes, 4, 0);
        break;
    case ServerBehaviour::SplitAnswer:
        for (int i = 0; i < 4; ++i) {
            send(client, bytes + i, 1, 0);
            Sleep(150);
        }
        break;
    case ServerBehaviour::ShortAnswer:
        send(client, bytes, 2, 0);
        break;
    case ServerBehaviour::Close:
        break;
    case ServerBehaviour::Silent:
        WaitForSingleObject(stop_, INFINITE);
        break;
    }
    closesocket(client);
}

DWORD WINAPI FakeTimeServer::Serve(LPVOID self) {
    FakeTimeServer &server = *static_cast<FakeTimeServer *>(self);
    for (;;) {
        const SOCKET client = accept(server.listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 0;
        InterlockedIncrement(&server.connections_);
        server.Answer(client);
    }
}
