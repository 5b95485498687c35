// AudioPlayer through SDL's disk driver: what SDL would have played is
// captured to a file and judged by sox (frequency, loudness), for raw PCM and
// for ffmpeg-made AAC in ADTS framing.
#include "AudioPlayer.h"
#include "MediaTools.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Capture {
    QString path;
    int rate = 0;
    int channels = 0;
};

struct SoxStat {
    double frequency = 0;
    double rms = 0;
    double maximum = 0;
};

double statField(const QString &text, const char *name)
{
    const QRegularExpression pattern(QString(name) + R"(\s*:\s*(-?[0-9.]+))");
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
}

// sox's stat of the capture; trimSilence cuts the quiet lead-in and tail the
// device plays before the first and after the last sample.
SoxStat soxStat(const Capture &capture, bool trimSilence)
{
    QStringList arguments = {"-t", "raw", "-r", QString::number(capture.rate), "-e", "signed", "-b", "16",
                             "-c", QString::number(capture.channels), capture.path, "-n"};
    if (capture.channels > 1)
        arguments << "remix" << "-"; // stat judges one channel
    if (trimSilence)
        arguments << "silence" << "1" << "0.02" << "1%" << "reverse" << "silence" << "1" << "0.02" << "1%"
                  << "reverse";
    arguments << "stat";
    QString error;
    QByteArray report;
    runTool("sox", arguments, &error, &report);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    const QString text = QString::fromLocal8Bit(report);
    return {statField(text, "Rough\\s+frequency"), statField(text, "RMS\\s+amplitude"),
            statField(text, "Maximum\\s+amplitude")};
}

class AudioPlayerTest : public ::testing::Test
{
protected:
    std::vector<QByteArray> pcmTone(double seconds)
    {
        std::vector<QByteArray> items;
        const int samples = int(seconds * AudioPlayer::PcmRate);
        QByteArray item;
        for (int i = 0; i < samples; ++i) {
            const int16_t value = int16_t(16000 * std::sin(2 * M_PI * 440.0 * i / AudioPlayer::PcmRate));
            item.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
            if (item.size() == 2048 || i == samples - 1) {
                items.push_back(item);
                item.clear();
            }
        }
        return items;
    }

