// Playback figures on a 4-channel 1080p30 HEVC record card of 22 s (made
// once by the card generator into <build>/bench-cards): decode throughput of
// the decode thread beside ffmpeg decoding the same file with two threads,
// and zidavova-tool play for 20 s at speed 1.0 (share of frames shown,
// worst lateness, peak resident memory).
#include "DecodeThread.h"
#include "ReadThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Channels = 4;
constexpr int Fps = 30;
constexpr int PlaySeconds = 20;

QString card(const QString &build)
{
    const QString dir = build + "/bench-cards/play-4x1080p-22s";
    if (QFileInfo(dir + "/record").isDir())
        return dir;
    QDir(dir).removeRecursively();
    QDir().mkpath(build + "/bench-cards");
    fprintf(stderr, "generating %s (once; a few minutes on two cores)\n", qPrintable(dir));
    const int rc = QProcess::execute(build + "/tools/cardgen/cardgen",
                                     {"record", dir, "--channels", QString::number(Channels), "--size", "1920x1080",
                                      "--fps", QString::number(Fps), "--seconds", "22", "--recordings", "1"});
    return rc == 0 ? dir : QString();
}

// Pictures per second the decode thread delivers for the whole recording.
double decodeThreadFps(const QString &root)
{
    Reader reader;
    if (reader.scanCard(root) <= 0)
        return -1;
    reader.setMode(2);
    PaneView view;
    ReadThread read(&reader, &view);
    DecodeThread decode(&read, &view);
    read.setCardKind(2);
    if (read.openRecording(0, false) < 0)
        return -1;
    QVector<PaneSpec> specs;
    for (const VideoTrack &t : reader.videoTracks())
        specs.append(PaneSpec{specs.size(), int(t.width), int(t.height)});
    read.setChannelCount(specs.size());
    decode.setChannelCount(specs.size());
    QElapsedTimer timer;
    timer.start();
    read.startReading();
    if (decode.initCodec(specs) < 0)
        return -1;
    long pictures = 0;
    for (;;) {
        // Sound and telemetry are the render thread's; read-ahead waits on them.
        read.audio().clear();
        read.gps().clear();
        read.gsensor().clear();
        bool done = read.hasEnded();
        for (int c = 0; c < specs.size(); ++c) {
            while (H26xFrameItem *item = decode.output(c).take()) {
                pictures += item->hasPicture();
                delete item;
            }
            done = done && decode.isDrained(c);
        }
        if (done)
            break;
        QThread::usleep(500);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    decode.stopAndWait();
    read.stopAndWait();
    fprintf(stderr, "decode thread: %ld pictures in %.2f s\n", pictures, seconds);
    return pictures / seconds;
}

double ffmpegFps(const QString &file, int frames)
{
    QElapsedTimer t;
    t.start();
    const int rc = QProcess::execute("ffmpeg", {"-v", "error", "-nostdin", "-threads", "2", "-i", file, "-map", "0:v",
                                                "-f", "null", "-"});
    return rc == 0 ? frames / (double(t.nsecsElapsed()) / 1e9) : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString build = qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath());
    const QString root = card(build);
    if (root.isEmpty()) {
        fprintf(stderr, "bench_play: cannot generate the card\n");
        return 1;
    }
    const QFileInfoList files = QDir(root + "/record").entryInfoList(QDir::Files, QDir::Name);
    if (files.isEmpty())
        return 1;

    QProcess tool;
    tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    tool.start(build + "/cli/zidavova-tool", {"play", root, "--seconds", QString::number(PlaySeconds), "--speed", "1"});
    // The child's high-water mark of resident memory, read while it runs.
    double peakKiB = 0;
    while (!tool.waitForFinished(100)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(tool.processId()));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peakKiB = std::max(peakKiB, line.mid(6).trimmed().split(' ').value(0).toDouble());
        if (tool.state() == QProcess::NotRunning)
            break;
    }
    if (tool.exitCode() != 0) {
        fprintf(stderr, "bench_play: play failed: %s\n", tool.readAllStandardError().constData());
        return 1;
    }
    const QJsonObject out = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    const QJsonArray shown = out.value("shown").toArray();
    const double spanMs = out.value("lastMs").toDouble() - out.value("firstMs").toDouble();
    const double expected = (spanMs * Fps / 1000.0 + 1) * shown.size();
    double total = 0;
    for (const QJsonValue &v : shown)
        total += v.toInt();
    printf("play: %d s of %d x 1080p30: %.0f of %.0f frames shown (%.1f%%, target >= 97%%), late %d, worst %d ms "
           "(target < 100), peak RSS %.0f MiB (target < 600)\n",
           PlaySeconds, int(shown.size()), total, expected, expected > 0 ? 100.0 * total / expected : 0.0,
           out.value("late").toObject().value("count").toInt(), out.value("late").toObject().value("maxMs").toInt(),
           peakKiB / 1024.0);

    // Best of three rounds each, taken in turn: the machine is shared and noisy.
    double ours = 0, theirs = 0;
    for (int round = 0; round < 3; ++round) {
        ours = std::max(ours, decodeThreadFps(root));
        theirs = std::max(theirs, ffmpegFps(files.first().filePath(), Channels * Fps * 22));
    }
    printf("decode: decode thread %.1f pictures/s, ffmpeg -threads 2 %.1f pictures/s, ratio %.2f (target >= 0.90)\n",
           ours, theirs, theirs > 0 ? ours / theirs : 0.0);

    return 0;
}
