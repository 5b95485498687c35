#include "CardFormat.h"

#include "DriveList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool isVerifiedCardRoot(const QString &root)
{
    const QFileInfo marker(DriveList::markerPath(root));
    return !root.isEmpty() && marker.isFile() && !marker.isSymLink();
}

QStringList eraseRecordCard(const QString &root)
{
    if (!isVerifiedCardRoot(root))
        return {QStringLiteral("%1 is not a camera card (no .Pavona.cfg)").arg(root)};
    QStringList failures;
    for (const char *name : {"Config", "App", "record"}) {
        const QString path = QDir(root).filePath(QLatin1String(name));
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            continue;
        // A link is removed itself; what it points to is not on this card.
        const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
        if (!removed)
            failures << QStringLiteral("cannot remove %1").arg(path);
    }
    if (failures.isEmpty() && !QFile::remove(DriveList::markerPath(root)))
        failures << QStringLiteral("cannot remove %1").arg(DriveList::markerPath(root));
    return failures;
}
