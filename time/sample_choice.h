// The choice among a measurement's samples and the rule for a large correction. Plain C++, no platform calls.
#pragma once

#include <stdint.h>

// One answer as an interval: its offset, give or take half its round trip (both in 100-nanosecond intervals; a
// port-37 answer's "round trip" is twice its blur).
struct TimeSample {
    int64_t offset;
    int64_t delay;
    // Which of the servers asked gave it, and a fingerprint of the address that did: samples of one address are one
    // voice however many there are.
    int server;
    uint32_t source;
};

// The most samples one choice weighs.
const int kMostSamples = 48;

// A correction larger than this needs a second address that agrees with it within kStepAgreementMs.
const int64_t kLargestLoneStepMs = 3600000;
const int64_t kStepAgreementMs = 1000;

// The sample a measurement takes: among those whose intervals meet the intervals of the most addresses, the one with
// the shortest round trip, which bounds its error. count is 1 to kMostSamples.
int ChooseSample(const TimeSample *samples, int count);

// Whether samples[chosen]'s correction may be made: at most kLargestLoneStepMs, or else another address agrees.
bool StepAgreed(const TimeSample *samples, int count, int chosen);
