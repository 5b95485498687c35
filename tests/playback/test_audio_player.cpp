// AudioPlayer through SDL's disk driver: what SDL would have played is
// captured to a file and judged by sox (frequency, loudness), for raw PCM and
// for ffmpeg-made AAC in ADTS framing.
#include "AudioPlayer.h"
#include "ProcessRun.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using Items = std::vector<QByteArray>;

struct Capture { QString path; int rate = 0, channels = 0; };

static const uint8_t *bytes(const QByteArray &b) { return reinterpret_cast<const uint8_t *>(b.constData()); }

// A 440 Hz sine at amplitude 16000 as PCM, in 2048-byte items.
static Items pcmTone(double seconds)
{
    QByteArray pcm;
    for (int i = 0; i < int(seconds * AudioPlayer::PcmRate); ++i) {
        const int16_t value = int16_t(16000 * std::sin(2 * M_PI * 440.0 * i / AudioPlayer::PcmRate));
        pcm.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    }
    Items items;
    for (int at = 0; at < pcm.size(); at += 2048)
        items.push_back(pcm.mid(at, 2048));
    return items;
}

// ffmpeg's AAC encoding of a 440 Hz sine, cut into its ADTS frames.
static Items aacTone(int rate, int channels)
{
    const QByteArray stream =
        toolOutput("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", QString("sine=frequency=440:sample_rate=%1").arg(rate),
                              "-t", "1", "-ac", QString::number(channels), "-c:a", "aac", "-f", "adts", "-"});
    Items frames;
    int offset = 0;
    AudioPlayer::AdtsHeader frame;
    while (AudioPlayer::parseAdtsHeader(bytes(stream) + offset, stream.size() - offset, &frame) &&
           frame.frameLength > 0) {
        EXPECT_TRUE(frame.sampleRate == rate && frame.channels == channels) << frame.sampleRate << " " << frame.channels;
        frames.push_back(stream.mid(offset, frame.frameLength));
        offset += frame.frameLength;
    }
    EXPECT_EQ(offset, stream.size());
    return frames;
}

// A field of sox's stat of one channel of the capture; trimSilence cuts the
// quiet lead-in and tail the device plays around the samples.
static double soxStat(const Capture &capture, const QString &field, bool trimSilence = true)
{
    QStringList arguments = {"-t", "raw", "-r", QString::number(capture.rate), "-e", "signed", "-b", "16",
                             "-c", QString::number(capture.channels), capture.path, "-n"};
    if (capture.channels > 1)
        arguments << "remix" << "-";
    if (trimSilence)
        arguments << "silence" << "1" << "0.02" << "1%" << "reverse" << "silence" << "1" << "0.02" << "1%" << "reverse";
    const ProcessRun sox = runProcess("sox", arguments << "stat");
    EXPECT_EQ(sox.exitCode, 0) << sox.err.constData();
    for (const QString &line : QString::fromLocal8Bit(sox.err).split('\n'))
        if (line.section(':', 0, 0).simplified() == field)
            return line.section(':', 1).toDouble();
    ADD_FAILURE() << "sox gave no " << field.toStdString();
    return -1;
}

// Plays the items through the disk driver and returns the capture.
static Capture play(AudioPlayer::Kind kind, const Items &items, int volume = 100, int rate = 0, int channels = 0)
{
    static QTemporaryDir dir;
    static int captures = 0;
    Capture capture{dir.filePath(QString("capture-%1.raw").arg(captures++))};
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", capture.path.toLocal8Bit());
    AudioPlayer player;
    EXPECT_EQ(player.open(kind, rate, channels), 0);
    player.setVolume(volume);
    capture.rate = player.deviceRate();
    capture.channels = player.deviceChannels();
    for (const QByteArray &item : items) {
        int result;
        while ((result = player.feed(bytes(item), item.size())) == 1)
            QThread::msleep(5);
        EXPECT_EQ(result, 0);
    }
    player.finishInput();
    QElapsedTimer timer;
    timer.start();
    while (player.bufferedBytes() > 0 && timer.elapsed() < 10000)
        QThread::msleep(10);
    EXPECT_EQ(player.bufferedBytes(), 0);
    QThread::msleep(300); // the last buffer reaches the file
    player.close();
    return capture;
}

