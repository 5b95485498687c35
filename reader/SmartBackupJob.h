#pragma once
// A Smart Backup run on its own thread, so the window stays responsive: the
// request is set before start(), progress arrives as a signal (queued to
// the receiver's thread), cancel() may be called from any thread, and the
// result is read once the thread has finished.
#include "SmartBackup.h"

#include <QMutex>
#include <QThread>

#include <atomic>

class SmartBackupJob : public QThread
{
    Q_OBJECT

public:
    explicit SmartBackupJob(QObject *parent = nullptr);
    // Cancels and waits: a job never outlives its owner.
    ~SmartBackupJob() override;

    void setArchiveRequest(const SmartBackup::ArchiveRequest &request);
    void setFolderRequest(const SmartBackup::FolderRequest &request);
    // Stops the run at the next block; what it began is removed.
    void cancel();
    SmartBackup::Result result() const;

signals:
    // percent of all bytes; item is 0-based, of count items.
    void progressed(int percent, int item, int count);

protected:
    void run() override;

private:
    bool archive = true;
    SmartBackup::ArchiveRequest archiveRequest;
    SmartBackup::FolderRequest folderRequest;
    std::atomic<bool> cancelled{false};
    mutable QMutex resultLock;
    SmartBackup::Result outcome;
};
