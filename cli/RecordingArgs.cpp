#include "RecordingArgs.h"

#include "SourceOpening.h"

#include <cstdio>

namespace {

// The reader's warnings are held while the entry loads: a failed load
// becomes one error line carrying the reason, a successful one passes them
// on to standard error.
QStringList heldWarnings;
bool holdingWarnings = false;

void warningHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (holdingWarnings)
        heldWarnings.append(message);
    else
        fprintf(stderr, "%s\n", qPrintable(message));
}

QString withReason(const QString &error)
{
    holdingWarnings = false;
    const QString reason = heldWarnings.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(heldWarnings.last());
    heldWarnings.clear();
    return error + reason;
}

} // namespace

QString parseRecordingArgs(const QStringList &args, const QStringList &accepted, RecordingArgs *out)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg.startsWith(QLatin1String("--")) && !accepted.contains(arg))
            return QStringLiteral("unexpected argument %1").arg(arg);
        bool ok = true;
        if (arg == QLatin1String("--entry") && hasValue) {
            out->entry = args[++i].toInt(&ok);
            if (!ok || out->entry < 0)
                return QStringLiteral("--entry wants a catalogue index");
        } else if (arg == QLatin1String("--limit") && hasValue) {
            out->limit = args[++i].toULongLong(&ok, 0);
            if (!ok)
                return QStringLiteral("--limit wants a number");
        } else if (arg == QLatin1String("--dump") && hasValue) {
            out->dumpDir = args[++i];
        } else if (arg == QLatin1String("--format") && hasValue) {
            out->format = args[++i];
            if (out->format != QLatin1String("json") && out->format != QLatin1String("csv")
                && out->format != QLatin1String("gpx") && out->format != QLatin1String("kml"))
                return QStringLiteral("--format wants json, csv, gpx or kml");
        } else if (arg == QLatin1String("--password") && hasValue) {
            out->password = args[++i].toUtf8();
            out->havePassword = true;
        } else if (arg == QLatin1String("--mf2-keys") && hasValue) {
            if (!parseKeys(args[++i], &out->keys))
                return QStringLiteral("--mf2-keys wants three numbers separated by commas");
        } else if (arg == QLatin1String("--backward")) {
            out->backward = true;
        } else if (arg == QLatin1String("--export")) {
            out->exportLoad = true;
        } else if (out->source.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            out->source = arg;
        } else {
            return QStringLiteral("unexpected argument %1").arg(arg);
        }
    }
    if (out->source.isEmpty() || out->entry < 0)
        return QStringLiteral("SOURCE and --entry N are needed");
    if (out->backward && out->exportLoad)
        return QStringLiteral("--backward and --export exclude each other");
    if (out->limit != 0 && out->exportLoad)
        return QStringLiteral("--limit applies to the playback order, not to --export");
    return QString();
}

static QString loadEntry(Reader &reader, const RecordingArgs &args, bool *recordFile);

QString loadRecording(Reader &reader, const RecordingArgs &args, bool *recordFile)
{
    qInstallMessageHandler(warningHandler);
    holdingWarnings = true;
    heldWarnings.clear();
    const QString error = loadEntry(reader, args, recordFile);
    if (!error.isEmpty())
        return withReason(error);
    holdingWarnings = false;
    for (const QString &w : qAsConst(heldWarnings))
        fprintf(stderr, "%s\n", qPrintable(w));
    heldWarnings.clear();
    return QString();
}

static QString loadEntry(Reader &reader, const RecordingArgs &args, bool *recordFile)
{
    usePassword(reader, args.keys, args.havePassword, args.password);
    QJsonObject catalogue;
    const QString error = openSource(reader, args.source, &catalogue);
    if (!error.isEmpty())
        return error;
    *recordFile = catalogue.value(QStringLiteral("mode")).toInt() == 2;
    if (*recordFile) {
        const QVector<FileRecord> files = reader.files();
        if (args.entry >= files.size())
            return QStringLiteral("%1: no entry %2 (the catalogue has %3)").arg(args.source).arg(args.entry).arg(files.size());
        const FileRecord &record = files[args.entry];
        const qint64 bytes = args.exportLoad ? reader.loadFileForExport(args.entry, record, false)
                                             : reader.loadFileForPlayback(args.entry, record, false);
        if (bytes < 1)
            return QStringLiteral("%1: cannot load").arg(record.path);
        if (args.backward)
            reader.buildPlaybackBackwardIndex();
        return QString();
    }
    const QVector<BankEntry> banks = reader.banks();
    if (args.entry >= banks.size())
        return QStringLiteral("%1: no entry %2 (the catalogue has %3)").arg(args.source).arg(args.entry).arg(banks.size());
    const BankEntry &bank = banks[args.entry];
    const int rc = args.exportLoad ? reader.loadBankForExport(bank, false)
                                   : reader.loadBankForPlayback(args.entry, bank, false, args.backward, args.limit);
    if (rc < 0)
        return QStringLiteral("%1: cannot load the bank at %2").arg(bank.path).arg(bank.offset);
    return QString();
}
