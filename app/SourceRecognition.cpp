#include "SourceRecognition.h"

#include "DriveList.h"

#include <QDir>
#include <QFileInfo>

SourceKind recogniseCard(const QString &root)
{
    const QDir dir(root);
    for (const char *name : {"index.ibx", "index.dat"}) {
        if (QFileInfo(dir.filePath(QLatin1String(name))).isFile())
            return SourceKind::IndexCard;
    }
    if (QFileInfo(DriveList::markerPath(root)).isFile() || QFileInfo(dir.filePath(QStringLiteral("record"))).isDir())
        return SourceKind::RecordCard;
    return SourceKind::None;
}

SourceKind recognisePath(const QString &path)
{
    if (path.isEmpty())
        return SourceKind::None;
    const QFileInfo info(path);
    if (info.isDir()) {
        const SourceKind card = recogniseCard(path);
        return card == SourceKind::None ? SourceKind::Folder : card;
    }
    if (!info.isFile())
        return SourceKind::None;
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("smb"))
        return SourceKind::Archive;
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("mf2"))
        return SourceKind::SingleFile;
    return SourceKind::None;
}
