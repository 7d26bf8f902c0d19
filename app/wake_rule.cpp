// Telling the machine's wakes from the several signals Windows gives of one.
#include "app/wake_rule.h"

bool WakeRule::IsNewWake(WakeSignal signal, uint32_t nowMs) {
    bool wake = signal == kSignalResume;
    if (signal == kSignalClockTick) {
        wake = lastTickMs_ != 0 && nowMs - lastTickMs_ > kUnseenTickMs;
        lastTickMs_ = nowMs;
    } else if (signal == kSignalDisplayOff) {
        if (displayOffSinceMs_ == 0)
            displayOffSinceMs_ = nowMs;
    } else if (signal == kSignalDisplayOn) {
        wake = displayOffSinceMs_ != 0 && nowMs - displayOffSinceMs_ > kLongDisplayOffMs;
        displayOffSinceMs_ = 0;
    }
    // Windows' own word is a wake each time (a copy of it comes while that wake's set still waits, which makes no
    // second); a wake inferred within a minute of another is that one.
    if (!wake || (signal != kSignalResume && lastWakeMs_ != 0 && nowMs - lastWakeMs_ < kSameWakeMs))
        return false;
    lastWakeMs_ = nowMs;
    return true;
}
