#pragma once
// The toolbar's video backup and capture commands: each pauses playback,
// opens its window modally with what it needs from the main window and the
// viewer settings, and resumes playback afterwards. A window closing while
// an export runs stops the export first (its part files are removed).
#include "AVIBackupDialog.h"
#include "CaptureDialog.h"

#include <QObject>
#include <QPointer>

class TalViewerMainDialog;

class ExportCommands : public QObject
{
    Q_OBJECT

public:
    explicit ExportCommands(TalViewerMainDialog *window);

    AVIBackupDialog *backupDialog() const { return backup; }
    CaptureDialog *captureDialog() const { return capture; }

public slots:
    void videoBackup();
    void captureImages();
    // For the main window's close: stops a running export, waits for it and
    // closes the open windows.
    void abortAll();

private:
    bool pausePlayback();
    void resumePlayback(bool wasPlaying);

    TalViewerMainDialog *window;
    QPointer<AVIBackupDialog> backup;
    QPointer<CaptureDialog> capture;
};
