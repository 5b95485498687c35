#include "PlayCommand.h"

#include "CommandLine.h"
#include "PlaybackController.h"
#include "SourceOpening.h"
#include "StopSignal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <cstring>

namespace {

struct PlayArgs {
    QString source;
    int entry = 0;
    double seconds = 10;
    QString mode = QStringLiteral("forward");
    float speed = 1.0f;
    int visibleMask = PaneView::AllChannels;
    QString audioOut;
    bool havePassword = false;
    QByteArray password;
    Mf2Keys keys = defaultMf2Keys();
};

QString parsePlayArgs(const QStringList &args, PlayArgs *out)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == QLatin1String("--entry") && hasValue) {
            out->entry = args[++i].toInt(&ok);
            ok = ok && out->entry >= 0;
        } else if (a == QLatin1String("--seconds") && hasValue) {
            out->seconds = args[++i].toDouble(&ok);
            ok = ok && out->seconds > 0 && out->seconds <= 86400;
        } else if (a == QLatin1String("--mode") && hasValue) {
            out->mode = args[++i];
            ok = out->mode == QLatin1String("forward") || out->mode == QLatin1String("backward")
                || out->mode == QLatin1String("fast");
        } else if (a == QLatin1String("--speed") && hasValue) {
            out->speed = args[++i].toFloat(&ok);
            ok = ok && out->speed >= 0.1f && out->speed <= 4.0f;
        } else if (a == QLatin1String("--channels") && hasValue) {
            out->visibleMask = 0;
            for (const QString &part : args[++i].split(QLatin1Char(','))) {
                const int c = part.toInt(&ok);
                if (!ok || c < 0 || c > 8)
                    return QStringLiteral("--channels: channel numbers 0-8 separated by commas");
                out->visibleMask |= 1 << c;
            }
        } else if (a == QLatin1String("--audio-out") && hasValue) {
            out->audioOut = args[++i];
        } else if (a == QLatin1String("--password") && hasValue) {
            out->password = args[++i].toUtf8();
            out->havePassword = true;
        } else if (a == QLatin1String("--mf2-keys") && hasValue) {
            if (!parseKeys(args[++i], &out->keys))
                return QStringLiteral("--mf2-keys wants three numbers separated by commas");
        } else if (!a.startsWith(QLatin1String("--")) && out->source.isEmpty()) {
            out->source = a;
        } else {
            return QStringLiteral("unknown or incomplete option: %1").arg(a);
        }
        if (!ok)
            return QStringLiteral("bad value for %1").arg(a);
    }
    if (out->source.isEmpty())
        return QStringLiteral("no SOURCE given");
    return QString();
}

// Counts what the render thread shows instead of painting it.
class CountingSink : public QObject
{
public:
    int shown[9] = {};
    qint64 firstMs = -1;
    qint64 lastMs = -1;
    QVector<int> recordings;

    void take(H26xFrameItem *item)
    {
        const int c = item->channel();
        if (c >= 0 && c < 9)
            ++shown[c];
        if (c == 0) {
            if (firstMs < 0)
                firstMs = item->timeMs();
            lastMs = item->timeMs();
        }
        // Channels cross into the next recording a frame apart: each is listed once.
        if (!recordings.contains(item->catalogueIndex()))
            recordings.append(item->catalogueIndex());
        delete item;
    }
};

// A RIFF/WAVE header in front of the raw signed 16-bit samples SDL wrote.
bool writeWav(const QString &rawPath, const QString &wavPath, int rate, int channels)
{
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly))
        return false;
    const QByteArray samples = raw.readAll();
    QFile wav(wavPath);
    if (!wav.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    uchar h[44] = {};
    auto put32 = [&h](int at, quint32 v) { qToLittleEndian(v, h + at); };
    auto put16 = [&h](int at, quint16 v) { qToLittleEndian(v, h + at); };
    memcpy(h, "RIFF", 4);
    put32(4, quint32(36 + samples.size()));
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, quint16(channels));
    put32(24, quint32(rate));
    put32(28, quint32(rate * channels * 2));
    put16(32, quint16(channels * 2));
    put16(34, 16);
    memcpy(h + 36, "data", 4);
    put32(40, quint32(samples.size()));
    return wav.write(reinterpret_cast<const char *>(h), sizeof h) == qint64(sizeof h)
        && wav.write(samples) == samples.size();
}

} // namespace

