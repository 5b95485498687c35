#include "BackupCommand.h"

#include "CommandLine.h"
#include "SmartBackup.h"
#include "SourceOpening.h"
#include "StopSignal.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace {

struct BackupArgs {
    QString source;
    QString entriesText;
    QVector<int> entries;
    QString out, outDir;
    bool havePassword = false;
    QString password;
    bool overwrite = false;
    bool haveSourcePassword = false;
    QByteArray sourcePassword;
    Mf2Keys keys = defaultMf2Keys();
};

// "0,2,5" or ranges "3-7", in the order given; every index once.
QString parseEntries(const QString &text, QVector<int> *out)
{
    static const QRegularExpression item(QStringLiteral("^\\s*(\\d{1,9})\\s*(?:-\\s*(\\d{1,9})\\s*)?$"));
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = item.match(part);
        if (!m.hasMatch())
            return QStringLiteral("--entries wants catalogue indexes such as 0,2,5 or 3-7");
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
        if (last < first)
            return QStringLiteral("--entries: the range %1 runs backward").arg(part.trimmed());
        for (int i = first; i <= last; ++i) {
            if (out->contains(i))
                return QStringLiteral("--entries names %1 twice").arg(i);
            if (out->size() >= SmartBackup::MaxItems)
                return QStringLiteral("--entries: at most %1 recordings go into one Smart Backup").arg(SmartBackup::MaxItems);
            out->append(i);
        }
    }
    return QString();
}

