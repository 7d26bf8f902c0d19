// Asks web servers for their Date header, timing the requests across the server's second boundary.
#include "time/web_fetch.h"

#include <string.h>

#include "net/host_lookup.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "time/time_servers.h"

namespace {

const unsigned short kHttpPort = 80;
const DWORD kMillisecond = static_cast<DWORD>(kIntervalsPerMillisecond);

} // namespace

bool WebTimeWalk::AskNext(DWORD now) {
    while (++server_ < count_) {
        search_ = SecondSearch();
        requests_ = 0;
        nextAddress_ = 0;
        deadline_ = now + kWebHostMs;
        if (Connect())
            return true;
    }
    socket_.Close();
    return false;
}

bool WebTimeWalk::Connect() {
    connected_ = sent_ = false;
    const HostAddresses &server = servers_[server_];
    while (nextAddress_ < server.count) {
        SocketAddress address = server.address[nextAddress_++];
        SetPort(address, kHttpPort);
        if (StartConnecting(socket_, address))
            return true;
    }
    socket_.Close();
    return false;
}

void WebTimeWalk::Schedule() {
    const int64_t counter = clock_.Counter();
    const uint64_t now = clock_.MachineTimeAt(counter);
    // Never more than a second and a round trip ahead: the difference fits 32 bits.
    sendAt_ = clock_.MillisecondsAt(counter) +
              (static_cast<DWORD>(search_.NextSendAt(now) - now) + kMillisecond - 1) / kMillisecond;
}

int WebTimeWalk::Advance(SocketWait &wait, int64_t wokeAt, DWORD now) {
    const SOCKET socket = socket_.Get();
    const bool ready = FD_ISSET(socket, &wait.failed) || FD_ISSET(socket, connected_ ? &wait.readable : &wait.writable);
    if (ready && !connected_) {
        // A connection that failed makes way for the next address.
        if (!ConnectionOpened(socket))
            return Connect() ? 0 : -1;
        connected_ = true;
        Schedule();
    } else if (ready) {
        // A server that sends unasked, or closes, ends the search with what it has.
        if (!sent_)
            return Finish();
        // The Date was written before the answer's first byte left.
        if (length_ == 0)
            arrivedAt_ = wokeAt;
        int count = 1;
        while (!IsCompleteHeader(header_, length_) && length_ < kWebHeaderSize &&
               (count = recv(socket, header_ + length_, 1, 0)) == 1)
            ++length_;
        if (IsCompleteHeader(header_, length_)) {
            sent_ = false;
            const int kind = ParseStatusCode(header_, length_) / 100;
            uint64_t second;
            if ((kind != 2 && kind != 3) || !ReadHttpDate(header_, length_, &second) ||
                !search_.Take(clock_.MachineTimeAt(sentAt_), clock_.MachineTimeAt(arrivedAt_), second))
                return -1;
            Schedule();
            if (search_.Done() || requests_ == kWebRequestLimit || sendAt_ >= deadline_)
                return 1;
        } else if (count >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            // Closed, failed, or a header too long to be an answer.
            return Finish();
        }
    }
    if (connected_ && !sent_ && clock_.MillisecondsNow() >= sendAt_) {
        char request[kHostNameSize + 160];
        FormatHttpHeadRequest(names_[server_], request, sizeof request);
        const int size = static_cast<int>(strlen(request));
        length_ = 0;
        sentAt_ = clock_.Counter();
        if (send(socket, request, size, 0) != size)
            return Finish();
        sent_ = true;
        ++requests_;
    }
    return now >= deadline_ ? Finish() : 0;
}

void TakeWebHosts(const char **hosts, const char **webHosts, int count) {
    for (int i = 0; i < count; ++i) {
        webHosts[i] = WebHostName(hosts[i]);
        hosts[i] = webHosts[i] != nullptr ? webHosts[i] : hosts[i];
    }
}

void TakeWebAddresses(const char *const *webHosts, HostAddresses *servers, HostAddresses *web, int count) {
    for (int i = 0; i < count; ++i) {
        web[i].count = 0;
        if (webHosts[i] != nullptr) {
            web[i] = servers[i];
            servers[i].count = 0;
        }
    }
}

int AskWebTimeHosts(MeasureClock *clock, TimeAnswer *answer) {
    char names[kWebTimeHostCount][kHostNameSize];
    const char *hosts[kWebTimeHostCount];
    for (int host = 0; host < kWebTimeHostCount; ++host) {
        AssembleWebTimeHostName(host + 1, names[host]);
        hosts[host] = names[host];
    }
    HostAddresses servers[kWebTimeHostCount];
    ResolveHosts(hosts, kWebTimeHostCount, kLookupBoundMs, servers);
    clock->Start();
    // Web servers alone, through the same wait as every other answer.
    const HostAddresses none[kWebTimeHostCount] = {};
    return FetchClockOffset(none, kWebTimeHostCount, 0, *clock, answer, servers, hosts);
}