int playCommand(const QStringList &args)
{
    PlayArgs a;
    const QString error = parsePlayArgs(args, &a);
    if (!error.isEmpty())
        return refuseArguments("play", error);
    installStopSignals();
    const QString rawAudio = a.audioOut.isEmpty() ? QString() : a.audioOut + QStringLiteral(".raw");
    if (!rawAudio.isEmpty()) {
        QFile::remove(rawAudio);
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(rawAudio));
    } else if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
        qputenv("SDL_AUDIODRIVER", "dummy");
    }

    Reader reader;
    usePassword(reader, a.keys, a.havePassword, a.password);
    QJsonObject catalogue;
    const QString openError = openSource(reader, a.source, &catalogue);
    if (!openError.isEmpty())
        return failCommand("play", openError);
    reader.setMode(reader.banks().isEmpty() ? 2 : 1);
    const int entries = reader.mode() == 1 ? reader.banks().size() : reader.files().size();
    if (a.entry >= entries)
        return failCommand("play", QStringLiteral("entry %1 out of range (%2 entries)").arg(a.entry).arg(entries));

    PlaybackController playback(&reader);
    CountingSink sink;
    QObject::connect(&playback, &PlaybackController::decodedFrame, &sink, [&sink](H26xFrameItem *item) { sink.take(item); },
                     Qt::QueuedConnection);
    bool ended = false;
    QObject::connect(&playback, &PlaybackController::playEnd, &sink, [&ended](int) { ended = true; });
    // Recordings that cannot be played are passed over; playback goes on.
    QJsonArray skipped;
    QObject::connect(&playback, &PlaybackController::recordingSkipped, &sink, [&skipped](int index, const QString &reason) {
        fprintf(stderr, "zidavova-tool play: entry %d skipped: %s\n", index, qPrintable(reason));
        skipped.append(QJsonObject{{QStringLiteral("entry"), index}, {QStringLiteral("reason"), reason}});
    });
    const bool single = a.visibleMask && !(a.visibleMask & (a.visibleMask - 1));
    int selected = 0;
    while (single && !(a.visibleMask & (1 << selected)))
        ++selected;
    playback.paneView()->publish(single ? PaneView::Single : PaneView::ThreeByThree, selected, a.visibleMask);

    QElapsedTimer wall;
    wall.start();
    const bool backward = a.mode == QLatin1String("backward");
    const auto start = [&](int entry) {
        if (playback.open(entry, backward) < 0)
            return false;
        playback.setSpeed(a.speed);
        if (a.mode == QLatin1String("fast"))
            playback.fastForward();
        return true;
    };
    if (!start(a.entry))
        return failCommand("play", QStringLiteral("entry %1 could not be played: %2").arg(a.entry).arg(playback.openError()));
    // A recording with other channels is played anew, as the viewer does.
    QObject::connect(&playback, &PlaybackController::layoutChanged, &sink, [&](int index) {
        if (!start(index)) {
            fprintf(stderr, "zidavova-tool play: entry %d skipped: %s\n", index, qPrintable(playback.openError()));
            skipped.append(QJsonObject{{QStringLiteral("entry"), index}, {QStringLiteral("reason"), playback.openError()}});
            ended = true;
        }
    });

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (wall.elapsed() >= qint64(a.seconds * 1000) || stopRequested()) {
            loop.quit();
            return;
        }
        // After the catalogue's end: quit once the last picture was shown.
        if (!ended)
            return;
        if (!playback.isRunning()) {
            loop.quit();
            return;
        }
        for (int c = 0; c < playback.channelCount(); ++c)
            if (playback.paneView()->isVisible(c)
                && (!playback.decodeThread()->isDrained(c) || playback.decodeThread()->output(c).size() > 0))
                return;
        loop.quit();
    });
    poll.start(20);
    loop.exec();
    playback.stop();
    QCoreApplication::processEvents(); // frames still queued to the sink
    const qint64 wallMs = wall.elapsed();
    const RenderThread::Stats stats = playback.renderThread()->stats();

    if (!rawAudio.isEmpty()) {
        const bool written = writeWav(rawAudio, a.audioOut, playback.renderThread()->audioRate(),
                                      playback.renderThread()->audioChannels());
        QFile::remove(rawAudio);
        if (!written)
            return failCommand("play", QStringLiteral("cannot write %1").arg(a.audioOut));
    }

    QJsonArray shown, dropped;
    for (int c = 0; c < playback.channelCount(); ++c) {
        shown.append(sink.shown[c]);
        dropped.append(playback.droppedFrames(c));
    }
    QJsonArray recordings;
    for (int r : sink.recordings)
        recordings.append(r);
    QJsonObject out;
    out.insert(QStringLiteral("shown"), shown);
    out.insert(QStringLiteral("dropped"), dropped);
    out.insert(QStringLiteral("noPicture"), stats.noPicture);
    out.insert(QStringLiteral("firstMs"), double(sink.firstMs));
    out.insert(QStringLiteral("lastMs"), double(sink.lastMs));
    out.insert(QStringLiteral("recordings"), recordings);
    out.insert(QStringLiteral("skipped"), skipped);
    out.insert(QStringLiteral("late"), QJsonObject{{QStringLiteral("count"), stats.late},
                                                   {QStringLiteral("maxMs"), stats.maxLateMs}});
    out.insert(QStringLiteral("audioBytes"), double(stats.audioBytes));
    out.insert(QStringLiteral("wallMs"), double(wallMs));
    printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return stopExitStatus();
}
