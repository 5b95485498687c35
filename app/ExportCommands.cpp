#include "ExportCommands.h"

#include "AVIBackupDialog.h"
#include "CaptureDialog.h"
#include "Config.h"
#include "EventItem.h"
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "PavonaEventItem.h"
#include "PlaybackHost.h"
#include "Reader.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"
#include "Transport.h"

#include <QDir>


namespace {

void saveSettings(Config *config)
{
    if (!config->save())
        qWarning("%s", qPrintable(config->error()));
}

} // namespace

ExportCommands::ExportCommands(TalViewerMainDialog *window) : QObject(window), window(window) {}

bool ExportCommands::pausePlayback()
{
    const bool playing = window->playbackHost()->isRunning() && !window->transport()->isPaused();
    if (playing)
        window->transport()->pause();
    return playing;
}

void ExportCommands::resumePlayback(bool wasPlaying)
{
    if (wasPlaying && window->isVisible())
        window->transport()->resume();
}

void ExportCommands::videoBackup()
{
    Reader *reader = window->catalogue();
    const int mode = window->loadedStorageMode();
    // The span of the catalogue shown: earliest start to latest end.
    QDateTime first, last, start, end;
    auto widen = [&](qint64 s, qint64 e) {
        const QDateTime a = QDateTime::fromSecsSinceEpoch(s), b = QDateTime::fromSecsSinceEpoch(e);
        first = first.isValid() ? qMin(first, a) : a;
        last = last.isValid() ? qMax(last, b) : b;
    };
    if (mode == 1) {
        for (const BankEntry &b : reader->banks())
            widen(b.start, b.end);
    } else {
        for (const FileRecord &r : reader->files())
            if (r.start.isValid())
                widen(r.start.toSecsSinceEpoch(), r.end().toSecsSinceEpoch());
    }
    const bool wasPlaying = pausePlayback();
    if (!first.isValid()) {
        resumePlayback(wasPlaying);
        return; // an empty catalogue has nothing to back up
    }
    if (mode == 1) {
        if (const EventItem *item = window->eventList()->currentItem()) {
            start = QDateTime::fromSecsSinceEpoch(item->entry.start);
            end = QDateTime::fromSecsSinceEpoch(item->entry.end);
        }
    } else if (const PavonaEventItem *record = window->eventList()->currentRecord()) {
        start = record->record.start;
        end = record->record.end();
    }
    if (!start.isValid()) {
        start = first;
        end = last;
    }
    Config *config = window->viewerConfig();
    AVIBackupDialog dialog(reader, window->loadedChannelCount());
    backup = &dialog;
    dialog.setFolder(config->aviFolder());
    dialog.setRange(first, last, start, end, start.toString(QStringLiteral("yyyyMMdd_HHmmss")));
    connect(&dialog, &AVIBackupDialog::folderChosen, this, [config](const QString &folder) {
        config->values.aviFolder = folder;
        saveSettings(config);
    });
    dialog.exec();
    resumePlayback(wasPlaying);
}

void ExportCommands::captureImages()
{
    // Paused first, so the picture named is the picture saved.
    const bool wasPlaying = pausePlayback();
    PaneManager *grid = window->paneGrid();
    QVector<TalGLWidget *> views;
    for (int i = 0; i < grid->paneCount(); ++i) {
        TalGLWidget *view = grid->view(i);
        views.append(view && view->isVisible() ? view : nullptr);
    }
    const TalGLWidget *lead = grid->view(grid->layout() == 0 ? grid->current() : 0);
    const QDateTime shown = lead && lead->hasPicture() ? QDateTime::fromSecsSinceEpoch(lead->pictureSeconds())
                                                      : QDateTime::currentDateTime();
    Config *config = window->viewerConfig();
    CaptureDialog dialog;
    capture = &dialog;
    dialog.setFolder(config->captureFolder());
    dialog.setWindowFolder(QDir(Config::documentsFolder()).filePath(QStringLiteral("ZidavOva/BMP")));
    dialog.setPanes(views);
    dialog.setWindowToGrab(window);
    dialog.setFileName(shown.toString(QStringLiteral("yyyyMMdd_HHmmss")));
    connect(&dialog, &CaptureDialog::folderChosen, this, [config](const QString &folder) {
        config->values.captureFolder = folder;
        saveSettings(config);
    });
    dialog.exec();
    resumePlayback(wasPlaying);
}

void ExportCommands::abortAll()
{
    if (backup) {
        backup->abortExport();
        backup->reject();
    }
    if (capture)
        capture->reject();
}
