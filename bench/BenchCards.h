#pragma once
// The playback benchmark cards: record cards of 1080p30 HEVC (and one
// 2160p30 channel) with film grain at a road's bit rate, made once by the
// card generator into <build>/bench-cards and reused while the options that
// made them are unchanged. Also the little the harnesses share: the load
// average and a child's peak resident memory.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>

struct PlayCard
{
    const char *name;
    const char *title;
    int channels;
    int fps;
    int seconds;
    QStringList sizeAndRate; // cardgen options for the sizes and bit rates
    // Targets of the play figures.
    double minShownPercent;
    int maxLateMs;
    double maxPeakMiB; // 0: none
    double minDecodeRatio; // 0: none
};

inline QList<PlayCard> playCards()
{
    return {
        {"play-8x1080p30-grain-10s", "8 x 1080p30", 8, 30, 10, {"--size", "1920x1080", "--bitrate", "4000"}, 95.0, 100,
         800, 1.0},
        {"play-4x1080p30-grain-10s", "4 x 1080p30", 4, 30, 10, {"--size", "1920x1080", "--bitrate", "4000"}, 100.0, 50,
         300, 1.0},
        {"play-2160p30+3x1080p30-grain-10s", "2160p30 + 3 x 1080p30", 4, 30, 10,
         {"--sizes", "3840x2160,1920x1080", "--bitrate", "12000,4000"}, 97.0, 100, 0, 0},
    };
}

// A record card <build>/bench-cards/<name> made by the card generator with
// options, generated when missing or made with other options; empty when the
// generator failed.
inline QString generatedCard(const QString &build, const QString &name, const QStringList &options)
{
    const QString dir = build + "/bench-cards/" + name;
    const QStringList args = QStringList{"record", dir} + options;
    const QByteArray stamp = options.join(' ').toUtf8();
    QFile stampFile(dir + ".options");
    if (QFileInfo(dir + "/record").isDir() && stampFile.open(QIODevice::ReadOnly) && stampFile.readAll() == stamp)
        return dir;
    stampFile.close();
    QDir(dir).removeRecursively();
    QDir().mkpath(build + "/bench-cards");
    fprintf(stderr, "generating %s (once; minutes on two cores)\n", qPrintable(dir));
    if (QProcess::execute(build + "/tools/cardgen/cardgen", args) != 0)
        return QString();
    if (!stampFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || stampFile.write(stamp) != stamp.size())
        return QString();
    return dir;
}

inline QString benchCard(const QString &build, const PlayCard &card)
{
    return generatedCard(build, card.name,
                         QStringList{"--channels", QString::number(card.channels), "--fps", QString::number(card.fps),
                                     "--seconds", QString::number(card.seconds), "--recordings", "1", "--grain", "14"} +
                             card.sizeAndRate);
}

// The 60-second 4 x 1080p card the export and load benchmarks share.
inline QString exportCard(const QString &build)
{
    return generatedCard(build, "load-4x1080p-60s",
                         {"--channels", "4", "--size", "1920x1080", "--fps", "30", "--seconds", "60", "--recordings", "1"});
}

inline QString firstRecording(const QString &root)
{
    const QFileInfoList files = QDir(root + "/record").entryInfoList(QDir::Files, QDir::Name);
    return files.isEmpty() ? QString() : files.first().filePath();
}

// The 1-minute load average, to say under what load a figure was taken.
inline double loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().split(' ').value(0).toDouble();
}

// A running child's high-water mark of resident memory in KiB.
inline double peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    return 0;
}
