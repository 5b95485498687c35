#pragma once
// The places a camera card can be mounted, in the order the start-up search
// walks them. On Windows these are the drive letters c to v; elsewhere the
// mounted, ready volumes other than "/" and pseudo or network file systems,
// ordered by root path. Tests hand in their own roots.
#include <QString>
#include <QStringList>

class DriveList
{
public:
    // The volumes of this computer.
    DriveList();
    // Exactly these roots, in this order.
    explicit DriveList(const QStringList &roots);

    QStringList roots() const { return driveRoots; }

    // Root of a card's marker file: "<root>/.Pavona.cfg".
    static QString markerPath(const QString &root);
    // True for file systems that never hold a camera card: kernel views,
    // memory file systems, image mounts and network shares.
    static bool isPseudoOrRemote(const QByteArray &fileSystemType);

private:
    static QStringList systemRoots();

    QStringList driveRoots;
};
