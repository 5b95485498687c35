#include "SafeFileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <atomic>
#include <functional>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace SafeFileWrite {

namespace {

std::atomic<qint64> writeLimit{-1};
constexpr qint64 Chunk = 1 << 20;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Writes through the injected limit, so tests can make a write come up short.
bool writeAll(QFile &file, const char *data, qint64 len)
{
    const qint64 limit = writeLimit.load();
    qint64 allowed = len;
    if (limit >= 0)
        allowed = qBound<qint64>(0, limit - file.pos(), len);
    if (file.write(data, allowed) != allowed)
        return false;
    return allowed == len;
}

bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool renameOver(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// A temporary file beside target, removed again unless it was renamed.
class Temporary
{
public:
    explicit Temporary(const QString &target)
        : file(QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName()
               + QStringLiteral(".XXXXXX"))
    {
        file.setAutoRemove(false);
    }
    ~Temporary()
    {
        if (!kept) {
            file.close();
            QFile::remove(file.fileName());
        }
    }
    QTemporaryFile file;
    bool kept = false;
};

bool sameBytes(QFile &a, QFile &b, qint64 from, qint64 len)
{
    QByteArray x, y;
    for (qint64 done = 0; done < len;) {
        const qint64 n = qMin(Chunk, len - done);
        if (!a.seek(from + done) || !b.seek(from + done))
            return false;
        x = a.read(n);
        y = b.read(n);
        if (x.size() != n || x != y)
            return false;
        done += n;
    }
    return true;
}

using Check = std::function<bool(QFile &)>;

// Flushes and closes the temporary file, checks it, renames it over target
// and checks what is then at target.
bool finish(Temporary &tmp, const QString &target, const Check &verifyTemp, const Check &verifyPlaced,
            const std::function<void()> &beforeRename, QString *error)
{
    const QString tmpName = tmp.file.fileName();
    if (!syncToDisk(tmp.file))
        return fail(error, QStringLiteral("cannot flush %1 to the disk").arg(tmpName));
    tmp.file.close();
    {
        QFile back(tmpName);
        if (!back.open(QIODevice::ReadOnly) || !verifyTemp(back))
            return fail(error, QStringLiteral("%1 did not read back as written; %2 left unchanged").arg(tmpName, target));
    }
    if (QFileInfo::exists(target))
        QFile::setPermissions(tmpName, QFile::permissions(target));
    if (beforeRename)
        beforeRename();
    if (!renameOver(tmpName, target))
        return fail(error, QStringLiteral("cannot rename %1 to %2").arg(tmpName, target));
    tmp.kept = true;
    QFile placed(target);
    if (!placed.open(QIODevice::ReadOnly) || !verifyPlaced(placed))
        return fail(error, QStringLiteral("%1 does not read back as written").arg(target));
    return true;
}

} // namespace

bool isMarkedReadOnly(const QString &path)
{
    const QFileInfo info(path);
    return info.exists()
        && !(QFile::permissions(path) & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

bool replaceFile(const QString &target, const QByteArray &content, QString *error)
{
    if (isMarkedReadOnly(target))
        return fail(error, QStringLiteral("%1 is read-only").arg(target));
    if (QFileInfo(target).isDir())
        return fail(error, QStringLiteral("%1 is a folder").arg(target));
    Temporary tmp(target);
    if (!tmp.file.open())
        return fail(error, QStringLiteral("cannot create a temporary file beside %1: %2").arg(target, tmp.file.errorString()));
    if (!writeAll(tmp.file, content.constData(), content.size()))
        return fail(error, QStringLiteral("cannot write %1 (short write)").arg(tmp.file.fileName()));
    const Check same = [&](QFile &f) { return f.size() == content.size() && f.readAll() == content; };
    return finish(tmp, target, same, same, {}, error);
}

bool patchFile(const QString &target, qint64 offset, const QByteArray &bytes, QString *error)
{
    QFile original(target);
    if (!QFileInfo(target).isFile() || !original.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open %1").arg(target));
    if (isMarkedReadOnly(target))
        return fail(error, QStringLiteral("%1 is read-only").arg(target));
    const qint64 size = original.size();
    const qint64 end = offset + bytes.size();
    if (offset < 0 || end > size)
        return fail(error, QStringLiteral("%1 is too short (%2 bytes) to hold bytes %3..%4").arg(target).arg(size).arg(offset).arg(end - 1));
    Temporary tmp(target);
    if (!tmp.file.open())
        return fail(error, QStringLiteral("cannot create a temporary file beside %1: %2").arg(target, tmp.file.errorString()));
    for (qint64 pos = 0; pos < size;) {
        if (pos == offset) {
            if (!writeAll(tmp.file, bytes.constData(), bytes.size()))
                return fail(error, QStringLiteral("cannot write %1 (short write)").arg(tmp.file.fileName()));
            pos = end;
            continue;
        }
        const qint64 stop = pos < offset ? qMin(offset, pos + Chunk) : qMin(size, pos + Chunk);
        if (!original.seek(pos))
            return fail(error, QStringLiteral("cannot read %1").arg(target));
        const QByteArray chunk = original.read(stop - pos);
        if (chunk.size() != stop - pos)
            return fail(error, QStringLiteral("cannot read %1").arg(target));
        if (!writeAll(tmp.file, chunk.constData(), chunk.size()))
            return fail(error, QStringLiteral("cannot write %1 (short write)").arg(tmp.file.fileName()));
        pos = stop;
    }
    const Check changed = [&](QFile &f) { return f.size() == size && f.seek(offset) && f.read(bytes.size()) == bytes; };
    const Check rest = [&](QFile &f) {
        return changed(f) && sameBytes(original, f, 0, offset) && sameBytes(original, f, end, size - end);
    };
    // The copy is compared with the original whole; the original is closed
    // before the rename (Windows cannot replace an open file).
    return finish(tmp, target, rest, changed, [&] { original.close(); }, error);
}

void setWriteLimitForTesting(qint64 limit)
{
    writeLimit.store(limit);
}

} // namespace SafeFileWrite
