// How often the running program sets the clock again, as the settings file's ResyncHours says.
#include "settings/resync_period.h"

int ParseResyncHours(const wchar_t *text) {
    int hours = 0;
    const wchar_t *digit = text;
    for (; *digit >= L'0' && *digit <= L'9'; ++digit) {
        hours = hours * 10 + (*digit - L'0');
        if (hours > kMaxResyncHours)
            return kDefaultResyncHours;
    }
    return digit == text || *digit != L'\0' ? kDefaultResyncHours : hours;
}
