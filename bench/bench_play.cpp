// Real-time playback figures on the benchmark cards (BenchCards.h): each card
// is played by `zidavova-tool play` at speed 1.0 to its end (frames shown and
// dropped per channel, worst lateness, peak resident memory), then the read
// and decode threads alone decode it as fast as they can, beside ffmpeg
// decoding the same file with two threads (niced as the decoders are), in
// turns, best of three each.
// `bench_play NAME...` runs only the cards whose names contain one of NAMEs.
#include "BenchCards.h"
#include "DecodeThread.h"
#include "ReadThread.h"
#include "ThreadPriority.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QThread>

namespace {

constexpr int Rounds = 3;

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
    return pictures / seconds;
}

double ffmpegFps(const QString &file, int pictures)
{
    QElapsedTimer t;
    t.start();
    // At the niceness the viewer's decoders run at, so that a busy machine
    // takes from both alike.
    const int rc = QProcess::execute("nice", {"-n", QString::number(ThreadPriority::DecodeNiceness), "ffmpeg", "-v",
                                              "error", "-nostdin", "-threads", "2", "-i", file, "-map", "0:v", "-f",
                                              "null", "-"});
    return rc == 0 ? pictures / (double(t.nsecsElapsed()) / 1e9) : -1;
}

QString joined(const QJsonArray &values)
{
    QStringList parts;
    for (const QJsonValue &v : values)
        parts.append(QString::number(v.toInt()));
    return parts.join(' ');
}

// Plays the card to its end with the command-line player; false when it failed.
bool playFigures(const QString &build, const QString &root, const PlayCard &card)
{
    QProcess tool;
    tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    tool.start(build + "/cli/zidavova-tool",
               {"play", root, "--seconds", QString::number(card.seconds + 10), "--speed", "1"});
    double peakKiB = 0;
    while (!tool.waitForFinished(100)) {
        peakKiB = std::max(peakKiB, peakResidentKiB(tool.processId()));
        if (tool.state() == QProcess::NotRunning)
            break;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        fprintf(stderr, "bench_play: play failed: %s\n", tool.readAllStandardError().constData());
        return false;
    }
    const QJsonObject out = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    const QJsonArray shown = out.value("shown").toArray();
    const int expected = card.fps * card.seconds;
    double worstShare = 100.0;
    for (const QJsonValue &v : shown)
        worstShare = std::min(worstShare, 100.0 * v.toInt() / expected);
    const QJsonValue dropped = out.value("dropped");
    const int maxLate = out.value("late").toObject().value("maxMs").toInt();
    printf("play: shown per channel %s of %d (worst %.1f%%, target >= %.0f%%); dropped %s; worst lateness %d ms "
           "(target < %d); peak RSS %.0f MiB%s\n",
           qPrintable(joined(shown)), expected, worstShare, card.minShownPercent,
           dropped.isArray() ? qPrintable(joined(dropped.toArray())) : "not reported", maxLate, card.maxLateMs,
           peakKiB / 1024.0,
           card.maxPeakMiB > 0 ? qPrintable(QStringLiteral(" (target < %1)").arg(card.maxPeakMiB)) : "");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zidavova.*.debug=false"));
    const QString build = qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath());
    const QStringList only = app.arguments().mid(1);
    int failures = 0;
    for (const PlayCard &card : playCards()) {
        if (!only.isEmpty()
            && std::none_of(only.begin(), only.end(), [&](const QString &o) { return QString(card.name).contains(o); }))
            continue;
        const QString root = benchCard(build, card);
        const QString file = firstRecording(root);
        if (root.isEmpty() || file.isEmpty()) {
            fprintf(stderr, "bench_play: cannot generate %s\n", card.name);
            ++failures;
            continue;
        }
        printf("-- %s, %d s, film grain (load average %.2f)\n", card.title, card.seconds, loadAverage());
        fflush(stdout);
        if (!playFigures(build, root, card))
            ++failures;
        fflush(stdout);

        double ours = 0, theirs = 0;
        for (int round = 0; round < Rounds; ++round) {
            ours = std::max(ours, decodeThreadFps(root));
            theirs = std::max(theirs, ffmpegFps(file, card.channels * card.fps * card.seconds));
        }
        printf("decode: decode thread %.1f pictures/s, ffmpeg -threads 2 %.1f pictures/s, ratio %.2f%s "
               "(load average %.2f)\n",
               ours, theirs, theirs > 0 ? ours / theirs : 0.0,
               card.minDecodeRatio > 0 ? qPrintable(QStringLiteral(" (target >= %1)").arg(card.minDecodeRatio, 0, 'f', 1))
                                       : "",
               loadAverage());
        fflush(stdout);
    }
    return failures ? 1 : 0;
}
