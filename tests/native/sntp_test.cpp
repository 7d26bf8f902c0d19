// SNTP answers as a server, a spoofer or a stale packet could send them, the offset they give, the choice among
// samples, and the host names a user may give the time servers.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "settings/resync_period.h"
#include "time/calendar.h"
#include "time/clock_offset.h"
#include "time/sntp.h"
#include "time/time_servers.h"

namespace {

const uint64_t kSent = 0xEC5C1A2B80000000ull; // the request's transmit time stamp
// A day after this build's day, a quarter into its second.
const uint64_t kServerTime = (FileTimeToNtpTimestamp(kEarliestServerTime) + (86400ull << 32)) | 0x40000000ull;

struct AnswerCase {
    const char *what;
    unsigned leap, version, mode, stratum;
    const char *referenceId;
    uint64_t originate, transmit;
    size_t size;
    int verdict;
    uint64_t receive = kServerTime - 0x100000000ull;
};

const AnswerCase kAnswers[] = {
    {"good", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpTime},
    {"version 1, leap second, stratum 15, 68 bytes", 1, 1, 4, 15, "GPS ", kSent, kServerTime, 68, kSntpTime},
    {"47 bytes", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 47, kSntpNoAnswer},
    {"mode 3", 0, 4, 3, 2, "GPS ", kSent, kServerTime, 48, kSntpNoAnswer},
    {"version 0", 0, 0, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpNoAnswer},
    {"version 5", 0, 5, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpNoAnswer},
    {"stratum 16", 0, 4, 4, 16, "GPS ", kSent, kServerTime, 48, kSntpUnusable},
    {"not synchronised", 3, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpUnusable},
    {"originate one bit off", 0, 4, 4, 2, "GPS ", kSent ^ 1, kServerTime, 48, kSntpNoAnswer},
    {"transmit zero", 0, 4, 4, 2, "GPS ", kSent, 0, 48, kSntpUnusable},
    {"kiss DENY", 3, 4, 4, 0, "DENY", kSent, 0, 48, kSntpDenied},
    {"kiss RSTR", 3, 4, 4, 0, "RSTR", kSent, kServerTime, 48, kSntpDenied},
    {"kiss RATE", 3, 4, 4, 0, "RATE", kSent, kServerTime, 48, kSntpRate},
    {"kiss of another code", 3, 4, 4, 0, "RATX", kSent, kServerTime, 48, kSntpUnusable},
    {"spoofed kiss DENY", 3, 4, 4, 0, "DENY", kSent + 1, 0, 48, kSntpNoAnswer},
    {"sent before the build", 0, 4, 4, 2, "GPS ", kSent, FileTimeToNtpTimestamp(kEarliestServerTime) - 1, 48,
     kSntpUnusable},
    {"1968, read through the era rule", 0, 4, 4, 2, "GPS ", kSent, 0x8000000000000000ull, 48, kSntpUnusable},
    // The receive time below is a second before the transmit time unless the row says otherwise.
    {"received zero", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpUnusable, 0},
    {"received before the build", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpUnusable,
     FileTimeToNtpTimestamp(kEarliestServerTime) - 1},
    {"received after it was sent", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpUnusable, kServerTime + 0x100000},
    {"received as sent", 0, 4, 4, 2, "GPS ", kSent, kServerTime, 48, kSntpTime, kServerTime},
};

void PutTimestamp(unsigned char *at, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<unsigned char>(value >> (56 - 8 * i));
}

} // namespace

TEST(SntpAnswer, AcceptsOnlyAnEchoedServerAnswerWithAUsableTime) {
    for (const AnswerCase &c : kAnswers) {
        unsigned char packet[68] = {};
        PutTimestamp(packet + 24, c.originate);
        PutTimestamp(packet + 32, c.receive);
        PutTimestamp(packet + 40, c.transmit);
        packet[0] = static_cast<unsigned char>(c.leap << 6 | c.version << 3 | c.mode);
        packet[1] = static_cast<unsigned char>(c.stratum);
        memcpy(packet + 12, c.referenceId, 4);
        SntpAnswer answer = {7, 7};
        EXPECT_EQ(ParseSntpAnswer(packet, c.size, kSent, &answer), c.verdict) << c.what;
        if (c.verdict != kSntpTime)
            EXPECT_EQ(answer.received + answer.transmitted, 14u) << c.what << ": a refused answer fills nothing";
        else
            EXPECT_EQ(answer.transmitted - answer.received,
                      NtpTimestampToFileTime(c.transmit) - NtpTimestampToFileTime(c.receive))
                << c.what;
    }
}

