#include "RenderThread.h"

#include "DecodeThread.h"
#include "LogCategories.h"
#include "PlaybackClock.h"
#include "ReadThread.h"

#include <QDebug>

#include <memory>
#include <SDL.h>

#include <cmath>
#include <cstring>
#include <type_traits>

namespace {
constexpr int BufferedBeforeShow = 3;   // a channel starts showing with more frames than this decoded
constexpr int MaxStartWaitMs = 500;     // forward play waits no longer for every channel to be ready
constexpr qint64 AheadJumpMs = 1000;    // a head this far ahead of the clock re-bases it
constexpr qint64 BehindJumpMs = 2000;   // and this far behind it
constexpr qint64 AudioBehindMs = 250;   // sound older than the picture by this much is dropped
constexpr qint64 AudioLeadMs = 500;     // sound is handed over this far ahead of the picture
} // namespace

RenderThread::RenderThread(ReadThread *readThread, DecodeThread *decodeThread, PaneView *v, QObject *parent)
    : PlaybackWorker(parent), read(readThread), decode(decodeThread), view(v)
{
}

RenderThread::~RenderThread()
{
    stopAndJoin();
}

void RenderThread::setAudioFormat(AudioPlayer::Kind kind, int rate, int channels)
{
    audioKind = kind;
    audioRateWanted = rate;
    audioChannelsWanted = channels;
}

void RenderThread::startPlaying(int playMode)
{
    clearFlagsForStart();
    mode = playMode;
    speed = 1.0f;
    pendingStep = 0;
    clockRestart = true;
    start();
}

void RenderThread::setPlayMode(int value)
{
    mode = value;
    clockRestart = true;
    resume();
}

namespace {

// One more step in direction (+1 or -1); steps pending the other way are dropped.
void addStep(std::atomic<int> &pending, int direction)
{
    int now = pending.load();
    while (!pending.compare_exchange_weak(now, now * direction > 0 ? now + direction : direction)) {
    }
}

// One step of direction done, unless the steps pending were replaced meanwhile.
void stepDoneOnce(std::atomic<int> &pending, int direction)
{
    int now = pending.load();
    while (now * direction > 0 && !pending.compare_exchange_weak(now, now - direction)) {
    }
}

} // namespace

void RenderThread::stepForward()
{
    pause();
    mode = Forward;
    addStep(pendingStep, 1);
}

void RenderThread::stepBackward()
{
    pause();
    mode = Backward;
    addStep(pendingStep, -1);
}

void RenderThread::restartClock(qint64 continueAfterMs, bool backward)
{
    clockRestart = true;
    continueMs = continueAfterMs;
    continueBackward = backward;
    continuing = continueAfterMs >= 0 ? (1 << 9) - 1 : 0;
    // The clock of the old place must not make the decode thread drop the
    // frames of the new one as late before this thread runs again.
    if (clock)
        clock->clear();
    // Repositioned: the fix of the old place no longer holds.
    std::lock_guard<std::mutex> locker(stateLock);
    gpsFix = GpsFix();
}

bool RenderThread::currentRecord(FrameIndexEntry *out) const
{
    std::lock_guard<std::mutex> locker(stateLock);
    if (haveCurrent)
        *out = current;
    return haveCurrent;
}

GpsFix RenderThread::currentGpsFix() const
{
    std::lock_guard<std::mutex> locker(stateLock);
    return gpsFix;
}

RenderThread::Stats RenderThread::stats() const
{
    std::lock_guard<std::mutex> locker(stateLock);
    Stats s = counters;
    if (isRunning())
        s.audioBytes = player.playedBytes();
    return s;
}

void RenderThread::resetStats()
{
    std::lock_guard<std::mutex> locker(stateLock);
    counters = Stats();
}

