#include "SmartBackupJob.h"

#include <QMutexLocker>

SmartBackupJob::SmartBackupJob(QObject *parent) : QThread(parent) {}

SmartBackupJob::~SmartBackupJob()
{
    cancel();
    wait();
}

void SmartBackupJob::setArchiveRequest(const SmartBackup::ArchiveRequest &request)
{
    archive = true;
    archiveRequest = request;
    cancelled = false;
}

void SmartBackupJob::setFolderRequest(const SmartBackup::FolderRequest &request)
{
    archive = false;
    folderRequest = request;
    cancelled = false;
}

void SmartBackupJob::cancel()
{
    cancelled = true;
}

SmartBackup::Result SmartBackupJob::result() const
{
    QMutexLocker locker(&resultLock);
    return outcome;
}

void SmartBackupJob::run()
{
    int lastPercent = -1, lastItem = -1;
    // One signal per change the user can see, not one per block.
    auto progress = [&](const SmartBackup::Progress &p) {
        const int percent = p.percent();
        if (percent == lastPercent && p.item == lastItem)
            return;
        lastPercent = percent;
        lastItem = p.item;
        emit progressed(percent, p.item, p.count);
    };
    auto stop = [this] { return cancelled.load(); };
    const SmartBackup::Result r = archive ? SmartBackup::writeArchive(archiveRequest, progress, stop)
                                          : SmartBackup::copyRecords(folderRequest, progress, stop);
    QMutexLocker locker(&resultLock);
    outcome = r;
}
