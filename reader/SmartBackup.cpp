#include "SmartBackup.h"

#include "ArchiveHead.h"
#include "BankHeader.h"
#include "BankWalk.h"
#include "LittleEndian.h"
#include "LogCategories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SmartBackup {

namespace {

constexpr qint64 BlockSize = 4 << 20;

// Two names for one file (links, symbolic links, "..", letter case where
// the file system ignores it) are the same file.
bool sameFile(const QString &a, const QString &b)
{
#ifdef Q_OS_UNIX
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
    const QFileInfo ia(a), ib(b);
    const QString ca = ia.exists() ? ia.canonicalFilePath() : QDir::cleanPath(ia.absoluteFilePath());
    const QString cb = ib.exists() ? ib.canonicalFilePath() : QDir::cleanPath(ib.absoluteFilePath());
#ifdef Q_OS_WIN
    return ca.compare(cb, Qt::CaseInsensitive) == 0;
#else
    return ca == cb;
#endif
}

// A file being written beside its target under a hidden temporary name;
// removed unless it was moved into place.
class PendingFile
{
public:
    explicit PendingFile(const QString &target) : target(target) {}
    ~PendingFile()
    {
        if (!placed && !file.fileName().isEmpty()) {
            file.close();
            QFile::remove(file.fileName());
        }
    }

    QFile &device() { return file; }
    QString path() const { return file.fileName(); }

    bool open(QString *error)
    {
        const QFileInfo info(target);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QString name = QStringLiteral("%1/.%2.%3.part")
                                     .arg(info.absolutePath(), info.fileName())
                                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            file.setFileName(name);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return true;
            if (QFileInfo::exists(name))
                continue;
            break;
        }
        *error = QStringLiteral("cannot write in %1: %2").arg(QDir::toNativeSeparators(info.absolutePath()),
                                                               file.errorString());
        file.setFileName(QString());
        return false;
    }

    // Everything on the disk, then the file takes its target's name:
    // replacing an existing one only when overwrite is set.
    bool place(bool overwrite, QString *error)
    {
        bool synced = file.flush();
#ifdef Q_OS_UNIX
        synced = synced && ::fsync(file.handle()) == 0;
#endif
        file.close();
        if (!synced || file.error() != QFileDevice::NoError) {
            *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(target), file.errorString());
            return false;
        }
        bool moved = false;
        if (!overwrite) {
            // Refuses an existing target, also one that appeared meanwhile.
            moved = QFile::rename(file.fileName(), target);
        } else {
#ifdef Q_OS_WIN
            QFile::remove(target);
            moved = QFile::rename(file.fileName(), target);
#else
            moved = std::rename(QFile::encodeName(file.fileName()).constData(),
                                QFile::encodeName(target).constData()) == 0;
#endif
        }
        if (!moved) {
            *error = QFileInfo::exists(target)
                ? QStringLiteral("%1 exists already").arg(QDir::toNativeSeparators(target))
                : QStringLiteral("cannot rename the finished copy to %1").arg(QDir::toNativeSeparators(target));
            return false;
        }
        placed = true;
        return true;
    }

private:
    QString target;
    QFile file;
    bool placed = false;
};

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString freeSpaceShortage(const QString &folder, qint64 needed)
{
    const QStorageInfo storage(folder);
    if (!storage.isValid() || storage.bytesAvailable() < 0 || storage.bytesAvailable() >= needed)
        return QString();
    return QStringLiteral("%1 has %2 MB free; the backup needs %3 MB")
        .arg(shown(folder))
        .arg(storage.bytesAvailable() >> 20)
        .arg((needed + (1 << 20) - 1) >> 20);
}

Result refused(const QString &why)
{
    Result r;
    r.status = Result::Refused;
    r.error = why;
    return r;
}

Result failed(const QString &why, const QString &output)
{
    Result r;
    r.status = Result::Failed;
    r.error = why;
    r.output = output;
    return r;
}

QString bankName(const BankEntry &bank)
{
    return QStringLiteral("bank %1 at %2 of %3").arg(bank.bankSeq).arg(bank.offset).arg(shown(bank.path));
}

// Copies length bytes from source at offset to out, block by block, telling
// advanced each block written; says why it stopped early.
enum class CopyStop { None, Read, Write, Cancelled };