void RenderThread::work()
{
    qCDebug(lcPlayback, "RenderThread::run() %s", audioKind == AudioPlayer::Pcm ? "IBX" : "PAVONA");
    // The device is opened on every start, by this thread, which alone
    // feeds, resets and closes it.
    if (audioChannelsWanted > 0 && player.open(audioKind, audioRateWanted, audioChannelsWanted) != 0)
        qCWarning(lcPlayback, "[%s::%d] DecodeThread::audioinitCodec error", "run", __LINE__);
    player.pause();
    audioRunning = false;
    audioRecording = -1;
    clockSet = false;
    videoTime = 0;
    videoRecording = -1;
    jumpSpanMs = 0;
    for (qint64 &t : channelTime)
        t = 0;
    {
        std::lock_guard<std::mutex> locker(stateLock);
        haveCurrent = false;
        gpsFix = GpsFix();
    }
    while (checkpoint()) {
        if (clockRestart.exchange(false)) {
            clockSet = false;
            startWait.invalidate(); // a new place waits for its channels afresh
            jumpSpanMs = 0;
            player.reset();
        }
        const int playing = mode.load();
        publishClock(!isPaused() && playing == Forward);
        if (isPaused()) {
            feedAudio(false);
            const int step = pendingStep.load();
            if (step && singleStep(step < 0)) {
                stepDoneOnce(pendingStep, step > 0 ? 1 : -1);
                emit stepDone();
            }
            clockSet = false; // the first frame after a pause restarts the clock
            nap(10);
            continue;
        }
        switch (mode.load()) {
        case Forward:
            playRound(false, false);
            feedAudio(speed.load() == 1.0f);
            break;
        case FastForward:
            playRound(true, false);
            feedAudio(false);
            break;
        case Backward:
            playRound(false, true);
            feedAudio(false);
            break;
        case FastBackward:
            playRound(true, true);
            feedAudio(false);
            break;
        default:
            qCDebug(lcPlayback, "mPlayMode : %d", mode.load());
            break;
        }
        nap(2);
    }
    publishClock(false);
    {
        std::lock_guard<std::mutex> locker(stateLock);
        counters.audioBytes = player.playedBytes();
    }
    player.close();
    // SDL keeps per-thread error buffers that it frees only at SDL_Quit; a
    // render thread is started for every play, so free them as it ends.
    SDL_TLSCleanup();
    qCDebug(lcPlayback, "[%s::%d]RenderThread...end", "run", __LINE__);
}

// Drops heads that are not to be shown; true when the head is a picture.
bool RenderThread::takeShowable(int c, bool fast)
{
    FrameQueue &q = decode->output(c);
    while (H26xFrameItem *head = q.peek()) {
        if (continuing.load() & (1 << c)) {
            // The frame on screen and those before it (in the direction of
            // play) were seen already.
            const qint64 t = continueMs.load();
            if (continueBackward ? head->timeMs() >= t : head->timeMs() <= t) {
                delete q.take();
                continue;
            }
            continuing.fetch_and(~(1 << c));
        }
        if (head->hasPicture() && (!fast || head->isKeyFrame()))
            return true;
        if (!head->hasPicture()) {
            std::lock_guard<std::mutex> locker(stateLock);
            ++counters.noPicture;
        }
        delete q.take();
    }
    return false;
}

// The clock of forward play at normal pace, for the decode thread's drop
// policy; none in every other state.
void RenderThread::publishClock(bool running)
{
    if (!clock)
        return;
    if (running && clockSet && videoRecording >= 0)
        clock->publish(clockBase + qint64(double(timer.elapsed()) * clockRate), videoRecording);
    else
        clock->clear();
}