TEST(SntpTime, KeepsFractionsReadsTheNextEraAndAveragesWithoutOverflow) {
    const uint64_t fileTime = TimeValueToFileTime(0xEC5C1A2Bu) + 1234567;
    EXPECT_EQ(NtpTimestampToFileTime(FileTimeToNtpTimestamp(fileTime)), fileTime - 1) << "rounded down once";
    EXPECT_EQ(NtpTimestampToFileTime(0x0000000180000000ull), TimeValueToFileTime(1u) + 5000000u);
    EXPECT_EQ(FileTimeToNtpTimestamp(TimeValueToFileTime(0u)), 0u) << "2036 wraps the seconds to zero";

    const uint64_t t1 = 130000000000000000ull;
    // Server 2.5 s ahead, 40 ms each way, 10 ms to answer.
    EXPECT_EQ(SntpClockOffset(t1, t1 + 25400000, t1 + 25500000, t1 + 900000), 25000000);
    EXPECT_EQ(SntpClockOffset(t1, t1 - 9, t1 - 8, t1), -8) << "negative and odd halves";
    const uint64_t late = 0x7FFFFFFFFFFFFFFFull;
    EXPECT_EQ(SntpClockOffset(0, late, late, 0), static_cast<int64_t>(late));
    EXPECT_EQ(SntpClockOffset(late, 0, 0, late), -static_cast<int64_t>(late));
}

TEST(SntpSample, TakesTheTripAndRefusesAnImpossiblyShortOne) {
    const int64_t t1 = 130000000000000000ll;
    // Server 0.5 s ahead, 30 ms out and 50 ms back, 10 ms to answer: a trip of 80 ms.
    EXPECT_EQ(SntpRoundTripDelay(t1, t1 + 5300000, t1 + 5400000, t1 + 900000), 800000);
    // Coarse clocks may make a trip a little negative; beyond 10 ms the answer is refused, so it cannot win by it.
    TimeSample sample{};
    const SntpAnswer answer{static_cast<uint64_t>(t1) + 5300000, static_cast<uint64_t>(t1) + 5400000};
    EXPECT_TRUE(MakeSntpSample(t1, answer, t1, &sample));
    EXPECT_EQ(sample.delay, -100000);
    EXPECT_FALSE(MakeSntpSample(t1, answer, t1 - 1, &sample));
}

// Samples as (offset ms, round trip ms, address), the one chosen, and whether its correction may be made.
struct ChoiceCase {
    const char *what;
    std::vector<std::tuple<int64_t, int64_t, int>> samples;
    int chosen;
    bool agreed;
};

TEST(SampleChoice, AgreeingServersOutvoteTheRestAndTheShortestTripWinsAmongThem) {
    const int64_t hour = 3600000, day = 24 * hour, epoch = 70 * 365 * day; // a Unix-epoch count read as 1900's
    const ChoiceCase cases[] = {
        {"jittered samples of three servers, three rounds",
         {{2512, 31, 1}, {2498, 44, 2}, {2503, 9, 3}, {2489, 60, 1}, {2501, 6, 2}, {2507, 17, 3}},
         4,
         true},
        {"one wrong of three, with the shortest trip", {{2500, 40, 1}, {-500, 2, 2}, {2510, 30, 3}}, 2, true},
        {"two a tick apart still agree", {{2500, 2, 1}, {2504, 2, 2}, {-500, 1, 3}}, 0, true},
        {"one wrong of three, its spike meeting both", {{2500, 40, 1}, {2000, 1200, 2}, {2510, 30, 3}}, 2, true},
        {"two disagreeing: the shorter trip", {{2500, 40, 1}, {3500, 20, 2}}, 1, true},
        {"two disagreeing by a day: too far", {{2500, 40, 1}, {day, 20, 2}}, 1, false},
        {"one address a day off three times is one voice", {{day, 20, 1}, {day + 3, 20, 1}, {day, 20, 1}}, 0, false},
        {"one address a day off outvotes none", {{day, 20, 1}, {day + 3, 20, 1}, {0, 30, 2}}, 0, false},
        {"two addresses a day off agree", {{day, 20, 1}, {day + 700, 20, 2}}, 0, true},
        {"agreement is within a second", {{day, 30, 1}, {day + 1100, 20, 2}}, 1, false},
        {"a port-37 server with a Unix-epoch count alone", {{epoch, 1002, 1}}, 0, false},
        {"a dead battery: three servers years ahead",
         {{epoch, 1002, 1}, {epoch - 40, 1010, 2}, {epoch + 3, 6, 3}},
         2,
         true},
        {"an hour is made alone, a little more is not", {{hour, 0, 1}}, 0, true},
        {"a trip below zero is a point, which still meets itself", {{hour + 1, -10, 1}, {300, 40, 2}}, 0, false},
    };
    for (const ChoiceCase &test : cases) {
        TimeSample samples[8];
        int count = 0;
        for (const auto &sample : test.samples)
            samples[count++] = TimeSample{std::get<0>(sample) * 10000, std::get<1>(sample) * 10000, 0,
                                          static_cast<uint32_t>(std::get<2>(sample))};
        const int chosen = ChooseSample(samples, count);
        EXPECT_EQ(chosen, test.chosen) << test.what;
        EXPECT_EQ(StepAgreed(samples, count, chosen), test.agreed) << test.what;
    }
}

