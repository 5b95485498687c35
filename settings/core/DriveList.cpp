#include "DriveList.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

DriveList::DriveList()
    : driveRoots(systemRoots())
{
}

DriveList::DriveList(const QStringList &roots)
    : driveRoots(roots)
{
}

QString DriveList::markerPath(const QString &root)
{
    return QDir(root).filePath(QStringLiteral(".Pavona.cfg"));
}

bool DriveList::isPseudoOrRemote(const QByteArray &type)
{
    static const char *const skipped[] = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2", "securityfs",
        "debugfs", "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs", "pstore", "bpf",
        "binfmt_misc", "autofs", "efivarfs", "overlay", "squashfs", "nsfs", "rpc_pipefs",
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p", "afs", "ceph"};
    for (const char *name : skipped) {
        if (type == name)
            return true;
    }
    return false;
}

QStringList DriveList::systemRoots()
{
#ifdef Q_OS_WIN
    QStringList roots;
    for (char letter = 'c'; letter <= 'v'; ++letter) {
        const QString root = QStringLiteral("%1:/").arg(QLatin1Char(letter));
        if (QFileInfo(root).isReadable())
            roots.append(root);
    }
    return roots;
#else
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || volume.isRoot())
            continue;
        if (isPseudoOrRemote(volume.fileSystemType()))
            continue;
        roots.append(volume.rootPath());
    }
    std::sort(roots.begin(), roots.end());
    roots.removeDuplicates();
    return roots;
#endif
}