void RenderThread::playRound(bool fast, bool back)
{
    const double rate = fast ? FastRate : double(speed.load());
    if (clockSet && rate != clockRate) {
        // Speed change: the clock goes on from where it is at the new rate.
        const double elapsed = double(timer.elapsed()) * clockRate;
        clockBase += back ? -qint64(elapsed) : qint64(elapsed);
        timer.restart();
        clockRate = rate;
    }
    // Forward play keeps its clock whatever a channel does: a picture too
    // late to show is dropped, and the channel's decoder drops frames to
    // catch up (DecodeThread).
    const bool dropLate = !back && !fast;
    if (!clockSet && dropLate && !everyChannelReady())
        return;
    for (int c = 0; c < channelCount; ++c) {
        if (!view->isVisible(c))
            continue;
        FrameQueue &q = decode->output(c);
        while (!isStopped() && takeShowable(c, fast)) {
            const qint64 ft = q.peek()->timeMs();
            if (!clockSet) {
                // Playback starts once a channel has a few pictures in hand.
                if (!back && !fast && q.size() <= BufferedBeforeShow && !decode->isDrained(c))
                    break;
                clockBase = ft;
                clockRate = rate;
                timer.restart();
                clockSet = true;
                startWait.invalidate();
                show(q.take(), 0);
                continue;
            }
            const qint64 moved = qint64(double(timer.elapsed()) * rate);
            qint64 now = back ? clockBase - moved : clockBase + moved;
            if (!back && jumpSpanMs > 0 && ft < segmentStartMs)
                now -= jumpSpanMs; // a frame from before the last jump ahead
            const qint64 ahead = back ? now - ft : ft - now; // > 0: not yet due
            const int late = int(double(-ahead) / rate);
            // The channel's time went back (a recording made earlier): the
            // clock follows, as for a jump; frames merely late are dropped.
            const bool wentBack = back ? ft > channelTime[c] : ft < channelTime[c];
            const bool behindJump = dropLate ? wentBack && late > MaxLateMs : ahead < -BehindJumpMs;
            if (ahead > AheadJumpMs || behindJump) {
                // A jump (another recording, a gap): the clock follows the picture.
                qCDebug(lcPlayback, "nextFrameTime:%lld beforeFrameTime:%lld", static_cast<long long>(ft),
                       static_cast<long long>(videoTime));
                if (!back && ahead > AheadJumpMs && ft >= clockBase + moved) {
                    segmentStartMs = ft;
                    jumpSpanMs = ft - now;
                } else {
                    jumpSpanMs = 0;
                }
                clockBase = ft;
                timer.restart();
                show(q.take(), 0);
                continue;
            }
            if (ahead > 0)
                break;
            if (dropLate && late > MaxLateMs) {
                // Passed over as if shown: the clock's recording, the
                // channel's time and the read-ahead move on with it, or a
                // channel late into the next recording would never be
                // judged late there and never catch up.
                std::unique_ptr<H26xFrameItem> dropped(q.take());
                channelTime[c] = ft;
                if (c == view->leadingChannel())
                    videoRecording = dropped->catalogueIndex();
                read->notePlayed(ft);
                std::lock_guard<std::mutex> locker(stateLock);
                ++counters.dropped[c];
                continue;
            }
            show(q.take(), late);
        }
    }
}

// Forward play starts its clock once every visible channel has a few
// pictures in hand, so that the slowest decoder (a 2160p camera beside
// 1080p ones) starts with the same lead as the rest instead of being late
// from its first picture; a channel with nothing coming holds the start
// back by MaxStartWaitMs at most.
bool RenderThread::everyChannelReady()
{
    bool ready = true;
    for (int c = 0; c < channelCount && ready; ++c)
        ready = !view->isVisible(c) || decode->output(c).size() > BufferedBeforeShow || decode->isDrained(c);
    if (ready)
        return true;
    if (!startWait.isValid())
        startWait.start();
    return startWait.elapsed() >= MaxStartWaitMs;
}

bool RenderThread::singleStep(bool back)
{
    const int lead = view->leadingChannel();
    if (!takeShowable(lead, false))
        return false;
    H26xFrameItem *first = decode->output(lead).take();
    const qint64 t0 = first->timeMs();
    show(first, 0);
    for (int c = 0; c < channelCount; ++c) {
        if (c == lead || !view->isVisible(c) || !takeShowable(c, false))
            continue;
        const qint64 t = decode->output(c).peek()->timeMs();
        if (back ? t >= t0 : t <= t0)
            show(decode->output(c).take(), 0);
    }
    return true;
}