TEST(ResyncHours, TakesOneTo720OrZeroAndElseTheDefault) {
    const struct {
        const wchar_t *text;
        int hours;
    } rows[] = {{L"1", 1},    {L"720", 720},        {L"0", 0},     {L"", 24},    {L"721", 24}, {L"-1", 24},
                {L"12h", 24}, {L"99999999999", 24}, {L"0012", 12}, {L" 12", 24}, {L"+12", 24}};
    for (const auto &row : rows)
        EXPECT_EQ(ParseResyncHours(row.text), row.hours) << static_cast<int>(row.text[0]);
}

TEST(TimeServerName, TakesValidHostNamesAndFallsBackPerSlot) {
    const std::string label(63, 'a');
    const std::string longest = label + "." + label + "." + label + "." + std::string(61, 'b');
    for (const std::string &name : {std::string("ntp.aliyun.com"), std::string("192.168.1.1"), label, longest,
                                    std::string("http://www.qq.com"), "HTTP://" + longest})
        EXPECT_TRUE(IsValidHostName(name.c_str())) << name;
    for (const std::string &name : {std::string(""), std::string("a..b"), std::string("a."), label + "a", longest + "b",
                                    std::string("ntp_1.example"), std::string("\xC4\xE3.cn"), std::string("http://"),
                                    std::string("https://www.qq.com"), std::string("http:/www.qq.com"),
                                    std::string("http://www.qq.com/"), "http://" + longest + "b"})
        EXPECT_FALSE(IsValidHostName(name.c_str())) << name;
    char chosen[kHostNameSize];
    ChooseTimeServerName(2, "ntp.tencent.com", chosen);
    EXPECT_STREQ(chosen, "ntp.tencent.com");
    ChooseTimeServerName(2, "ntp.tencent.com.", chosen);
    EXPECT_STREQ(chosen, "time-a-g.nist.gov");

    // A typed name without its blanks; empty or the slot's own built-in name leaves the slot to the built-in name.
    using Typed = std::tuple<int, const char *, TypedServerName, const char *>;
    for (const auto &[server, typed, kind, name] :
         {Typed{2, " \tntp.aliyun.com  ", TypedServerName::kOwn, "ntp.aliyun.com"},
          Typed{1, "  ", TypedServerName::kBuiltIn, ""},
          Typed{1, " TIME.Nist.gov", TypedServerName::kBuiltIn, "TIME.Nist.gov"},
          Typed{2, "time.nist.gov", TypedServerName::kOwn, "time.nist.gov"},
          Typed{1, "time.nist.go", TypedServerName::kOwn, "time.nist.go"},
          Typed{3, "ntp aliyun.com", TypedServerName::kNotAHostName, "ntp aliyun.com"}}) {
        EXPECT_EQ(ReadTypedServerName(server, typed, chosen), kind) << typed;
        EXPECT_STREQ(chosen, name);
    }
    EXPECT_EQ(ReadTypedServerName(1, std::string(kHostNameSize, 'a').c_str(), chosen), TypedServerName::kNotAHostName)
        << "longer than the buffer";
}
