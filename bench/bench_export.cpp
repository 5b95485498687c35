// Export figure: zidavova-tool export of 60 s of 4 channels of 1080p HEVC
// with audio and subtitles (the card bench_load makes, in
// <build>/bench-cards), beside ffmpeg copying the same recording into one
// Matroska file, in the same run. Best of three each, taken in turn.
#include "BenchCards.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Rounds = 3;
constexpr double TargetRatio = 1.0;

// Milliseconds the command took, or -1 when it failed.
double timed(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString build = qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath());
    const QString dir = exportCard(build);
    const QFileInfoList files = QDir(dir + "/record").entryInfoList({"*.mp4"}, QDir::Files, QDir::Name);
    if (dir.isEmpty() || files.isEmpty()) {
        fprintf(stderr, "bench_export: cannot generate the recording\n");
        return 1;
    }
    QTemporaryDir out(build + "/bench-export-XXXXXX");
    double ours = 1e300, theirs = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        const double o = timed(build + "/cli/zidavova-tool",
                               {"export", dir, "--entry", "0", "--out", out.filePath("trip"), "--audio", "--subtitles",
                                "date,speed,location", "--overwrite", "--quiet"});
        // Matroska holds no data stream: everything else of the recording.
        const double f = timed("ffmpeg", {"-v", "error", "-nostdin", "-y", "-i", files.first().filePath(), "-map", "0",
                                          "-map", "-0:d", "-c", "copy", out.filePath("ffmpeg.mkv")});
        if (o < 0 || f < 0) {
            fprintf(stderr, "bench_export: the export or ffmpeg failed\n");
            return 1;
        }
        ours = std::min(ours, o);
        theirs = std::min(theirs, f);
    }
    qint64 written = 0;
    for (const QFileInfo &f : QDir(out.path()).entryInfoList({"trip-*"}, QDir::Files))
        written += f.size();
    const double ratio = ours / theirs;
    printf("recording: %s (%.1f MiB, 4 x 1920x1080 HEVC, AAC, telemetry, 60 s)\n",
           qPrintable(files.first().fileName()), double(files.first().size()) / 1048576.0);
    printf("zidavova-tool export, 4 channels, audio, subtitles: %.1f ms (%.1f MiB written), best of %d\n", ours,
           double(written) / 1048576.0, Rounds);
    printf("ffmpeg -i REC -map 0 -map -0:d -c copy OUT.mkv: %.1f ms, best of %d\n", theirs, Rounds);
    printf("ratio ours/ffmpeg: %.2fx (target <= %.1fx) %s\n", ratio, TargetRatio, ratio <= TargetRatio ? "ok" : "OVER");
    return 0;
}
