// The choice among a measurement's samples and the rule for a large correction.
#include "time/sample_choice.h"

#include "time/clock_offset.h"

namespace {

// Some servers read their clocks only to the kernel's tick, a few milliseconds; intervals this close still meet.
const int64_t kMeetingSlack = 5 * kIntervalsPerMillisecond;

int64_t Distance(int64_t a, int64_t b) {
    return a > b ? a - b : b - a;
}

// A trip that came out below zero (a coarse clock) is no interval at all, not a negative one.
int64_t HalfTrip(const TimeSample &sample) {
    return sample.delay > 0 ? sample.delay / 2 : 0;
}

// Whether b lies within `reach` of a, or where reach is negative, whether their intervals meet.
bool Near(const TimeSample &a, const TimeSample &b, int64_t reach) {
    return Distance(a.offset, b.offset) <= (reach < 0 ? HalfTrip(a) + HalfTrip(b) + kMeetingSlack : reach);
}

// The addresses with a sample near `centre`, each counted once.
int Voices(const TimeSample *samples, int count, const TimeSample &centre, int64_t reach) {
    uint32_t heard[kMostSamples];
    int voices = 0;
    for (int i = 0; i < count; ++i) {
        if (!Near(centre, samples[i], reach))
            continue;
        int j = 0;
        while (j < voices && heard[j] != samples[i].source)
            ++j;
        if (j == voices)
            heard[voices++] = samples[i].source;
    }
    return voices;
}

} // namespace

int ChooseSample(const TimeSample *samples, int count) {
    int best = 0;
    int bestVoices = 0;
    for (int i = 0; i < count; ++i) {
        const int voices = Voices(samples, count, samples[i], -1);
        if (voices > bestVoices || (voices == bestVoices && samples[i].delay < samples[best].delay)) {
            best = i;
            bestVoices = voices;
        }
    }
    return best;
}

bool StepAgreed(const TimeSample *samples, int count, int chosen) {
    return Distance(samples[chosen].offset, 0) <= kLargestLoneStepMs * kIntervalsPerMillisecond ||
           Voices(samples, count, samples[chosen], kStepAgreementMs * kIntervalsPerMillisecond) >= 2;
}
