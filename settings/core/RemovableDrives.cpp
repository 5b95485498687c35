#include "RemovableDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

bool flagSet(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(1) == "1";
}

} // namespace

bool deviceIsRemovable(const QString &device, const QString &sysRoot)
{
    const QString name = QFileInfo(device).fileName();
    if (name.isEmpty() || !device.startsWith(QLatin1String("/dev/")))
        return false;
    // A partition's folder sits inside its disk's folder; the disk carries the flag.
    const QString entry = QFileInfo(sysRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
    if (entry.isEmpty())
        return false;
    if (QFileInfo::exists(entry + QStringLiteral("/removable")))
        return flagSet(entry + QStringLiteral("/removable"));
    return flagSet(QFileInfo(entry).absolutePath() + QStringLiteral("/removable"));
}

QVector<RemovableDrive> removableDrives(const QString &sysRoot)
{
    QVector<RemovableDrive> drives;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
#ifdef Q_OS_WIN
        Q_UNUSED(sysRoot);
        const bool removable = GetDriveTypeW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(volume.rootPath()).utf16()))
            == DRIVE_REMOVABLE;
#else
        const bool removable = deviceIsRemovable(QString::fromLocal8Bit(volume.device()), sysRoot);
#endif
        if (!removable)
            continue;
        drives.append({volume.name(), volume.rootPath(), QString::fromLocal8Bit(volume.device()),
                       volume.bytesTotal(), volume.bytesAvailable()});
    }
    return drives;
}

QString gigabytes(qint64 bytes)
{
    return QString::asprintf("%.2f GB", double(bytes) / 1024.0 / 1024.0 / 1024.0);
}