CopyStop copyBytes(QFile &source, qint64 offset, qint64 length, QFile &out, QByteArray &block, qint64 *copied,
                   const std::function<void(qint64)> &advanced, const CancelFn &cancel)
{
    *copied = 0;
    if (!source.seek(offset))
        return CopyStop::Read;
    while (*copied < length) {
        if (cancel && cancel())
            return CopyStop::Cancelled;
        const qint64 want = qMin(BlockSize, length - *copied);
        qint64 got = 0;
        while (got < want) {
            const qint64 n = source.read(block.data() + got, want - got);
            if (n <= 0)
                return CopyStop::Read;
            got += n;
        }
        if (out.write(block.constData(), want) != want)
            return CopyStop::Write;
        *copied += want;
        if (advanced)
            advanced(want);
    }
    return CopyStop::None;
}

// The written archive opened as the viewer opens one: its head, then every
// bank's header where the reader looks for it, in the order written.
QString checkArchive(const QString &path, const QVector<BankEntry> &banks)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the written archive cannot be read back: %1").arg(file.errorString());
    const qint64 expected = ArchiveHead::Size + qint64(ArchiveHead::TableRecordSize) * banks.size()
        + qint64(banks.size()) * banks.first().bankSize;
    ArchiveHead head;
    if (file.size() != expected || head.read(file, file.size()) != 0 || head.bankCount != quint32(banks.size()))
        return QStringLiteral("the written archive has %1 bytes instead of %2").arg(file.size()).arg(expected);
    BankWalk walk;
    walkBanks(file, path, head.firstBank, head.bankCount, head.bankSize, true, &walk);
    for (int i = 0; i < banks.size(); ++i) {
        const BankEntry &want = banks[i];
        const qint64 at = head.firstBank + qint64(i) * head.bankSize;
        auto same = [&](const BankEntry &e) {
            return e.offset == at && e.bankSeq == want.bankSeq && e.sortKey == want.sortKey && e.start == want.start
                && e.end == want.end && e.dataEnd == want.dataEnd;
        };
        if (std::none_of(walk.entries.cbegin(), walk.entries.cend(), same))
            return QStringLiteral("%1 no longer holds the recording listed (the camera may have overwritten it)")
                .arg(bankName(want));
    }
    return QString();
}

} // namespace

int Progress::percent() const
{
    if (bytesTotal > 0)
        return int(qBound<qint64>(0, bytesDone * 100 / bytesTotal, 100));
    return count > 0 ? qBound(0, (item + 1) * 100 / count, 100) : 0;
}

QByteArray storedPassword(const QString &typed)
{
    QByteArray bytes = typed.toUtf8().left(StoredPasswordLength);
    bytes.append(QByteArray(StoredPasswordLength - bytes.size(), '\0'));
    return bytes;
}

namespace {

QString firstFree(const QString &folder, const char *pattern)
{
    const QDir dir(folder);
    for (int n = 0;; ++n) {
        const QString name = QString::asprintf(pattern, n);
        if (!QFileInfo::exists(dir.filePath(name)))
            return name;
    }
}

} // namespace

QString defaultArchiveName(const QString &folder)
{
    return firstFree(folder, "backup%d.smb");
}

QString defaultFolderName(const QString &folder)
{
    return firstFree(folder, "backup%d");
}

QString refusal(const ArchiveRequest &request)
{
    const QVector<BankEntry> &banks = request.banks;
    if (banks.isEmpty())
        return QStringLiteral("no recording was chosen");
    if (banks.size() > MaxItems)
        return QStringLiteral("at most %1 recordings go into one Smart Backup (%2 chosen)").arg(MaxItems).arg(banks.size());
    if (request.output.isEmpty())
        return QStringLiteral("no output file was given");
    if (request.usePassword && request.password.isEmpty())
        return QStringLiteral("Use Password is on but no password was typed");
    const quint32 bankSize = banks.first().bankSize;
    if (bankSize < BankHeader::MinBankSize)
        return QStringLiteral("the banks' size of %1 bytes cannot hold a recording").arg(bankSize);
    for (const BankEntry &b : banks) {
        if (b.bankSize != bankSize)
            return QStringLiteral("the chosen banks differ in size (%1 and %2 bytes)").arg(bankSize).arg(b.bankSize);
    }
    const QFileInfo out(request.output);
    if (out.isDir())
        return QStringLiteral("%1 is a folder").arg(shown(request.output));
    for (const BankEntry &b : banks) {
        if (sameFile(request.output, b.path))
            return QStringLiteral("%1 holds recordings being backed up").arg(shown(request.output));
    }
    if (out.exists() && !request.overwrite)
        return QStringLiteral("%1 exists already").arg(shown(request.output));
    return QString();
}

