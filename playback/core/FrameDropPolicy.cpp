#include "FrameDropPolicy.h"

#include <algorithm>

namespace {

// How much of each new measure of the decoder's delay goes into the estimate.
constexpr qint64 DelayWeight = 4;
// Gaps longer than these are jumps (another recording), not intervals.
constexpr qint64 LongestFrameMs = 1000;
constexpr qint64 LongestGopMs = 20000;

} // namespace

void FrameDropPolicy::learn(qint64 timeMs, bool keyFrame)
{
    if (haveLast && timeMs > lastTime && timeMs - lastTime <= LongestFrameMs)
        gopShortestStep = gopShortestStep < 0 ? timeMs - lastTime : std::min(gopShortestStep, timeMs - lastTime);
    if (keyFrame) {
        // Frames may come in decode order: the shortest step of a whole GOP is the frame interval.
        if (gopShortestStep > 0)
            frameMs = gopShortestStep;
        gopShortestStep = -1;
        if (haveLastKey && timeMs > lastKeyTime && timeMs - lastKeyTime <= LongestGopMs)
            gopMs = std::max(timeMs - lastKeyTime, frameMs);
        lastKeyTime = timeMs;
        haveLastKey = true;
    }
    lastTime = timeMs;
    haveLast = true;
}

FrameDropPolicy::Action FrameDropPolicy::next(qint64 timeMs, bool keyFrame, bool nonReference, bool haveClock,
                                              qint64 nowMs)
{
    learn(timeMs, keyFrame);
    if (!haveClock) {
        nonReferenceMode = false;
        skipping = false;
        return Action::Decode;
    }
    // How late the picture will be when it comes out of the decoder.
    const qint64 late = nowMs + delayMs - timeMs;
    if (skipping) {
        // Its picture must come out in time; a key frame only a little
        // later is not worth another GOP of nothing.
        if (!keyFrame || late > 0)
            return Action::DropToKeyFrame;
        skipping = false;
    }
    if (late > std::min(gopMs, SkipLateMs)) {
        skipping = true;
        nonReferenceMode = false;
        return Action::DropToKeyFrame;
    }
    // Decided for a whole GOP at its key frame; switched on within one as
    // soon as the channel falls a frame behind.
    if (keyFrame)
        nonReferenceMode = late > frameMs;
    else if (late > frameMs)
        nonReferenceMode = true;
    if (nonReferenceMode && nonReference && !keyFrame)
        return Action::DropNonReference;
    admitted[admittedNext] = {timeMs, nowMs};
    admittedNext = (admittedNext + 1) % Remembered;
    admittedCount = std::min(admittedCount + 1, Remembered);
    return Action::Decode;
}

void FrameDropPolicy::notePicture(qint64 timeMs, qint64 nowMs)
{
    for (int i = 0; i < admittedCount; ++i) {
        const Admitted &a = admitted[(admittedNext - 1 - i + Remembered) % Remembered];
        if (a.timeMs == timeMs) {
            const qint64 measured = std::max<qint64>(0, nowMs - a.nowMs);
            delayMs += (measured - delayMs) / DelayWeight;
            return;
        }
    }
}

void FrameDropPolicy::reset()
{
    haveLast = false;
    haveLastKey = false;
    gopShortestStep = -1;
    nonReferenceMode = false;
    skipping = false;
    admittedCount = admittedNext = 0;
}

bool isNonReferencePicture(const uint8_t *data, int size, bool hevc, int *maxTemporalId)
{
    if (!data || size < 4)
        return false;
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const uint8_t *nal = data + i + 3;
        const int left = size - (i + 3);
        if (!hevc) {
            const int type = nal[0] & 0x1F;
            if (type >= 1 && type <= 5)
                return (nal[0] & 0x60) == 0; // nal_ref_idc
            continue;
        }
        if (left < 2)
            return false;
        const int type = (nal[0] >> 1) & 0x3F;
        const int temporalId = (nal[1] & 0x07) - 1;
        if (type == 33 && left >= 3) {
            // SPS: sps_max_sub_layers_minus1 follows the 4-bit VPS id.
            *maxTemporalId = std::max(*maxTemporalId, (nal[2] >> 1) & 0x07);
            continue;
        }
        if (type >= 32)
            continue;
        *maxTemporalId = std::max(*maxTemporalId, temporalId);
        // Even types below 16 are sub-layer non-reference pictures: on the
        // highest layer nothing refers to them.
        return type <= 14 && type % 2 == 0 && temporalId == *maxTemporalId;
    }
    return false;
}
