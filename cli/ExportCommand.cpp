#include "ExportCommand.h"

#include "CommandLine.h"
#include "SaveToFileThread.h"
#include "SourceOpening.h"
#include "StopSignal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <unistd.h>

const char *const exportUsage =
    "usage: zidavova-tool export SOURCE (--entry N | --from TIME --to TIME) --out BASE [--channels LIST]\n"
    "                            [--audio] [--subtitles date,speed,location] [--overwrite]\n"
    "                            [--password TEXT] [--mf2-keys K0,K1,K2]\n"
    "Copies a time range of SOURCE (card, folder, recording file or .smb archive) into one Matroska file\n"
    "per channel, BASE-<channel>.mkv, packets as recorded, and SAMI subtitles BASE-<channel>.smi when an\n"
    "item is asked; BASE's folder is made. Progress on standard error, a JSON summary on standard output:\n"
    "{\"files\":[{\"channel\":0,\"path\":\"...\",\"status\":\"written|skipped|failed\",\"packets\":N,\"reason\":\"...\"}]}\n"
    "Exit status 0 when every channel was written or skipped, 1 when one failed. Ctrl+C stops cleanly and\n"
    "leaves no partial file (exit status 130, or 143 for SIGTERM).\n"
    "  --entry N            the span of catalogue entry N, as catalog prints it\n"
    "  --from TIME          start: seconds since 1970 or local \"YYYY-MM-DD HH:MM:SS\"\n"
    "  --to TIME            end, included, in the same forms\n"
    "  --out BASE           folder and base name of the files\n"
    "  --channels LIST      channel numbers separated by commas (default all)\n"
    "  --audio              keep the sound\n"
    "  --subtitles ITEMS    date, speed, location, separated by commas\n"
    "  --overwrite          replace existing files (else their channel is skipped)\n"
    "  --password TEXT      password of a locked card, archive or MF2 recording\n"
    "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n";

namespace {

struct ExportArgs {
    QString source;
    int entry = -1;
    qint64 from = -1;
    qint64 to = -1;
    QString out;
    QVector<int> channels;
    bool audio = false;
    bool dateTime = false;
    bool speed = false;
    bool location = false;
    bool overwrite = false;
    bool havePassword = false;
    QByteArray password;
    Mf2Keys keys = defaultMf2Keys();
};

bool parseTime(const QString &text, qint64 *out)
{
    bool number = false;
    const qint64 seconds = text.toLongLong(&number);
    if (number) {
        *out = seconds;
        return seconds >= 0;
    }
    const QDateTime local = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!local.isValid())
        return false;
    *out = local.toSecsSinceEpoch();
    return true;
}

QString parseArgs(const QStringList &args, ExportArgs *a)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const QString value = hasValue ? args[i + 1] : QString();
        bool ok = true;
        if (arg == QLatin1String("--entry") && hasValue) {
            a->entry = value.toInt(&ok);
            ok = ok && a->entry >= 0;
            ++i;
        } else if ((arg == QLatin1String("--from") || arg == QLatin1String("--to")) && hasValue) {
            ok = parseTime(value, arg == QLatin1String("--from") ? &a->from : &a->to);
            ++i;
        } else if (arg == QLatin1String("--out") && hasValue) {
            a->out = value;
            ok = !value.isEmpty();
            ++i;
        } else if (arg == QLatin1String("--channels") && hasValue) {
            for (const QString &part : value.split(QLatin1Char(','))) {
                const int c = part.toInt(&ok);
                if (!ok || c < 0 || c >= SaveToFileThread::MaxChannels)
                    return QStringLiteral("--channels: channel numbers 0-8 separated by commas");
                if (!a->channels.contains(c))
                    a->channels.append(c);
            }
            ++i;
        } else if (arg == QLatin1String("--subtitles") && hasValue) {
            for (const QString &item : value.split(QLatin1Char(','))) {
                if (item == QLatin1String("date"))
                    a->dateTime = true;
                else if (item == QLatin1String("speed"))
                    a->speed = true;
                else if (item == QLatin1String("location"))
                    a->location = true;
                else
                    return QStringLiteral("--subtitles: items date, speed, location separated by commas");
            }
            ++i;
        } else if (arg == QLatin1String("--password") && hasValue) {
            a->password = value.toUtf8();
            a->havePassword = true;
            ++i;
        } else if (arg == QLatin1String("--mf2-keys") && hasValue) {
            ok = parseKeys(value, &a->keys);
            ++i;
        } else if (arg == QLatin1String("--audio")) {
            a->audio = true;
        } else if (arg == QLatin1String("--overwrite")) {
            a->overwrite = true;
        } else if (!arg.startsWith(QLatin1String("-")) && a->source.isEmpty()) {
            a->source = arg;
        } else {
            return QStringLiteral("unknown or incomplete option %1").arg(arg);
        }
        if (!ok)
            return QStringLiteral("bad value for %1: %2").arg(arg, value);
    }
    if (a->source.isEmpty() || a->out.isEmpty())
        return QStringLiteral("SOURCE and --out BASE are needed");
    const bool byTime = a->from >= 0 || a->to >= 0;
    if ((a->entry >= 0) == byTime || (byTime && (a->from < 0 || a->to < 0)))
        return QStringLiteral("give either --entry N or both --from TIME and --to TIME");
    if (byTime && a->to < a->from)
        return QStringLiteral("--to lies before --from");
    return QString();
}

