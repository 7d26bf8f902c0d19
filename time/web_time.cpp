// Time from a web server's Date header: the field's three forms, and the search for the server's second boundary.
#include "time/web_time.h"

#include <stdint.h>
#include <string.h>

#include "net/http_response.h"
#include "time/calendar.h"

namespace {

// The days' short names, then the months'.
const char kNames[] = "SunMonTueWedThuFriSatJanFebMarAprMayJunJulAugSepOctNovDec";
const int kDays = 7;
// IMF-fixdate, rfc850 and asctime, one after another. 'w' is a day's short name, 'W' that and the lower-case rest of
// its full name, 'm' a month's; 'e' a blank or a digit of the day; d, y, h, n and s a digit of the day, year, hour,
// minute and second; anything else stands for itself.
const char kDateForms[] = "w, dd m yyyy hh:nn:ss GMT\0W, dd-m-yy hh:nn:ss GMT\0w m ed hh:nn:ss yyyy";
const int kFormCount = 3;
const unsigned kSecondsPerDay = 86400;

// The index of the three letters at `text` among `count` names of kNames from `first`, or -1.
int FindName(int first, int count, const char *text, const char *end) {
    for (int i = 0; end - text >= 3 && i < count; ++i)
        if (memcmp(text, kNames + 3 * (first + i), 3) == 0)
            return i;
    return -1;
}

// Day, year, hour, minute, second, then the day of the week and the month.
struct DateFields {
    unsigned digits[5];
    int weekday;
    int month;
};

bool MatchForm(const char *form, const char *text, const char *end, DateFields &fields) {
    fields = DateFields{};
    for (; *form != '\0'; ++form) {
        const char c = *form;
        if (c == 'w' || c == 'W' || c == 'm') {
            int &name = c == 'm' ? fields.month : fields.weekday;
            name = c == 'm' ? FindName(kDays, 12, text, end) : FindName(0, kDays, text, end);
            if (name < 0)
                return false;
            text += 3;
            while (c == 'W' && text < end && *text >= 'a' && *text <= 'z')
                ++text;
            continue;
        }
        if (text == end)
            return false;
        static const char kDigitFields[] = "dyhnse";
        const char *field = strchr(kDigitFields, c);
        if (field == nullptr) {
            if (*text++ != c)
                return false;
        } else if (c == 'e' && *text == ' ') {
            ++text;
        } else if (*text >= '0' && *text <= '9') {
            unsigned &digits = fields.digits[(field - kDigitFields) % 5];
            digits = digits * 10 + static_cast<unsigned>(*text++ - '0');
        } else {
            return false;
        }
    }
    return text == end;
}

} // namespace

bool ReadHttpDate(const char *header, int length, uint64_t *second) {
    int at = FindFieldValue(header, length, "Date");
    if (at < 0)
        return false;
    while (at < length && header[at] == ' ')
        ++at;
    int end = at;
    while (end < length && header[end] != '\r')
        ++end;
    while (end > at && header[end - 1] == ' ')
        --end;
    DateFields fields;
    int form = 0;
    for (const char *text = kDateForms; form < kFormCount && !MatchForm(text, header + at, header + end, fields);
         text += strlen(text) + 1)
        ++form;
    // The rfc850 form's two digits name a year of this century: any other is before this build's day.
    const unsigned year = fields.digits[1] + (form == 1 ? 2000 : 0);
    const unsigned day = fields.digits[0];
    if (form == kFormCount || year < 1601 || day < 1 ||
        day > DaysInMonth(year, static_cast<unsigned>(fields.month) + 1) || fields.digits[2] > 23 ||
        fields.digits[3] > 59 || fields.digits[4] > 59)
        return false;
    const unsigned years = year - 1601;
    unsigned days = years * 365 + years / 4 - years / 100 + years / 400 + day - 1;
    for (unsigned month = 1; month <= static_cast<unsigned>(fields.month); ++month)
        days += DaysInMonth(year, month);
    // 1601-01-01 was a Monday.
    if (static_cast<int>((days + 1) % 7) != fields.weekday)
        return false;
    *second = (static_cast<uint64_t>(days) * kSecondsPerDay + fields.digits[2] * 3600 + fields.digits[3] * 60 +
               fields.digits[4]) *
              kIntervalsPerSecond;
    return *second >= kEarliestServerTime;
}

namespace {

const int32_t kSecond = static_cast<int32_t>(kIntervalsPerSecond);
// Bounds further than this from the first answer's come from no one clock.
const int64_t kFarBound = 60 * kIntervalsPerSecond;
// Each scan tries the uncertain span at the points that cut it into this many parts.
const int32_t kScanParts = 5;
// A span this much wider than a round trip is as narrow as the program needs.
const int32_t kNarrowEnough = 20 * kIntervalsPerMillisecond;

} // namespace

uint64_t SecondSearch::NextSendAt(uint64_t now) const {
    if (answers_ == 0)
        return now;
    // Were the offset the point tried, the last answer's second began when the machine's clock read its second less
    // the point; a whole number of seconds later comes the first boundary after now, sent half a round trip before.
    uint64_t at = lastSecond_ - static_cast<uint64_t>(base_ + high_ - step_ + roundTrip_ / 2);
    while (at < now)
        at += kSecond;
    return at;
}

bool SecondSearch::Take(uint64_t sentAt, uint64_t arrivedAt, uint64_t serverSecond) {
    const bool first = answers_++ == 0;
    if (first) {
        base_ = static_cast<int64_t>(serverSecond - arrivedAt);
        high_ = INT32_MAX;
    }
    const int64_t floor = static_cast<int64_t>(serverSecond - arrivedAt) - base_;
    if (floor < -kFarBound || floor > kFarBound)
        return false;
    lastSecond_ = serverSecond;
    roundTrip_ = static_cast<int32_t>(arrivedAt - sentAt);
    const int32_t low = static_cast<int32_t>(floor);
    const int32_t high = low + roundTrip_ + kSecond;
    const bool rose = first || low > low_;
    if (rose)
        low_ = low;
    if (high < high_)
        high_ = high;
    const int32_t span = high_ - low_;
    if (span <= 0)
        return false;
    // An answer that raised the floor came after the boundary: the scan ends, and the next one cuts what is left.
    if (rose || high_ - step_ <= low_) {
        step_ = span / kScanParts > roundTrip_ ? span / kScanParts : roundTrip_;
        if (step_ * 2 > span)
            step_ = span / 2;
    }
    return true;
}

bool SecondSearch::Done() const {
    return answers_ > 0 && high_ - low_ <= kNarrowEnough + roundTrip_;
}

ClockOffset SecondSearch::Offset() const {
    const int32_t half = (high_ - low_) / 2;
    return ClockOffset{IntervalsToMilliseconds(base_ + low_ + half), half / kIntervalsPerMillisecond + 1};
}
