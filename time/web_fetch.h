// Asks web servers for their Date header on a kept-alive HTTP/1.1 connection, timing the requests across the server's
// second boundary: beside the time servers for a slot that names one, and the built-in web hosts when they all fail.
#pragma once

#include <winsock2.h>
#include <stdint.h>

#include "net/socket_support.h"
#include "time/address_memory.h"
#include "time/sample_choice.h"
#include "time/time_fetch.h"
#include "time/web_time.h"

// At most this long per web host, connecting and every request together.
const DWORD kWebHostMs = 3000;
// At most this many requests to one web host per operation.
const int kWebRequestLimit = 16;
// A response header longer than this is no answer.
const int kWebHeaderSize = 2048;

// The web walk: one server at a time, each within kWebHostMs, its addresses one after another until one connects. It
// has the Time Protocol walk's shape, so that one wait serves both.
class WebTimeWalk {
public:
    // names[i] goes into the Host field of server i's requests; a server with no address is passed over.
    WebTimeWalk(const HostAddresses *servers, const char *const *names, int count, const MeasureClock &clock)
        : servers_(servers), names_(names), count_(count), clock_(clock) {}

    // Starts on the next server that has an address; false when none is left.
    bool AskNext(DWORD now);
    int Asked() const { return server_; }
    // The server's deadline, or when its next request is due.
    DWORD Due() const { return connected_ && !sent_ && sendAt_ < deadline_ ? sendAt_ : deadline_; }
    void Watch(SocketWait &wait) const { wait.Watch(connected_ ? wait.readable : wait.writable, socket_.Get()); }
    // As TimeProtocolWalk::Advance: 1 when the search has ended with at least one answer, -1 when this server has
    // failed or sent what no working web server sends, 0 to go on waiting.
    int Advance(SocketWait &wait, int64_t wokeAt, DWORD now);
    ClockOffset Offset() const { return search_.Offset(); }
    // The answer as an interval of its blur either way, from the address that gave it.
    TimeSample Sample() const {
        const ClockOffset offset = Offset();
        return TimeSample{offset.milliseconds * kIntervalsPerMillisecond, offset.blurMs * 2 * kIntervalsPerMillisecond,
                          server_, AddressFingerprint(servers_[server_].address[nextAddress_ - 1], true)};
    }

private:
    bool Connect();
    void Schedule();
    int Finish() const { return search_.Answers() > 0 ? 1 : -1; }

    const HostAddresses *servers_;
    const char *const *names_;
    int count_;
    const MeasureClock &clock_;
    int server_ = -1;
    int nextAddress_ = 0;
    OwnedSocket socket_;
    bool connected_ = false;
    bool sent_ = false;
    int requests_ = 0;
    DWORD deadline_ = 0;
    DWORD sendAt_ = 0;
    int64_t sentAt_ = 0;
    int64_t arrivedAt_ = 0;
    SecondSearch search_;
    int length_ = 0;
    char header_[kWebHeaderSize];
};

// Notes in webHosts[i] the host of each of `count` names that names a web server (null for the others), and puts
// it in hosts[i] in the name's place, to be looked up.
void TakeWebHosts(const char **hosts, const char **webHosts, int count);
// Moves the looked-up addresses of the web servers' slots from `servers` to `web`, so that they are asked for their
// Date header only; the other slots' in `web` are none.
void TakeWebAddresses(const char *const *webHosts, HostAddresses *servers, HostAddresses *web, int count);

// Asks the built-in web hosts, one after another, after looking them up together; `clock` starts anew after the
// look-up. 1 with the answer (host 0 or 1), 0 when neither gave one.
int AskWebTimeHosts(MeasureClock *clock, TimeAnswer *answer);
