// The Date field as web servers write it, and the second-boundary search against a simulated server.
#include <gtest/gtest.h>

#include <string>

#include "time/calendar.h"
#include "time/web_time.h"

namespace {

const uint64_t kSecond = kIntervalsPerSecond;
const uint64_t kMarch2031 = 13574940577ull * kSecond; // Wed, 05 Mar 2031 08:49:37 GMT

bool Read(const std::string &fields, uint64_t *second) {
    const std::string header = "HTTP/1.1 302 Found\r\n" + fields + "\r\n\r\n";
    return ReadHttpDate(header.data(), static_cast<int>(header.size()), second);
}

TEST(ReadHttpDate, ReadsTheThreeFormsAndRefusesTheRest) {
    uint64_t second = 0;
    for (const char *date : {"Date: Wed, 05 Mar 2031 08:49:37 GMT", "date:Wednesday, 05-Mar-31 08:49:37 GMT  ",
                             "DATE: Wed Mar  5 08:49:37 2031", "Server: x\r\nDate:  Wed Mar 05 08:49:37 2031"})
        EXPECT_TRUE(Read(date, &second) && second == kMarch2031) << date;
    EXPECT_TRUE(Read("Date: Sun, 29 Feb 2032 23:59:59 GMT", &second) && second == kMarch2031 + 31245022 * kSecond);
    for (const char *date : {"Date: Thu, 05 Mar 2031 08:49:37 GMT", "Date: Wed, 05 Mar 2031 08:49:37 UTC",
                             "Date: Wed, 5 Mar 2031 08:49:37 GMT", "Date: Wed, 05 mar 2031 08:49:37 GMT",
                             "Date: Wed, 05 Mar 2031 08:49:37 GMT+1", "Date: Wednesday, 05-Mar-2031 08:49:37 GMT",
                             "Date: Wed, 05 Mar 2031 24:00:00 GMT", "Date: Wed, 05 Mar 2031 08:60:37 GMT",
                             "Date: Wed, 05 Mar 2031 08:49:60 GMT", "Date: Sat, 29 Feb 2031 08:49:37 GMT",
                             "Date: Mon, 31 Nov 2031 08:49:37 GMT", "Date: Wed, 00 Mar 2031 08:49:37 GMT",
                             "Date: Wed, 01 Jan 2020 00:00:00 GMT", "Date: Mon, 01 Jan 1601 00:00:00 GMT",
                             "Date: Wed, 05 Mar 2031 08:49:3", "X-Date: Wed, 05 Mar 2031 08:49:37 GMT", ""})
        EXPECT_FALSE(Read(date, &second)) << date;
}

// A server whose clock is the machine's plus `offsetMs`, each way `travelMs` or less away, and a sender that wakes up
// to 16 ms after the time asked (the platform's tick): at most 16 requests within 3 s.
void Simulate(SecondSearch &search, int64_t offsetMs, uint64_t seed, uint64_t travelMs) {
    auto random = [&seed](uint64_t ms) { return ((seed = seed * 6364136223846793005ull + 1) >> 33) % (ms * 10000); };
    uint64_t now = kMarch2031;
    for (int requests = 0; requests < 16 && !search.Done(); ++requests) {
        const uint64_t asked = search.NextSendAt(now);
        EXPECT_GE(asked, now);
        const uint64_t sent = asked + random(16);
        const uint64_t written = sent + random(travelMs);
        if (sent - kMarch2031 > 3 * kSecond)
            return;
        now = written + random(travelMs);
        EXPECT_TRUE(search.Take(sent, now, (written + offsetMs * 10000) / kSecond * kSecond));
    }
}

TEST(SecondSearch, FindsTheServersBoundaryWithinItsBlurAndRefusesAnswersNoOneClockGave) {
    for (uint64_t travelMs : {1, 5, 60})
        for (int64_t phaseMs : {0, 1, 199, 200, 499, 500, 801, 999, -1, -500, -37256})
            for (uint64_t seed = 1; seed <= 20; ++seed) {
                SecondSearch search;
                const int64_t offsetMs = 3600000 + phaseMs;
                Simulate(search, offsetMs, seed, travelMs);
                const ClockOffset found = search.Offset();
                EXPECT_LE(std::abs(found.milliseconds - offsetMs), found.blurMs) << phaseMs << " " << seed;
                // Tens of milliseconds when the round trips are short.
                EXPECT_LE(found.blurMs, travelMs < 10 ? 30 : 150) << travelMs << " " << phaseMs << " " << seed;
            }
    // A second that no one clock could have named with the first.
    SecondSearch search;
    EXPECT_TRUE(search.Take(kMarch2031, kMarch2031 + kSecond / 100, kMarch2031));
    EXPECT_FALSE(search.Take(kMarch2031 + kSecond / 2, kMarch2031 + kSecond / 2, kMarch2031 + 2 * kSecond));
}

} // namespace
