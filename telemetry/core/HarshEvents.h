#pragma once
// Hard braking, hard acceleration and impacts found in a recording's
// G-sensor samples. The axis values are read as milli-g around the
// recording's rest level (the median of each axis), x pointing forward:
// braking pulls x below it, accelerating pushes x above it, an impact moves
// the whole vector far from it. A run of samples beyond a threshold, with
// gaps shorter than MergeGapUs, is one event.
#include "TelemetryTrack.h"

#include <vector>

struct HarshThresholds {
    int brakingMilliG = 400;       // x below rest by this much
    int accelerationMilliG = 300;  // x above rest by this much
    int impactMilliG = 1500;       // distance of the vector from rest
    int minDurationMs = 200;       // braking and acceleration must last this long; impacts need not

    bool operator==(const HarshThresholds &o) const
    {
        return brakingMilliG == o.brakingMilliG && accelerationMilliG == o.accelerationMilliG &&
               impactMilliG == o.impactMilliG && minDurationMs == o.minDurationMs;
    }
};

struct HarshEvent {
    enum Kind { Braking, Acceleration, Impact };
    Kind kind = Braking;
    qint64 startUs = 0;   // on the recording's time line
    qint64 endUs = 0;
    qint64 peakUs = 0;
    int peakMilliG = 0;   // magnitude at the peak
};

constexpr qint64 MergeGapUs = 500000;

// Events ordered by start time.
std::vector<HarshEvent> detectHarshEvents(const std::vector<GSensorPoint> &samples, const HarshThresholds &thresholds);

// "Hard braking", "Hard acceleration", "Impact".
const char *harshEventName(HarshEvent::Kind kind);
