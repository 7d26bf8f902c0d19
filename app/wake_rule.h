// Telling the machine's wakes from the several signals Windows gives of one: plain C++, fed by the window's thread.
#pragma once

#include <stdint.h>

enum WakeSignal { kSignalResume, kSignalDisplayOff, kSignalDisplayOn, kSignalClockTick };

// More than this between two clock ticks went by unseen: the machine slept, or froze the program.
const uint32_t kUnseenTickMs = 60000;
// A display that comes on after this long off may have slept with the machine (Modern Standby sends no resume).
const uint32_t kLongDisplayOffMs = 15 * 60000;
// A wake inferred (from the ticks or the display) within this of the last wake is that wake.
const uint32_t kSameWakeMs = 60000;

class WakeRule {
public:
    // `nowMs`: the tick count, which counts sleep and wraps every 49.7 days (only differences are read). True for
    // each resume Windows reports, and for a wake the ticks or the display show that no earlier signal showed.
    bool IsNewWake(WakeSignal signal, uint32_t nowMs);

private:
    // Each 0 for none yet.
    uint32_t lastTickMs_ = 0;
    uint32_t displayOffSinceMs_ = 0;
    uint32_t lastWakeMs_ = 0;
};
