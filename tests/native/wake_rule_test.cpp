// Which of Windows' signals is a new wake of the machine.
#include <gtest/gtest.h>

#include "app/wake_rule.h"

TEST(WakeRule, CountsEachResumeAndOneWakeForWhatTheTicksAndTheDisplayShow) {
    const uint32_t s = 1000, m = 60 * s, t = 0u - 30 * s; // the tick count wraps before the third step
    const struct {
        WakeSignal signal;
        uint32_t atMs;
        bool wake;
    } kSteps[] = {{kSignalClockTick, t, false},
                  {kSignalDisplayOff, t + s, false},
                  {kSignalClockTick, t + 60 * s, false},
                  {kSignalClockTick, t + 122 * s, true},
                  {kSignalDisplayOff, t + 10 * m, false},
                  {kSignalDisplayOn, t + 16 * m + s, true},
                  {kSignalClockTick, t + 16 * m + 30 * s, false},
                  {kSignalResume, t + 16 * m + 31 * s, true},
                  {kSignalDisplayOff, t + 20 * m, false},
                  {kSignalDisplayOn, t + 30 * m, false}};
    WakeRule rule;
    for (const auto &step : kSteps)
        EXPECT_EQ(rule.IsNewWake(step.signal, step.atMs), step.wake) << "at " << (step.atMs - t) / s << " s";
}