QString parseBackupArgs(const QStringList &args, BackupArgs *a)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--entries") && hasValue) {
            a->entriesText = args[++i];
        } else if (arg == QLatin1String("--out") && hasValue) {
            a->out = args[++i];
        } else if (arg == QLatin1String("--out-dir") && hasValue) {
            a->outDir = args[++i];
        } else if (arg == QLatin1String("--password") && hasValue) {
            a->password = args[++i];
            a->havePassword = true;
        } else if (arg == QLatin1String("--source-password") && hasValue) {
            a->sourcePassword = args[++i].toUtf8();
            a->haveSourcePassword = true;
        } else if (arg == QLatin1String("--mf2-keys") && hasValue) {
            if (!parseKeys(args[++i], &a->keys))
                return QStringLiteral("--mf2-keys wants three numbers separated by commas");
        } else if (arg == QLatin1String("--overwrite")) {
            a->overwrite = true;
        } else if (a->source.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            a->source = arg;
        } else {
            return QStringLiteral("unknown or incomplete option %1").arg(arg);
        }
    }
    if (a->source.isEmpty())
        return QStringLiteral("no SOURCE given");
    if (a->entriesText.isEmpty())
        return QStringLiteral("--entries LIST is needed");
    const QString entriesError = parseEntries(a->entriesText, &a->entries);
    if (!entriesError.isEmpty())
        return entriesError;
    if (a->out.isEmpty() == a->outDir.isEmpty())
        return QStringLiteral("give either --out FILE.smb or --out-dir DIR");
    if (!a->out.isEmpty() && QFileInfo(a->out).suffix().compare(QLatin1String("smb"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("--out wants a file name ending in .smb");
    if (a->havePassword && a->password.isEmpty())
        return QStringLiteral("--password wants a text");
    if (a->havePassword && !a->outDir.isEmpty())
        return QStringLiteral("--password applies to archives (--out) only");
    return QString();
}

// One line each time the backup moves on to another recording.
SmartBackup::ProgressFn progressLines(const QStringList &names)
{
    auto last = std::make_shared<int>(-1);
    return [names, last](const SmartBackup::Progress &p) {
        if (p.item == *last)
            return;
        *last = p.item;
        fprintf(stderr, "backup: %d/%d %s (%d%%)\n", p.item + 1, p.count, qPrintable(names.value(p.item)), p.percent());
    };
}

int finish(const SmartBackup::Result &r)
{
    switch (r.status) {
    case SmartBackup::Result::Done:
        return ExitDone;
    case SmartBackup::Result::Refused:
        return refuseArguments("backup", r.error);
    case SmartBackup::Result::Cancelled:
        fprintf(stderr, "zidavova-tool backup: %s\n", qPrintable(r.error));
        return stopExitStatus() ? stopExitStatus() : ExitFailed;
    default:
        return failCommand("backup", r.error);
    }
}

void printJson(const QJsonObject &o)
{
    fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    fputc('\n', stdout);
}

} // namespace

int backupCommand(const QStringList &args)
{
    BackupArgs a;
    const QString error = parseBackupArgs(args, &a);
    if (!error.isEmpty())
        return refuseArguments("backup", error);
    installStopSignals();

    Reader reader;
    usePassword(reader, a.keys, a.haveSourcePassword, a.sourcePassword);
    QJsonObject catalogue;
    const QString openError = openSource(reader, a.source, &catalogue);
    if (!openError.isEmpty())
        return failCommand("backup", openError);
    const bool indexStore = catalogue.value(QStringLiteral("mode")).toInt() == 1;
    if (indexStore && a.out.isEmpty())
        return refuseArguments("backup", QStringLiteral("%1 is an index card or archive: its banks go into an archive (--out FILE.smb)").arg(a.source));
    if (!indexStore && a.outDir.isEmpty())
        return refuseArguments("backup", QStringLiteral("%1 holds recording files: they are copied into a folder (--out-dir DIR)").arg(a.source));
    const int size = indexStore ? reader.banks().size() : reader.files().size();
    for (int i : qAsConst(a.entries)) {
        if (i >= size)
            return refuseArguments("backup", QStringLiteral("no entry %1 (the catalogue has %2)").arg(i).arg(size));
    }
    QJsonArray entries;
    for (int i : qAsConst(a.entries))
        entries.append(i);
    const auto cancel = [] { return stopRequested(); };

    if (indexStore) {
        SmartBackup::ArchiveRequest request;
        QStringList names;
        const QVector<BankEntry> banks = reader.banks();
        for (int i : qAsConst(a.entries)) {
            request.banks.append(banks[i]);
            names.append(QStringLiteral("entry %1: bank %2 of %3").arg(i).arg(banks[i].bankSeq).arg(QDir::toNativeSeparators(banks[i].path)));
        }
        request.output = a.out;
        request.usePassword = a.havePassword;
        request.password = a.password;
        request.overwrite = a.overwrite;
        const SmartBackup::Result r = SmartBackup::writeArchive(request, progressLines(names), cancel);
        if (r.status != SmartBackup::Result::Done)
            return finish(r);
        printJson(QJsonObject{{"mode", 1},
                              {"output", r.output},
                              {"entries", entries},
                              {"banks", request.banks.size()},
                              {"bankSize", double(request.banks.first().bankSize)},
                              {"bytes", double(r.bytes)},
                              {"password", request.usePassword}});
        return ExitDone;
    }

    SmartBackup::FolderRequest request;
    QStringList names;
    const QVector<FileRecord> files = reader.files();
    for (int i : qAsConst(a.entries)) {
        request.records.append(files[i]);
        names.append(QStringLiteral("entry %1: %2").arg(i).arg(QDir::toNativeSeparators(files[i].path)));
    }
    request.folder = a.outDir;
    request.overwrite = a.overwrite;
    const SmartBackup::Result r = SmartBackup::copyRecords(request, progressLines(names), cancel);
    if (r.status == SmartBackup::Result::Refused || (r.status == SmartBackup::Result::Failed && r.written.isEmpty()))
        return finish(r);
    QJsonArray copied, skipped;
    for (int k = 0; k < r.written.size(); ++k) {
        const int item = r.writtenItems.value(k);
        copied.append(QJsonObject{{"entry", a.entries.value(item)}, {"source", request.records.value(item).path},
                                  {"path", r.written[k]}});
    }
    for (const SmartBackup::Skipped &s : r.skipped)
        skipped.append(QJsonObject{{"entry", a.entries.value(s.item)}, {"source", s.source}, {"reason", s.reason}});
    printJson(QJsonObject{{"mode", 2}, {"output", r.output}, {"entries", entries}, {"copied", copied},
                          {"skipped", skipped}, {"bytes", double(r.bytes)}});
    if (r.status != SmartBackup::Result::Done)
        return finish(r);
    if (!r.skipped.isEmpty())
        return failCommand("backup", QStringLiteral("%1 of %2 recordings were not copied (see \"skipped\")")
                                         .arg(r.skipped.size()).arg(request.records.size()));
    return ExitDone;
}