// The tone comes out at its own pitch: PCM at 8192 Hz mono whatever was
// asked, AAC at the stream's rate with the stream's channel count.
TEST(AudioPlayer, ToneKeepsItsFrequency)
{
    const struct { AudioPlayer::Kind kind; int rate, channels; Items items; } cases[] = {{AudioPlayer::Pcm, 8192, 1, pcmTone(1.0)},
                 {AudioPlayer::Aac, 44100, 1, aacTone(44100, 1)},
                 {AudioPlayer::Aac, 48000, 2, aacTone(48000, 2)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rate);
        const bool pcm = c.kind == AudioPlayer::Pcm;
        const Capture capture = play(c.kind, c.items, 100, pcm ? 44100 : c.rate, pcm ? 2 : c.channels);
        EXPECT_EQ(capture.rate, c.rate);
        EXPECT_EQ(capture.channels, c.channels);
        EXPECT_NEAR(soxStat(capture, "Rough frequency"), 440.0, 440.0 * 0.02);
        EXPECT_GT(soxStat(capture, "RMS amplitude"), 0.05);
    }
}

// Volume scales the mix linearly up to 128; 0 is silence; percentages past
// 100 are clamped instead of amplifying and clipping.
TEST(AudioPlayer, VolumeScalesTheSignal)
{
    const Items tone = pcmTone(0.6);
    const Capture full = play(AudioPlayer::Pcm, tone, 100);
    EXPECT_NEAR(soxStat(full, "Maximum amplitude"), 16000.0 / 32768, 0.01);
    EXPECT_NEAR(soxStat(play(AudioPlayer::Pcm, tone, 50), "RMS amplitude") / soxStat(full, "RMS amplitude"), 0.5, 0.03);
    EXPECT_EQ(soxStat(play(AudioPlayer::Pcm, tone, 0), "Maximum amplitude", false), 0.0);

    AudioPlayer player;
    const std::pair<int, int> steps[] = {{100, 128}, {150, 128}, {50, 64}, {-5, 0}, {1, 1}};
    for (const auto &step : steps) {
        player.setVolume(step.first);
        EXPECT_EQ(player.volume(), step.second) << step.first;
    }
}

// An ADTS frame that does not fit the assembly buffer is refused and
// dropped; the stream goes on with the next frame.
TEST(AudioPlayer, OversizedAdtsFrameIsRefused)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    AudioPlayer player;
    uint8_t frame[AudioPlayer::AssemblySize + 1] = {0xFF, 0xF1, 0x50, 0x80};
    EXPECT_EQ(player.feed(frame, sizeof frame), -1) << "not open";
    ASSERT_EQ(player.open(AudioPlayer::Aac, 44100, 1), 0);
    EXPECT_EQ(player.feed(frame, sizeof frame), -1);
    for (const QByteArray &item : aacTone(44100, 1))
        EXPECT_EQ(player.feed(bytes(item), item.size()), 0);
    player.finishInput();
    EXPECT_GT(player.bufferedBytes() + player.playedBytes(), 0);
}

// A paused device takes nothing from the ring; resuming plays on.
TEST(AudioPlayer, PauseHoldsThePlayedPosition)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    AudioPlayer player;
    ASSERT_EQ(player.open(AudioPlayer::Pcm), 0);
    for (const QByteArray &item : pcmTone(2.0))
        ASSERT_EQ(player.feed(bytes(item), item.size()), 0);
    player.pause();
    QThread::msleep(200);
    const int64_t played = player.playedBytes();
    QThread::msleep(300);
    EXPECT_EQ(player.playedBytes(), played);
    player.resume();
    QThread::msleep(500);
    EXPECT_GT(player.playedBytes(), played);
    player.reset();
    EXPECT_EQ(player.bufferedBytes(), 0);
}