    // ffmpeg's AAC encoding of a 440 Hz sine, cut into its ADTS frames.
    std::vector<QByteArray> aacTone(int rate, int channels, AudioPlayer::AdtsHeader *header)
    {
        const QString path = m_dir.filePath(QString("tone-%1-%2.aac").arg(rate).arg(channels));
        QString error;
        runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                           QString("sine=frequency=440:sample_rate=%1").arg(rate), "-t", "1", "-ac",
                           QString::number(channels), "-c:a", "aac", "-f", "adts", path},
                &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        const QByteArray stream = readWholeFile(path);
        std::vector<QByteArray> frames;
        int offset = 0;
        AudioPlayer::AdtsHeader frame;
        while (AudioPlayer::parseAdtsHeader(reinterpret_cast<const uint8_t *>(stream.constData()) + offset,
                                            stream.size() - offset, &frame) &&
               frame.frameLength > 0) {
            if (offset == 0)
                *header = frame;
            frames.push_back(stream.mid(offset, frame.frameLength));
            offset += frame.frameLength;
        }
        EXPECT_EQ(offset, stream.size());
        return frames;
    }

    // Plays the items through the disk driver and returns the capture.
    Capture play(AudioPlayer::Kind kind, int rate, int channels, const std::vector<QByteArray> &items, int volume)
    {
        Capture capture;
        capture.path = m_dir.filePath(QString("capture-%1.raw").arg(m_captures++));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", capture.path.toLocal8Bit());
        AudioPlayer player;
        EXPECT_EQ(player.open(kind, rate, channels), 0);
        player.setVolume(volume);
        capture.rate = player.deviceRate();
        capture.channels = player.deviceChannels();
        for (const QByteArray &item : items) {
            int result;
            while ((result = player.feed(reinterpret_cast<const uint8_t *>(item.constData()), item.size())) == 1)
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

    QTemporaryDir m_dir;
    int m_captures = 0;
};

// The tone comes out at its own pitch: PCM at 8192 Hz mono, AAC at the
// stream's rate with the stream's channel count.
TEST_F(AudioPlayerTest, ToneKeepsItsFrequency)
{
    AudioPlayer::AdtsHeader mono, stereo;
    const std::vector<QByteArray> aacMono = aacTone(44100, 1, &mono);
    const std::vector<QByteArray> aacStereo = aacTone(48000, 2, &stereo);
    EXPECT_EQ(mono.sampleRate, 44100);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(stereo.sampleRate, 48000);
    EXPECT_EQ(stereo.channels, 2);
    const struct {
        const char *name;
        AudioPlayer::Kind kind;
        int rate, channels;
        std::vector<QByteArray> items;
    } cases[] = {
        {"pcm", AudioPlayer::Pcm, 0, 0, pcmTone(1.0)},
        {"aac mono", AudioPlayer::Aac, mono.sampleRate, mono.channels, aacMono},
        {"aac stereo", AudioPlayer::Aac, stereo.sampleRate, stereo.channels, aacStereo},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Capture capture = play(c.kind, c.rate, c.channels, c.items, 100);
        EXPECT_EQ(capture.rate, c.kind == AudioPlayer::Pcm ? 8192 : c.rate);
        EXPECT_EQ(capture.channels, c.kind == AudioPlayer::Pcm ? 1 : c.channels);
        const SoxStat stat = soxStat(capture, true);
        printf("%s: %d Hz x %d, sox rough frequency %.1f Hz, RMS %.3f\n", c.name, capture.rate, capture.channels,
               stat.frequency, stat.rms);
        EXPECT_NEAR(stat.frequency, 440.0, 440.0 * 0.02);
        EXPECT_GT(stat.rms, 0.05);
    }
}

// Volume scales the mix linearly up to 128; 0 is silence; percentages past
// 100 are clamped instead of amplifying and clipping.
TEST_F(AudioPlayerTest, VolumeScalesTheSignal)
{
    const std::vector<QByteArray> tone = pcmTone(0.6);
    const SoxStat full = soxStat(play(AudioPlayer::Pcm, 0, 0, tone, 100), true);
    const SoxStat half = soxStat(play(AudioPlayer::Pcm, 0, 0, tone, 50), true);
    const SoxStat silent = soxStat(play(AudioPlayer::Pcm, 0, 0, tone, 0), false);
    printf("RMS at volume 100: %.4f, 50: %.4f, 0: max %.4f\n", full.rms, half.rms, silent.maximum);
    EXPECT_NEAR(full.maximum, 16000.0 / 32768, 0.01);
    EXPECT_NEAR(half.rms / full.rms, 64.0 / 128, 0.03);
    EXPECT_EQ(silent.maximum, 0.0);

    AudioPlayer player;
    const struct {
        int percent, volume;
    } steps[] = {{100, 128}, {150, 128}, {50, 64}, {-5, 0}, {1, 1}};
    for (const auto &step : steps) {
        player.setVolume(step.percent);
        EXPECT_EQ(player.volume(), step.volume) << step.percent;
    }
}

// An ADTS frame that does not fit the assembly buffer is refused and
// dropped; the stream goes on with the next frame.
TEST_F(AudioPlayerTest, OversizedAdtsFrameIsRefused)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    AudioPlayer player;
    uint8_t frame[AudioPlayer::AssemblySize + 1] = {0xFF, 0xF1, 0x50, 0x80};
    EXPECT_EQ(player.feed(frame, sizeof frame), -1) << "not open";
    AudioPlayer::AdtsHeader header;
    const std::vector<QByteArray> frames = aacTone(44100, 1, &header);
    ASSERT_EQ(player.open(AudioPlayer::Aac, header.sampleRate, header.channels), 0);
    EXPECT_EQ(player.feed(frame, sizeof frame), -1);
    for (const QByteArray &item : frames)
        EXPECT_EQ(player.feed(reinterpret_cast<const uint8_t *>(item.constData()), item.size()), 0);
    player.finishInput();
    EXPECT_GT(player.bufferedBytes() + player.playedBytes(), 0);
}

// A paused device takes nothing from the ring; resuming plays on.
TEST_F(AudioPlayerTest, PauseHoldsThePlayedPosition)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    AudioPlayer player;
    ASSERT_EQ(player.open(AudioPlayer::Pcm), 0);
    for (const QByteArray &item : pcmTone(2.0))
        ASSERT_EQ(player.feed(reinterpret_cast<const uint8_t *>(item.constData()), item.size()), 0);
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

} // namespace
