#pragma once
// What one channel's decoder does with its next packet when playback runs
// late. The playback clock never waits for a channel. Lateness is that of
// the picture when it will come out of the decoder: the clock's time plus
// the decoder's delay, learnt from the pictures it handed out. A channel
// whose picture will be later than one frame interval drops the frames no
// other frame refers to until its next key frame (and decides again there);
// one whose picture will be later than a key-frame interval, or later than
// a picture may be shown at all, skips everything up to a key frame that
// will come out in time: decoding a picture only for it to be dropped
// would make the channel later still. Intervals are learnt from the
// packets' own times.
#include <QtGlobal>

#include <cstdint>

class FrameDropPolicy
{
public:
    enum class Action {
        Decode,
        DropNonReference, // not decoded: nothing refers to it
        DropToKeyFrame,   // not decoded: skipping to the next key frame
    };

    static constexpr qint64 DefaultFrameMs = 33;
    static constexpr qint64 DefaultGopMs = 1000;
    // A picture later than this is not shown (the render thread drops it).
    static constexpr qint64 SkipLateMs = 100;

    // Decides for a packet of media time timeMs. With no clock (paused,
    // stepping, backward or fast play) every packet is decoded.
    Action next(qint64 timeMs, bool keyFrame, bool nonReference, bool haveClock, qint64 nowMs);
    // A picture of media time timeMs came out of the decoder at clock time
    // nowMs: teaches the decoder's delay.
    void notePicture(qint64 timeMs, qint64 nowMs);
    // Starts again (seek, new recording, restart): intervals and the
    // decoder's delay are kept.
    void reset();

    // Non-reference frames are being dropped until the next key frame.
    bool droppingNonReference() const { return nonReferenceMode; }
    bool skippingToKeyFrame() const { return skipping; }
    qint64 frameIntervalMs() const { return frameMs; }
    qint64 gopIntervalMs() const { return gopMs; }
    qint64 decoderDelayMs() const { return delayMs; }

private:
    void learn(qint64 timeMs, bool keyFrame);

    qint64 frameMs = DefaultFrameMs;
    qint64 gopMs = DefaultGopMs;
    qint64 lastTime = 0;
    qint64 lastKeyTime = 0;
    bool haveLast = false;
    bool haveLastKey = false;
    qint64 gopShortestStep = -1;
    bool nonReferenceMode = false;
    bool skipping = false;
    // Packets handed to the decoder lately: media time and clock time.
    static constexpr int Remembered = 32;
    struct Admitted { qint64 timeMs, nowMs; };
    Admitted admitted[Remembered] = {};
    int admittedCount = 0, admittedNext = 0;
    qint64 delayMs = 0;
};

// Whether an Annex-B packet's picture is one no other picture refers to:
// H.264 slices with nal_ref_idc 0; HEVC sub-layer non-reference pictures
// (TRAIL_N, TSA_N, STSA_N, RADL_N, RASL_N) of the highest temporal layer
// seen so far (maxTemporalId, updated from the packet). Parameter sets and
// other units before the first slice are passed over.
bool isNonReferencePicture(const uint8_t *data, int size, bool hevc, int *maxTemporalId);