QString refusal(const FolderRequest &request)
{
    if (request.records.isEmpty())
        return QStringLiteral("no recording was chosen");
    if (request.records.size() > MaxItems)
        return QStringLiteral("at most %1 recordings go into one Smart Backup (%2 chosen)").arg(MaxItems).arg(request.records.size());
    if (request.folder.isEmpty())
        return QStringLiteral("no output folder was given");
    const QFileInfo folder(request.folder);
    if (folder.exists() && !folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(shown(request.folder));
    const QDir dir(request.folder);
    for (const FileRecord &r : request.records) {
        const QString target = dir.filePath(QFileInfo(r.path).fileName());
        if (sameFile(target, r.path))
            return QStringLiteral("%1 holds the recordings being backed up").arg(shown(request.folder));
    }
    return QString();
}

QByteArray archiveHead(const QVector<BankEntry> &banks, const QByteArray &password, bool usePassword)
{
    char h[ArchiveHead::Size] = {};
    le::putU32(h, 0x1111);
    le::putU32(h + 4, 0x2222);
    if (usePassword) {
        le::putU32(h + 520, 1);
        memcpy(h + 524, password.constData(), size_t(qMin(password.size(), StoredPasswordLength)));
    }
    // Panes for every channel any chosen bank holds.
    quint32 channels = 1;
    for (const BankEntry &b : banks)
        channels = qMax<quint32>(channels, b.channels);
    le::putU32(h + 540, channels);
    le::putU32(h + 544, quint32(banks.size()));
    if (!banks.isEmpty()) {
        le::putU32(h + 548, banks.first().dataEnd);
        le::putU32(h + 552, banks.first().bankSize);
    }
    return QByteArray(h, ArchiveHead::Size);
}

QByteArray tableRecord(const BankEntry &bank)
{
    char r[ArchiveHead::TableRecordSize] = {};
    le::putU64(r + 32, quint64(bank.start));
    le::putU64(r + 40, quint64(bank.end));
    le::putU32(r + 48, bank.sortKey);
    r[52] = char(bank.channels);
    r[53] = char(bank.status);
    le::putU16(r + 54, bank.bankSeq);
    le::putU32(r + 56, bank.dataEnd);
    le::putU32(r + 60, bank.bankSize);
    // The source offset: its low 32 bits where they have always been, the
    // high ones (zero below 4 GiB) in the record's last four bytes.
    le::putU64(r + 64, quint64(bank.offset));
    return QByteArray(r, ArchiveHead::TableRecordSize);
}

Result writeArchive(const ArchiveRequest &request, const ProgressFn &progress, const CancelFn &cancel)
{
    const QString why = refusal(request);
    if (!why.isEmpty())
        return refused(why);
    const QString output = QFileInfo(request.output).absoluteFilePath();
    const QString folder = QFileInfo(output).absolutePath();
    if (!QFileInfo(folder).isDir())
        return failed(QStringLiteral("the folder %1 does not exist").arg(shown(folder)), output);
    const QVector<BankEntry> &banks = request.banks;
    const qint64 bankSize = banks.first().bankSize;
    const qint64 total = qint64(banks.size()) * bankSize;
    const qint64 size = ArchiveHead::Size + qint64(ArchiveHead::TableRecordSize) * banks.size() + total;
    const QString shortage = freeSpaceShortage(folder, size);
    if (!shortage.isEmpty())
        return failed(shortage, output);

    qCDebug(lcReader, "SmartBackup <<<START>>>");
    qCDebug(lcReader, "file name :: %s", qPrintable(output));
    PendingFile pending(output);
    QString error;
    if (!pending.open(&error))
        return failed(error, output);
    QFile &out = pending.device();
    QByteArray head = archiveHead(banks, storedPassword(request.password), request.usePassword);
    for (const BankEntry &b : banks)
        head += tableRecord(b);
    if (out.write(head) != head.size())
        return failed(QStringLiteral("cannot write %1: %2").arg(shown(output), out.errorString()), output);

    QByteArray block(int(qMin(BlockSize, bankSize)), '\0');
    Progress state;
    state.count = banks.size();
    state.bytesTotal = total;
    QFile source;
    for (int i = 0; i < banks.size(); ++i) {
        const BankEntry &bank = banks[i];
        state.item = i;
        if (progress)
            progress(state);
        if (source.fileName() != bank.path || !source.isOpen()) {
            source.close();
            source.setFileName(bank.path);
            qCDebug(lcReader, "Read FileName %s", qPrintable(bank.path));
            if (!source.open(QIODevice::ReadOnly))
                return failed(QStringLiteral("cannot open %1: %2").arg(shown(bank.path), source.errorString()), output);
        }
        qCDebug(lcReader, "bankSeq %d  OneBankSize %d position %lld", int(bank.bankSeq), int(bank.bankSize),
               static_cast<long long>(bank.offset));
        qint64 copied = 0;
        const CopyStop stop = copyBytes(source, bank.offset, bankSize, out, block, &copied, [&](qint64 n) {
            state.bytesDone += n;
            if (progress)
                progress(state);
        }, cancel);
        if (stop == CopyStop::Cancelled) {
            Result r = failed(QStringLiteral("cancelled; nothing was written"), output);
            r.status = Result::Cancelled;
            return r;
        }
        if (stop == CopyStop::Read)
            return failed(QStringLiteral("%1 could not be read in full (%2 of %3 bytes)")
                              .arg(bankName(bank)).arg(copied).arg(bankSize), output);
        if (stop == CopyStop::Write)
            return failed(QStringLiteral("cannot write %1: %2").arg(shown(output), out.errorString()), output);
    }
    source.close();
    if (!out.flush())
        return failed(QStringLiteral("cannot write %1: %2").arg(shown(output), out.errorString()), output);
    const QString unsound = checkArchive(pending.path(), banks);
    if (!unsound.isEmpty())
        return failed(unsound, output);
    if (!pending.place(request.overwrite, &error))
        return failed(error, output);
    qCDebug(lcReader, "SmartBackup Successfull!!!");
    Result r;
    r.status = Result::Done;
    r.output = output;
    r.written = QStringList{output};
    for (int i = 0; i < banks.size(); ++i)
        r.writtenItems.append(i);
    r.bytes = size;
    return r;
}

Result copyRecords(const FolderRequest &request, const ProgressFn &progress, const CancelFn &cancel)
{
    const QString why = refusal(request);
    if (!why.isEmpty())
        return refused(why);
    const QString folder = QDir::cleanPath(QFileInfo(request.folder).absoluteFilePath());
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("cannot make the folder %1").arg(shown(folder)), folder);
    const QDir dir(folder);
    Progress state;
    state.count = request.records.size();
    for (const FileRecord &r : request.records)
        state.bytesTotal += qMax<qint64>(0, QFileInfo(r.path).size());
    const QString shortage = freeSpaceShortage(folder, state.bytesTotal);
    if (!shortage.isEmpty())
        return failed(shortage, folder);

    Result result;
    result.output = folder;
    QByteArray block(int(BlockSize), '\0');
    for (int i = 0; i < request.records.size(); ++i) {
        const QString sourcePath = request.records[i].path;
        state.item = i;
        if (progress)
            progress(state);
        auto skip = [&](const QString &reason) { result.skipped.append({i, sourcePath, reason}); };
        // The file's own name, never one read from inside it; the folder
        // listing gives no separators, and "." or ".." would leave the folder.
        const QString name = QFileInfo(sourcePath).fileName();
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
            || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
            skip(QStringLiteral("its name cannot be used as a file name"));
            continue;
        }
        const QString target = dir.filePath(name);
        if (QFileInfo::exists(target) && !request.overwrite) {
            skip(QStringLiteral("%1 exists already").arg(shown(target)));
            continue;
        }
        QFile source(sourcePath);
        if (!source.open(QIODevice::ReadOnly)) {
            skip(QStringLiteral("cannot be opened: %1").arg(source.errorString()));
            continue;
        }
        PendingFile pending(target);
        QString error;
        if (!pending.open(&error))
            return failed(error, folder);
        const qint64 length = source.size();
        qint64 copied = 0;
        const qint64 before = state.bytesDone;
        const CopyStop stop = copyBytes(source, 0, length, pending.device(), block, &copied, [&](qint64 n) {
            state.bytesDone += n;
            if (progress)
                progress(state);
        }, cancel);
        if (stop == CopyStop::Cancelled) {
            result.status = Result::Cancelled;
            result.error = QStringLiteral("cancelled; %1 of %2 recordings were copied")
                               .arg(result.written.size()).arg(request.records.size());
            return result;
        }
        if (stop == CopyStop::Write) {
            Result r = failed(QStringLiteral("cannot write %1: %2").arg(shown(target), pending.device().errorString()), folder);
            r.written = result.written;
            r.writtenItems = result.writtenItems;
            r.skipped = result.skipped;
            return r;
        }
        if (stop == CopyStop::Read) {
            state.bytesDone = before + length;
            skip(QStringLiteral("could not be read in full (%1 of %2 bytes)").arg(copied).arg(length));
            continue;
        }
        if (!pending.place(request.overwrite, &error)) {
            skip(error);
            continue;
        }
        qCDebug(lcReader, "%s==>%s", qPrintable(sourcePath), qPrintable(target));
        result.written.append(target);
        result.writtenItems.append(i);
        result.bytes += length;
    }
    result.status = Result::Done;
    return result;
}

} // namespace SmartBackup
