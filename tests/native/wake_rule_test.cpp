// Which of Windows' signals is a new wake of the machine.
#include <gtest/gtest.h>

#include <iterator>

#include "app/wake_rule.h"

TEST(WakeRule, GivesOneWakeForTheSignalsOfOneAndNoneForAnIdleDisplay) {
    const uint32_t s = 1000, m = 60 * s, t = 100 * 60 * m; // long after the machine started
    const struct Step {
        WakeSignal signal;
        uint32_t atMs;
        bool wake;
    } kResumeTickDisplay[] = {{kSignalDisplayOn, t, false},
                              {kSignalClockTick, t, false},
                              {kSignalDisplayOff, t + s, false},
                              {kSignalClockTick, t + 2 * s, false},
                              {kSignalResume, t + 20 * m, true},
                              {kSignalClockTick, t + 20 * m + s, false},
                              {kSignalDisplayOn, t + 20 * m + 2 * s, false}},
      kTickGap[] = {{kSignalClockTick, t, false},
                    {kSignalClockTick, t + 60 * s, false},
                    {kSignalClockTick, t + 121 * s, true},
                    {kSignalResume, t + 150 * s, true},
                    {kSignalResume, t + 151 * s, true}},
      kWrap[] = {{kSignalClockTick, 0u - 30 * s, false},
                 {kSignalClockTick, 20 * s, false},
                 {kSignalClockTick, 81 * s + 1, true}},
      kDisplay[] = {{kSignalDisplayOff, t, false},
                    {kSignalDisplayOn, t + 15 * m, false},
                    {kSignalDisplayOff, t + 16 * m, false},
                    {kSignalDisplayOff, t + 30 * m, false},
                    {kSignalDisplayOn, t + 31 * m + s, true},
                    {kSignalDisplayOn, t + 60 * m, false}};
    const struct {
        const char *what;
        const Step *steps;
        size_t count;
    } kCases[] = {
        {"a resume, its first tick and the display coming on are one wake", kResumeTickDisplay,
         std::size(kResumeTickDisplay)},
        {"a minute unseen between ticks is a wake, and so is every resume Windows reports", kTickGap,
         std::size(kTickGap)},
        {"the same across the tick count's wrap", kWrap, std::size(kWrap)},
        {"a display off for more than 15 minutes counted from its first off, and on again once", kDisplay,
         std::size(kDisplay)},
    };
    for (const auto &c : kCases) {
        WakeRule rule;
        for (size_t step = 0; step < c.count; ++step)
            EXPECT_EQ(rule.IsNewWake(c.steps[step].signal, c.steps[step].atMs), c.steps[step].wake)
                << c.what << ", step " << step;
    }
}
