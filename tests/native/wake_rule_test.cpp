// Which of Windows' signals is a new wake of the machine.
#include <gtest/gtest.h>

#include <tuple>

#include "app/wake_rule.h"

TEST(WakeRule, CountsEachResumeAndOneWakeForWhatTheTicksAndTheDisplayShow) {
    const uint32_t start = 0u - 30000; // the tick count wraps before the third step
    // The signal, its second from the start, and whether it is a new wake.
    const std::tuple<WakeSignal, uint32_t, bool> kSteps[] = {
        {kSignalClockTick, 0, false},   {kSignalDisplayOff, 1, false},   {kSignalClockTick, 60, false},
        {kSignalClockTick, 122, true},  {kSignalDisplayOff, 600, false}, {kSignalDisplayOn, 961, true},
        {kSignalClockTick, 990, false}, {kSignalResume, 991, true},      {kSignalDisplayOff, 1200, false},
        {kSignalDisplayOn, 1800, false}};
    WakeRule rule;
    for (const auto &[signal, second, wake] : kSteps)
        EXPECT_EQ(rule.IsNewWake(signal, start + second * 1000), wake) << "at " << second << " s";
}
