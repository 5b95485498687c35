#pragma once
// The computer's removable drives for the drive list: mounted volumes whose
// disk the system marks removable (Windows: the drive type; elsewhere the
// disk's "removable" flag under /sys/class/block).
#include <QString>
#include <QVector>

struct RemovableDrive {
    QString name;         // volume name
    QString rootPath;
    QString device;
    qint64 capacity = 0;  // bytes
    qint64 free = 0;
};

// The mounted volumes that are on removable disks. sysRoot lets tests hand in
// their own copy of /sys.
QVector<RemovableDrive> removableDrives(const QString &sysRoot = QStringLiteral("/sys"));

// True when the disk of device (for example /dev/sdb1 or /dev/mmcblk0p1) is
// flagged removable under sysRoot.
bool deviceIsRemovable(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

// "%.2f GB" of bytes / 1024 / 1024 / 1024.
QString gigabytes(qint64 bytes);
