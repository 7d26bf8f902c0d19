// A Time Protocol server on a loopback address for the Windows tests, with the ways a real one can misbehave.
#include "fake_time_server.h"

#include <string.h>

#include "time/address_memory.h"
#include "time/sntp.h"

namespace {

const uint64_t kIntervalsFrom1601To1900 = 94354848000000000ull;

uint64_t FileTimeNow(int64_t offsetMs) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now); // as a real server reads its clock, not to the tick
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) + offsetMs * 10000;
}

void PutStamp(char *at, uint64_t fileTime) {
    const uint64_t stamp = FileTimeToNtpTimestamp(fileTime);
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<char>(stamp >> (56 - 8 * i));
}

const bool g_farApart = (g_addressClock = FarApartClock, true);

} // namespace

DWORD WINAPI FarApartClock() {
    static volatile LONG ticks;
    return static_cast<DWORD>(InterlockedExchangeAdd(&ticks, 600000));
}

uint32_t SecondsSince1900Now(unsigned *millisecondsIntoSecond) {
    const uint64_t since1900 = FileTimeNow(0) - kIntervalsFrom1601To1900;
    if (millisecondsIntoSecond)
        *millisecondsIntoSecond = static_cast<unsigned>(since1900 / 10000 % 1000);
    return static_cast<uint32_t>(since1900 / 10000000ull);
}

uint32_t FakeTimeServer::CurrentValue() const {
    if (fixedValue_)
        return value_;
    unsigned ms = 0;
    SecondsSince1900Now(&ms);
    // The middle of a second, where the receiver centres a whole-second answer: a set then moves the clock by
    // little more than the trip, which this platform allows.
    Sleep((1500 - ms) % 1000);
    return static_cast<uint32_t>(SecondsSince1900Now() + offset_);
}

void FakeTimeServer::Serve(SOCKET client) {
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
        StayQuiet();
        break;
    }
}

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
        Stop();
        return false;
    }
    thread_ = CreateThread(nullptr, 0, ServeLoop, this, 0, nullptr);
    return true;
}

void FakeSntpServer::Stop() {
    stopping_ = true;
    if (thread_ != nullptr)
        WaitForSingleObject(thread_, INFINITE);
    if (socket_ != INVALID_SOCKET) {
        CloseHandle(thread_);
        closesocket(socket_);
        WSACleanup();
    }
    thread_ = nullptr;
    socket_ = INVALID_SOCKET;
}

DWORD WINAPI FakeSntpServer::ServeLoop(LPVOID self) {
    FakeSntpServer &server = *static_cast<FakeSntpServer *>(self);
    while (!server.stopping_) {
        char packet[48];
        sockaddr_in client = {};
        int size = sizeof client;
        if (recvfrom(server.socket_, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&client), &size) != 48 ||
            server.behaviour_ == SntpBehaviour::Silent)
            continue;
        LARGE_INTEGER counter, frequency;
        QueryPerformanceCounter(&counter);
        QueryPerformanceFrequency(&frequency);
        server.requestedAt_[(InterlockedIncrement(&server.requests_) - 1) & 7] =
            static_cast<ULONGLONG>(counter.QuadPart) * 1000 / static_cast<ULONGLONG>(frequency.QuadPart);
        // Version 4, a server at stratum 1, the request's time stamp echoed, received now and sent after the delay.
        memcpy(packet + 24, packet + 40, 8);
        packet[0] = 0x24;
        packet[1] = server.behaviour_ == SntpBehaviour::Rate ? 0 : 1;
        memcpy(packet + 12, server.behaviour_ == SntpBehaviour::Rate ? "RATE" : "\0\0\0", 4);
        PutStamp(packet + 32, FileTimeNow(server.offsetMs_));
        packet[31] ^= server.behaviour_ == SntpBehaviour::Chatter ? 1 : 0;
        Sleep(server.delayMs_);
        do {
            PutStamp(packet + 40, FileTimeNow(server.offsetMs_));
            sendto(server.socket_, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&client), sizeof client);
        } while (server.behaviour_ == SntpBehaviour::Chatter && !server.stopping_ && (Sleep(20), true));
    }
    return 0;
}