// Percent on one line: rewritten in place on a terminal, one line each otherwise.
void showProgress(int percent)
{
    if (isatty(STDERR_FILENO))
        fprintf(stderr, "\rexport: %3d%%", percent);
    else
        fprintf(stderr, "export: %d%%\n", percent);
    fflush(stderr);
}

} // namespace

int exportCommand(const QStringList &args)
{
    installStopSignals();
    ExportArgs a;
    const QString refused = parseArgs(args, &a);
    if (!refused.isEmpty())
        return refuseArguments("export", refused);
    Reader reader;
    usePassword(reader, a.keys, a.havePassword, a.password);
    QJsonObject catalogue;
    const QString error = openSource(reader, a.source, &catalogue);
    if (!error.isEmpty())
        return failCommand("export", error);
    reader.setMode(catalogue.value(QStringLiteral("mode")).toInt());
    const QJsonArray entries = catalogue.value(QStringLiteral("entries")).toArray();
    if (a.entry >= 0) {
        if (a.entry >= entries.size())
            return refuseArguments("export", QStringLiteral("no entry %1 in %2 (it has %3)")
                                                 .arg(a.entry).arg(a.source).arg(entries.size()));
        const QJsonObject e = entries.at(a.entry).toObject();
        a.from = qint64(e.value(QStringLiteral("start")).toDouble());
        a.to = qint64(e.value(QStringLiteral("end")).toDouble());
    }
    const int channels = qBound(1, catalogue.value(QStringLiteral("channels")).toInt(), SaveToFileThread::MaxChannels);
    if (a.channels.isEmpty()) {
        for (int c = 0; c < channels; ++c)
            a.channels.append(c);
    }
    for (int c : qAsConst(a.channels)) {
        if (c >= channels)
            return refuseArguments("export", QStringLiteral("%1 has no channel %2 (channels 0-%3)")
                                                 .arg(a.source).arg(c).arg(channels - 1));
    }

    SaveToFileThread thread(&reader);
    thread.setDateTime(a.dateTime);
    thread.setSpeed(a.speed);
    thread.setLocation(a.location);
    thread.setSaveAudio(a.audio);
    thread.setOverwrite(a.overwrite);
    QEventLoop loop;
    QObject::connect(&thread, &SaveToFileThread::updateProgress, &loop, showProgress, Qt::QueuedConnection);
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    // The stop pipe wakes the loop the moment a signal arrives, so Ctrl+C
    // stops the writers at their next packet rather than at a poll tick.
    bool stopped = false;
    const auto stopExport = [&] {
        drainStopSignalFd();
        if (!stopped && stopRequested()) {
            stopped = true;
            thread.stop();
        }
    };
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignalFd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignalFd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &loop, stopExport);
    }
    thread.start(a.out, a.from, a.to, a.channels);
    stopExport(); // a signal that came while the catalogue was read
    if (thread.isRunning() || !thread.isFinished())
        loop.exec();
    thread.wait();
    stopNotifier.reset();

    QJsonArray files;
    bool failed = false;
    for (const ChannelResult &r : thread.results()) {
        QJsonObject f{{"channel", r.channel},
                      {"path", r.path},
                      {"status", ChannelResult::statusName(
                                     r.status == ChannelResult::Status::Stopped ? ChannelResult::Status::Failed : r.status)},
                      {"packets", double(r.packets)}};
        if (!r.subtitlePath.isEmpty())
            f.insert(QStringLiteral("subtitles"), r.subtitlePath);
        if (!r.reason.isEmpty())
            f.insert(QStringLiteral("reason"), r.reason);
        files.append(f);
        failed = failed || (r.status != ChannelResult::Status::Written && r.status != ChannelResult::Status::Skipped);
        if (r.status == ChannelResult::Status::Failed)
            fprintf(stderr, "%sexport: channel %d failed: %s\n", isatty(STDERR_FILENO) ? "\n" : "", r.channel,
                    qPrintable(r.reason));
    }
    if (isatty(STDERR_FILENO))
        fputc('\n', stderr);
    const QByteArray json = QJsonDocument(QJsonObject{{"files", files}}).toJson(QJsonDocument::Compact);
    fwrite(json.constData(), 1, size_t(json.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
    // A signal that came after the last file was complete stopped nothing.
    bool anyStopped = false;
    for (const ChannelResult &r : thread.results())
        anyStopped = anyStopped || r.status == ChannelResult::Status::Stopped;
    if (stopped && anyStopped)
        return stopExitStatus();
    return failed ? ExitFailed : ExitDone;
}