void RenderThread::show(H26xFrameItem *item, int lateMs)
{
    const int c = item->channel();
    const qint64 ft = item->timeMs();
    if (c >= 0 && c < 9)
        channelTime[c] = ft;
    {
        std::lock_guard<std::mutex> locker(stateLock);
        if (lateMs > LateMs)
            ++counters.late;
        counters.maxLateMs = std::max(counters.maxLateMs, lateMs);
        if (c == view->leadingChannel()) {
            current = item->record();
            haveCurrent = true;
        }
    }
    if (c == view->leadingChannel()) {
        videoTime = ft;
        videoRecording = item->catalogueIndex();
        followTelemetry(ft, mode.load() >= Backward);
    }
    read->notePlayed(ft);
    // After the emit the item belongs to the receiver.
    emit decodedFrame(item);
}

void RenderThread::followTelemetry(qint64 ft, bool back)
{
    FrameQueue &gps = read->gps();
    while (H26xFrameItem *head = gps.peek()) {
        if (back ? head->timeMs() < ft : head->timeMs() > ft)
            break;
        H26xFrameItem *item = gps.take();
        if (item->size() == int(sizeof(GpsFix))) {
            static_assert(std::is_trivially_copyable<GpsFix>::value, "a GpsFix travels as bytes");
            std::lock_guard<std::mutex> locker(stateLock);
            std::memcpy(&gpsFix, item->data(), sizeof gpsFix);
        }
        delete item;
    }
    FrameQueue &gsensor = read->gsensor();
    while (H26xFrameItem *head = gsensor.peek()) {
        if (back ? head->timeMs() <= ft : head->timeMs() >= ft)
            break;
        delete gsensor.take();
    }
}

void RenderThread::feedAudio(bool active)
{
    FrameQueue &audio = read->audio();
    const bool playing = active && clockSet && player.isOpen();
    if (playing != audioRunning) {
        if (playing)
            player.resume();
        else
            player.pause();
        audioRunning = playing;
    }
    while (H26xFrameItem *head = audio.peek()) {
        if (head->catalogueIndex() != audioRecording)
            adoptAudioFormat(head->catalogueIndex());
        const qint64 at = head->timeMs();
        // Sound behind the picture is dropped, never played late.
        if (at < videoTime - AudioBehindMs) {
            delete audio.take();
            continue;
        }
        if (!playing || at > videoTime + AudioLeadMs)
            break;
        if (player.feed(head->data(), head->size()) == 1)
            break;
        delete audio.take();
    }
}

// The sound of another recording: the device follows its format, so a
// recording with sound after one without is heard, and one of another rate
// is not played at the wrong speed.
void RenderThread::adoptAudioFormat(int recordingIndex)
{
    audioRecording = recordingIndex;
    if (audioKind != AudioPlayer::Aac)
        return;
    ReadThread::RecordingInfo info;
    if (!read->recordingInfo(recordingIndex, &info) || info.audio.channels <= 0)
        return;
    const int channels = qMin(info.audio.channels, 2);
    if (player.isOpen() && player.deviceRate() == info.audio.sampleRate && player.deviceChannels() == channels)
        return;
    qCDebug(lcAudio, "[%s::%d]sound of recording %d: %d Hz, %d channels", "adoptAudioFormat", __LINE__, recordingIndex,
           info.audio.sampleRate, info.audio.channels);
    if (player.open(AudioPlayer::Aac, info.audio.sampleRate, info.audio.channels) != 0)
        qCWarning(lcPlayback, "[%s::%d] DecodeThread::audioinitCodec error", "adoptAudioFormat", __LINE__);
    player.pause();
    audioRunning = false;
}
