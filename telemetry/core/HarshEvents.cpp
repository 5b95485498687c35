#include "HarshEvents.h"

#include <algorithm>
#include <cmath>

namespace {

int median(std::vector<int> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Collects the runs of one kind: samples that qualify with a strength.
class RunCollector
{
public:
    RunCollector(HarshEvent::Kind kind, qint64 minDurationUs) : kind(kind), minDurationUs(minDurationUs) {}

    void sample(qint64 timeUs, int strength, bool qualifies)
    {
        if (!qualifies)
            return;
        if (open && timeUs - current.endUs > MergeGapUs)
            close();
        if (!open) {
            open = true;
            current = HarshEvent();
            current.kind = kind;
            current.startUs = current.peakUs = timeUs;
            current.peakMilliG = strength;
        }
        current.endUs = timeUs;
        if (strength > current.peakMilliG) {
            current.peakMilliG = strength;
            current.peakUs = timeUs;
        }
    }
    void close()
    {
        if (open && current.endUs - current.startUs >= minDurationUs)
            events.push_back(current);
        open = false;
    }

    std::vector<HarshEvent> events;

private:
    HarshEvent::Kind kind;
    qint64 minDurationUs;
    bool open = false;
    HarshEvent current;
};

} // namespace

std::vector<HarshEvent> detectHarshEvents(const std::vector<GSensorPoint> &samples, const HarshThresholds &t)
{
    std::vector<int> xs, ys, zs;
    xs.reserve(samples.size());
    ys.reserve(samples.size());
    zs.reserve(samples.size());
    for (const GSensorPoint &s : samples) {
        xs.push_back(s.x);
        ys.push_back(s.y);
        zs.push_back(s.z);
    }
    const int restX = median(xs), restY = median(ys), restZ = median(zs);
    const qint64 minUs = qint64(std::max(0, t.minDurationMs)) * 1000;
    RunCollector braking(HarshEvent::Braking, minUs);
    RunCollector acceleration(HarshEvent::Acceleration, minUs);
    RunCollector impact(HarshEvent::Impact, 0);
    for (const GSensorPoint &s : samples) {
        const int dx = int(s.x) - restX, dy = int(s.y) - restY, dz = int(s.z) - restZ;
        const int magnitude = int(std::lround(std::sqrt(double(dx) * dx + double(dy) * dy + double(dz) * dz)));
        braking.sample(s.timeUs, -dx, t.brakingMilliG > 0 && -dx >= t.brakingMilliG);
        acceleration.sample(s.timeUs, dx, t.accelerationMilliG > 0 && dx >= t.accelerationMilliG);
        impact.sample(s.timeUs, magnitude, t.impactMilliG > 0 && magnitude >= t.impactMilliG);
    }
    std::vector<HarshEvent> events;
    for (RunCollector *run : {&braking, &acceleration, &impact}) {
        run->close();
        events.insert(events.end(), run->events.begin(), run->events.end());
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const HarshEvent &a, const HarshEvent &b) { return a.startUs < b.startUs; });
    return events;
}

const char *harshEventName(HarshEvent::Kind kind)
{
    switch (kind) {
    case HarshEvent::Braking: return "Hard braking";
    case HarshEvent::Acceleration: return "Hard acceleration";
    case HarshEvent::Impact: return "Impact";
    }
    return "";
}
