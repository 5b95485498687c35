#include "TalViewerMainDialog.h"

#include "CardSettings.h"
#include "Config.h"
#include "ControlMenuWidget.h"
#include "DisplayInfoWidget.h"
#include "EventMenuWidget.h"
#include "ExportCommands.h"
#include "GPSMenuWidget.h"
#include "GpsDetailInfoWidget.h"
#include "LogCategories.h"
#include "MapButtonWidget.h"
#include "MapWidget.h"
#include "MySlider.h"
#include "PaneManager.h"
#include "PasswordDialog.h"
#include "PavonaConfig.h"
#include "PlaybackHost.h"
#include "Reader.h"
#include "SettingsImage.h"
#include "SetupDialog.h"
#include "SetupTessenDialog.h"
#include "SmartBackupDialog.h"
#include "SourceRecognition.h"
#include "TalGLWidget.h"
#include "TelemetryFeed.h"
#include "TileSource.h"
#include "TimeDisplayWidget.h"
#include "TopMenuWidget.h"
#include "Transport.h"
#include "ui_TalViewerMainDialog.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <functional>

TalViewerMainDialog *TalViewerMainDialog::self = nullptr;

namespace {

const QSize preferredSize(1280, 768);

QString describe(SourceKind kind)
{
    switch (kind) {
    case SourceKind::IndexCard: return QStringLiteral("index card");
    case SourceKind::RecordCard: return QStringLiteral("record card");
    case SourceKind::Folder: return QStringLiteral("folder");
    case SourceKind::SingleFile: return QStringLiteral("recording");
    case SourceKind::Archive: return QStringLiteral("Smart Backup archive");
    default: return QStringLiteral("source");
    }
}

} // namespace

TalViewerMainDialog::TalViewerMainDialog(QWidget *parent)
    : QDialog(parent)
{
    // Children created below may already ask for the main window.
    self = this;
    ui = new Ui::TalViewerMainDialog;
    ui->setupUi(this);
    setAcceptDrops(true);
    installEventFilter(this);
    reader = std::make_unique<Reader>();
    reader->setPasswordPrompt(PasswordDialog::prompt(this));
    playback = std::make_unique<PlaybackHost>(reader.get());
    config = std::make_unique<Config>();
    if (!config->load())
        qWarning("%s", qPrintable(config->error()));
    pavonaConfig = std::make_unique<PavonaConfig>();
    settingsImage = QByteArray(SettingsImage::DataSize, '\0');
    SettingsImage::loadViewerCopy(3, reinterpret_cast<unsigned char *>(settingsImage.data()));
    setWindowFlags(Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    // 1280 x 768 to start with and at least, but never beyond the screen;
    // the window may grow (maximise, full screen, high-DPI screens).
    QSize initial = preferredSize;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        initial = initial.boundedTo(screen->availableGeometry().size());
    setMinimumSize(initial);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(initial);

    paneManager = new PaneManager(ui->DisplayBaseWidget);
    topMenu = new TopMenuWidget(ui->TopMenuBaseWidget);
    eventMenu = new EventMenuWidget(ui->EventListBaseWidget);
    controlMenu = new ControlMenuWidget(ui->ControlMenuBaseWidget);
    gpsMenu = new GPSMenuWidget(ui->GPSInfoBaseWidget);
    gpsDetail = new GpsDetailInfoWidget(ui->GPSDetailInfoBaseWidget);
    timeDisplay = new TimeDisplayWidget(ui->TimeInfoBaseWidget);
    displayInfo = new DisplayInfoWidget(ui->DisplayInfoBaseWidget);
    mapButton = new MapButtonWidget(ui->MapButtonBaseWidget);
    mapWidget = new MapWidget(ui->MapBaseWidget);
    commands = new Transport(playback.get(), this);
    // Content widgets follow their base widgets whatever moved them.
    for (QWidget *base : {ui->DisplayBaseWidget, ui->TopMenuBaseWidget, ui->EventListBaseWidget,
                          ui->ControlMenuBaseWidget, ui->TimeInfoBaseWidget, ui->GPSInfoBaseWidget,
                          ui->GPSDetailInfoBaseWidget, ui->DisplayInfoBaseWidget, ui->MapButtonBaseWidget,
                          ui->MapBaseWidget})
        base->installEventFilter(this);

    connect(paneManager, &PaneManager::layoutShown, topMenu, &TopMenuWidget::setLayoutButtons);
    // The time bar reads a frame before the pane grid takes it over.
    connect(playback.get(), &PlaybackHost::decodedFrame, this, &TalViewerMainDialog::followFrame);
    connect(playback.get(), &PlaybackHost::decodedFrame, paneManager, &PaneManager::decodedFrame);
    connect(paneManager, &PaneManager::viewChanged, this, [this](int layout, int current) {
        if (playback->isRunning())
            playback->setPaneView(layout, current);
    });
    connect(eventMenu, &EventMenuWidget::itemSelected, this, &TalViewerMainDialog::playDBItem);
    connect(eventMenu, &EventMenuWidget::itemPavonaSelected, this, &TalViewerMainDialog::playPavonaItem);
    connect(topMenu, &TopMenuWidget::folderChosen, this, [this](const QString &folder) { loadPath(folder); });
    connect(topMenu, &TopMenuWidget::fullScreenRequested, this, &TalViewerMainDialog::toggleFullScreen);
    connect(topMenu, &TopMenuWidget::printRequested, this, &TalViewerMainDialog::printPanes);
    connect(topMenu, &TopMenuWidget::smartBackupRequested, this, &TalViewerMainDialog::openSmartBackup);
    connect(topMenu, &TopMenuWidget::setupRequested, this, &TalViewerMainDialog::openSetup);
    exports = new ExportCommands(this);
    connect(topMenu, &TopMenuWidget::videoBackupRequested, exports, &ExportCommands::videoBackup);
    connect(topMenu, &TopMenuWidget::captureRequested, exports, &ExportCommands::captureImages);
    connectControls();
    connectTelemetry();
    installShortcuts();
}

void TalViewerMainDialog::connectTelemetry()
{
    telemetry = new TelemetryFeed(gpsMenu, gpsDetail, displayInfo, mapWidget, mapButton, this);
    telemetry->setSnapshotProvider([this](int index) { return playback->telemetry(index); });
    connect(telemetry, &TelemetryFeed::seekRequested, commands, &Transport::seek);
    connect(telemetry, &TelemetryFeed::speedChanged, controlMenu, &ControlMenuWidget::setGpsSpeed);
    connect(telemetry, &TelemetryFeed::speedCleared, controlMenu, &ControlMenuWidget::clearGpsSpeed);
    connect(mapButton, &MapButtonWidget::toggleMapRequested, this, &TalViewerMainDialog::toggleMap);
    // Thresholds the user chose are kept in the viewer's settings.
    connect(telemetry, &TelemetryFeed::thresholdsChanged, this, [](const HarshThresholds &t) {
        Config config;
        // A file that cannot be read is not overwritten with defaults.
        if (!config.load()) {
            qCWarning(lcShell, "harsh-event thresholds not saved: %s", qPrintable(config.error()));
            return;
        }
        config.values.hardBrakingMilliG = t.brakingMilliG;
        config.values.hardAccelerationMilliG = t.accelerationMilliG;
        config.values.impactMilliG = t.impactMilliG;
        if (!config.save())
            qCWarning(lcShell, "harsh-event thresholds not saved: %s", qPrintable(config.error()));
    });
}

void TalViewerMainDialog::applyViewerSettings()
{
    Config config;
    if (!config.load())
        qCWarning(lcShell, "%s", qPrintable(config.error()));
    controlMenu->setSpeedUnitKmh(config.speedKmh());
    telemetry->setSpeedUnitKmh(config.speedKmh());
    const bool overspeedEvents = config.values.events[6];
    telemetry->setOverspeedLimit(overspeedEvents ? config.values.overspeedLimit : 0);
    // ZIDAVOVA_TILE_URL wins over the setting; neither set: the default
    // server. A setting that is set but empty (not null) switches tiles off.
    const QString setting = !config.tileServerSet() ? QString()
                            : config.tileServer().isNull() ? QStringLiteral("") : config.tileServer();
    mapWidget->setTileServer(TileSource::chooseServer(setting));
    HarshThresholds thresholds;
    thresholds.brakingMilliG = config.values.hardBrakingMilliG;
    thresholds.accelerationMilliG = config.values.hardAccelerationMilliG;
    thresholds.impactMilliG = config.values.impactMilliG;
    telemetry->setThresholds(thresholds);
}

void TalViewerMainDialog::connectControls()
{
    Transport *t = commands;
    connect(controlMenu, &ControlMenuWidget::playRequested, t, &Transport::play);
    connect(controlMenu, &ControlMenuWidget::reverseRequested, t, &Transport::reverse);
    connect(controlMenu, &ControlMenuWidget::pauseRequested, t, &Transport::pause);
    connect(controlMenu, &ControlMenuWidget::nextFrameRequested, t, &Transport::nextFrame);
    connect(controlMenu, &ControlMenuWidget::prevFrameRequested, t, &Transport::previousFrame);
    connect(controlMenu, &ControlMenuWidget::fastForwardRequested, t, &Transport::fastForward);
    connect(controlMenu, &ControlMenuWidget::fastBackwardRequested, t, &Transport::fastBackward);
    connect(controlMenu, &ControlMenuWidget::nextBankRequested, t, &Transport::nextBank);
    connect(controlMenu, &ControlMenuWidget::prevBankRequested, t, &Transport::previousBank);
    connect(controlMenu, &ControlMenuWidget::speedChanged, t, &Transport::setSpeed);
    connect(controlMenu, &ControlMenuWidget::brightnessChanged, this, [this](float factor) {
        if (TalGLWidget *view = paneManager->currentView())
            view->setBrightness(factor);
    });
    connect(controlMenu, &ControlMenuWidget::contrastChanged, this, [this](float factor) {
        if (TalGLWidget *view = paneManager->currentView())
            view->setContrast(factor);
    });
    connect(paneManager, &PaneManager::currentChanged, this, [this] {
        if (TalGLWidget *view = paneManager->currentView()) {
            controlMenu->setPictureFactors(view->brightness(), view->contrast());
            displayInfo->setZoom(double(view->zoomFactor()));
        }
    });
    connect(t, &Transport::openRequested, this, [this](int index, int direction) {
        eventMenu->selectRow(index);
        playEntry(index, direction);
    });
    // A record file with other channels: open it and build its own panes.
    connect(playback.get(), &PlaybackHost::layoutChanged, this,
            [this](int index) { playEntry(index, commands->playDirection()); });
    connect(playback.get(), &PlaybackHost::recordingSkipped, this,
            [this](int index, const QString &reason) { showUnplayable(index, reason, true); });

    connect(timeDisplay, &TimeDisplayWidget::seekRequested, t, &Transport::seek);
    connect(timeDisplay, &TimeDisplayWidget::recordingChanged, this, [this](int index) {
        qint64 start = 0, end = 0;
        if (playback->recordingSpan(index, &start, &end))
            timeDisplay->setRange(index, start, end);
        eventMenu->selectRow(index);
    });
    connect(timeDisplay, &TimeDisplayWidget::volumeChanged, playback.get(), &PlaybackHost::setVolume);
    connect(timeDisplay, &TimeDisplayWidget::zoomInRequested, this, [this] { zoomCurrentView(1); });
    connect(timeDisplay, &TimeDisplayWidget::zoomInitRequested, this, [this] { zoomCurrentView(0); });
    connect(timeDisplay, &TimeDisplayWidget::zoomOutRequested, this, [this] { zoomCurrentView(-1); });
    playback->setVolume(timeDisplay->volumeSlider()->value());
}

// Keys act wherever the focus is in the window, the event list included.
void TalViewerMainDialog::installShortcuts()
{
    const struct {
        QKeySequence keys;
        std::function<void()> action;
    } table[] = {
        {QKeySequence(Qt::Key_Space), [this] { commands->togglePause(); }},
        {QKeySequence(Qt::Key_Right), [this] { commands->nextFrame(); }},
        {QKeySequence(Qt::Key_Left), [this] { commands->previousFrame(); }},
        {QKeySequence(Qt::SHIFT + Qt::Key_Right), [this] { commands->fastForward(); }},
        {QKeySequence(Qt::SHIFT + Qt::Key_Left), [this] { commands->fastBackward(); }},
        {QKeySequence(Qt::Key_PageDown), [this] { commands->nextBank(); }},
        {QKeySequence(Qt::Key_PageUp), [this] { commands->previousBank(); }},
        {QKeySequence(Qt::Key_Plus), [this] { zoomCurrentView(1); }},
        {QKeySequence(Qt::Key_Equal), [this] { zoomCurrentView(1); }},
        {QKeySequence(Qt::Key_Minus), [this] { zoomCurrentView(-1); }},
        {QKeySequence(Qt::Key_F), [this] { toggleFullScreen(); }},
        {QKeySequence(Qt::Key_0), [this] { paneManager->changeLayout(paneManager->defaultLayout(), 0); }},
    };
    for (const auto &entry : table)
        connect(new QShortcut(entry.keys, this), &QShortcut::activated, this, entry.action);
    for (int k = 1; k <= 9; ++k) {
        connect(new QShortcut(QKeySequence(Qt::Key_0 + k), this), &QShortcut::activated, this, [this, k] {
            if (k <= channelCount)
                paneManager->changeLayout(0, k - 1);
        });
    }
}

void TalViewerMainDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape leaves full screen; it never closes the viewer.
    if (event->key() == Qt::Key_Escape) {
        if (fullScreen)
            toggleFullScreen();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TalViewerMainDialog::zoomCurrentView(int step)
{
    TalGLWidget *view = paneManager->currentView();
    if (!view)
        return;
    if (step > 0)
        view->zoomIn();
    else if (step < 0)
        view->zoomOut();
    else
        view->setZoom(1.0f);
    displayInfo->setZoom(double(view->zoomFactor()));
}

void TalViewerMainDialog::followFrame(const H26xFrameItem *item)
{
    const int leading = paneManager->layout() == 0 ? paneManager->current() : 0;
    if (!item->isVideo() || item->channel() != leading)
        return;
    const FrameIndexEntry &record = item->record();
    timeDisplay->updateTime(record.catalogueIndex, record.sec, int(record.usec));
    telemetry->frameShown(record, playback->currentGpsFix(), playback->deviceVolume());
    emit leadingFrameShown(record.catalogueIndex, record.timeMs());
}

TalViewerMainDialog::~TalViewerMainDialog()
{
    playback.reset();
    eventMenu->clear();
    reader->clear();
    delete ui;
    // Callers must not reach a window that is gone.
    if (self == this)
        self = nullptr;
}

TalViewerMainDialog *TalViewerMainDialog::instance()
{
    return self;
}

void TalViewerMainDialog::setStartPath(const QString &path)
{
    startPathArgument = path;
}

QString TalViewerMainDialog::startPath() const
{
    return startPathArgument;
}

void TalViewerMainDialog::setDriveList(const DriveList &list)
{
    drives = std::make_unique<DriveList>(list);
}

void TalViewerMainDialog::changeLayout1X1_1() { paneManager->changeLayout(0, 0); }
void TalViewerMainDialog::changeLayout1X1_2() { paneManager->changeLayout(0, 1); }
void TalViewerMainDialog::changeLayout1X1_3() { paneManager->changeLayout(0, 2); }
void TalViewerMainDialog::changeLayout1X1_4() { paneManager->changeLayout(0, 3); }
void TalViewerMainDialog::changeLayout1X1_5() { paneManager->changeLayout(0, 4); }
void TalViewerMainDialog::changeLayout1X1_6() { paneManager->changeLayout(0, 5); }
void TalViewerMainDialog::changeLayout1X1_7() { paneManager->changeLayout(0, 6); }
void TalViewerMainDialog::changeLayout1X1_8() { paneManager->changeLayout(0, 7); }
void TalViewerMainDialog::changeLayout2X1() { paneManager->changeLayout(1, 0); }
void TalViewerMainDialog::changeLayout2X2() { paneManager->changeLayout(2, 0); }
void TalViewerMainDialog::changeLayout3X3() { paneManager->changeLayout(3, 0); }

void TalViewerMainDialog::toggleMap()
{
    // The layout gives the event list the map's room; the event filter
    // re-fits the list when its base widget has been resized.
    ui->MapBaseWidget->setVisible(ui->MapBaseWidget->isHidden());
    mapButton->setMapHidden(ui->MapBaseWidget->isHidden());
}

bool TalViewerMainDialog::isMapShown() const
{
    return !ui->MapBaseWidget->isHidden() && mapWidget->isVisible();
}

void TalViewerMainDialog::toggleFullScreen()
{
    // In full screen a shown map floats on top of the window.
    const bool mapShown = !ui->MapBaseWidget->isHidden();
    if (!fullScreen) {
        if (mapShown) {
            const QSize size = mapWidget->size();
            mapWidget->setParent(this, Qt::Window | Qt::WindowStaysOnTopHint);
            mapWidget->resize(size);
            mapWidget->show();
            mapWidget->raise();
        }
        ui->EventBaseWidget->hide();
        showFullScreen();
    } else {
        ui->EventBaseWidget->show();
        if (mapWidget->parentWidget() != ui->MapBaseWidget) {
            mapWidget->setParent(ui->MapBaseWidget, Qt::Widget);
            mapWidget->setGeometry(ui->MapBaseWidget->rect());
            mapWidget->show();
            mapWidget->raise();
        }
        showNormal();
    }
    fullScreen = !fullScreen;
}

void TalViewerMainDialog::printPanes()
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setFullPage(true);
    QPrintDialog dialog(&printer, topMenu);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter;
    if (!painter.begin(&printer)) {
        qCWarning(lcShell, "cannot print to %s", qPrintable(printer.printerName()));
        return;
    }
    for (int i = 0; i < paneManager->paneCount(); ++i) {
        if (i > 0)
            printer.newPage();
        if (TalGLWidget *view = paneManager->view(i))
            view->render(&painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    painter.end();
}

SmartBackupDialog *TalViewerMainDialog::smartBackupDialog() const
{
    return smartBackup;
}

QString TalViewerMainDialog::smartBackupFolder() const
{
    return config->smartBackupFolder();
}

void TalViewerMainDialog::openSmartBackup()
{
    if (smartBackup)
        return;
    const bool resume = playback->isRunning() && !commands->isPaused();
    if (resume)
        commands->pause();
    SmartBackupDialog dialog(this);
    smartBackup = &dialog;
    if (storageMode == 1)
        dialog.setItems(eventMenu->allItemList());
    else
        dialog.setRecords(eventMenu->allRecordList());
    dialog.setOutputFolder(smartBackupFolder());
    dialog.exec();
    smartBackup = nullptr;
    if (!dialog.archivePath().isEmpty() && isVisible()) {
        if (loadArchive(dialog.archivePath(), dialog.archivePassword()) == 0) {
            if (dialog.archiveWritten())
                eventMenu->setNotice(tr("Smart Backup saved to %1 and opened.")
                                         .arg(QDir::toNativeSeparators(dialog.archivePath())));
            return;
        }
    }
    if (resume && playback->isRunning())
        commands->resume();
}

int TalViewerMainDialog::loadArchive(const QString &path, const QString &password)
{
    if (password.isEmpty())
        return loadPath(path);
    // The password typed for the archive is tried first; anything else is
    // asked as before.
    const QByteArray typed = password.toUtf8();
    const PasswordPrompt ask = reader->passwordPrompt();
    reader->setPasswordPrompt([typed, ask](PasswordKind kind, const QByteArray &expected, int length) {
        return (kind == PasswordKind::Archive && passwordMatches(kind, typed, expected, length))
            || (ask && ask(kind, expected, length));
    });
    const int result = loadPath(path);
    reader->setPasswordPrompt(ask);
    return result;
}

bool TalViewerMainDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched != this)
        fitContentWidgets();
    return QDialog::eventFilter(watched, event);
}

void TalViewerMainDialog::fitContentWidgets()
{
    paneManager->setGeometry(ui->DisplayBaseWidget->rect());
    topMenu->setGeometry(ui->TopMenuBaseWidget->rect());
    eventMenu->setGeometry(ui->EventListBaseWidget->rect());
    controlMenu->setGeometry(ui->ControlMenuBaseWidget->rect());
    timeDisplay->setGeometry(ui->TimeInfoBaseWidget->rect());
    gpsMenu->setGeometry(ui->GPSInfoBaseWidget->rect());
    gpsDetail->setGeometry(ui->GPSDetailInfoBaseWidget->rect());
    displayInfo->setGeometry(ui->DisplayInfoBaseWidget->rect());
    mapButton->setGeometry(ui->MapButtonBaseWidget->rect());
    if (mapWidget->parentWidget() == ui->MapBaseWidget)
        mapWidget->setGeometry(ui->MapBaseWidget->rect());
}

void TalViewerMainDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    fitContentWidgets();
}

void TalViewerMainDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Restoring a minimised window sends another show event; the set-up runs
    // once.
    if (initialised)
        return;
    initialised = true;
    firstShow();
}

void TalViewerMainDialog::firstShow()
{
    ++firstShows;
    fitContentWidgets();
    topMenu->show();
    QPushButton *buttons[TopMenuWidget::LayoutButtonCount];
    for (int i = 0; i < TopMenuWidget::LayoutButtonCount; ++i)
        buttons[i] = topMenu->layoutButton(i);
    void (TalViewerMainDialog::*const layoutSlots[])() = {
        &TalViewerMainDialog::changeLayout1X1_1, &TalViewerMainDialog::changeLayout1X1_2,
        &TalViewerMainDialog::changeLayout1X1_3, &TalViewerMainDialog::changeLayout1X1_4,
        &TalViewerMainDialog::changeLayout1X1_5, &TalViewerMainDialog::changeLayout1X1_6,
        &TalViewerMainDialog::changeLayout1X1_7, &TalViewerMainDialog::changeLayout1X1_8,
        &TalViewerMainDialog::changeLayout2X1,   &TalViewerMainDialog::changeLayout2X2,
        &TalViewerMainDialog::changeLayout3X3};
    for (int i = 0; i < TopMenuWidget::LayoutButtonCount; ++i)
        connect(buttons[i], &QPushButton::clicked, this, layoutSlots[i]);
    eventMenu->show();
    controlMenu->show();
    timeDisplay->show();
    for (QWidget *w : {static_cast<QWidget *>(gpsMenu), static_cast<QWidget *>(gpsDetail),
                       static_cast<QWidget *>(displayInfo), static_cast<QWidget *>(mapButton),
                       static_cast<QWidget *>(mapWidget)})
        w->show();

    applyViewerSettings();
    // A path named on the command line wins; one that cannot be opened
    // leaves the usual search.
    if (startPathArgument.isEmpty() || loadPath(startPathArgument) != 0)
        discoverCard();
    else if (startEntry >= 0)
        QTimer::singleShot(0, this, [this] { playEntry(startEntry, Transport::Forward); });
    // The map starts hidden and the event list takes its room.
    toggleMap();
}

void TalViewerMainDialog::stopThreads()
{
    playback->stop();
}

void TalViewerMainDialog::playDBItem(EventItem *item)
{
    if (!item)
        return;
    qCDebug(lcShell, "[%s::%d]filepath:%s seq:%d bank_serial:%d ch_info:%d", "playDBItem", __LINE__,
           qPrintable(item->entry.path), int(item->entry.bankSeq), int(item->entry.sortKey),
           int(item->entry.channels));
    playEntry(item->index, Transport::Forward);
}

void TalViewerMainDialog::playPavonaItem(PavonaEventItem *item)
{
    if (!item)
        return;
    qCDebug(lcShell, "[%s::%d]filepath:%s", "playPavonaItem", __LINE__, qPrintable(item->record.path));
    playEntry(item->index, Transport::Forward);
}

void TalViewerMainDialog::playEntry(int index, int direction)
{
    // The controller shows the first pictures as soon as they are decoded;
    // the GUI thread never sleeps waiting for them.
    telemetry->playbackStarted();
    if (playback->play(index, direction == Transport::Backward) != 0) {
        // Nothing of the recording played before stays on screen: empty
        // panes, time bar, speed read-out and telemetry.
        telemetry->clear();
        installCatalogue();
        showUnplayable(index, playback->playError(), false);
        return;
    }
    eventMenu->setNotice(QString());
    // The grid follows the channels and picture sizes of the recording.
    const QVector<QSize> sizes = playback->channelSizes();
    QVector<int> widths, heights;
    for (const QSize &size : sizes) {
        widths.append(size.width());
        heights.append(size.height());
    }
    const QVector<PaneSpec> specs = buildPaneSpecs(sizes.size(), widths, heights);
    if (sizes.size() != channelCount || specs != paneSpecs) {
        channelCount = sizes.size();
        paneSpecs = specs;
        installCatalogue();
    }
    playback->setPaneView(paneManager->layout(), paneManager->current());
    commands->started(direction);
    // The render thread starts at normal speed; the slider's choice stays.
    commands->setSpeed(controlMenu->speed());
    qint64 start = 0, end = 0;
    if (playback->recordingSpan(index, &start, &end))
        timeDisplay->setRange(index, start, end);
}

void TalViewerMainDialog::showUnplayable(int index, const QString &reason, bool skipped)
{
    const QString why = reason.isEmpty() ? tr("it cannot be read") : reason;
    qCWarning(lcShell, "entry %d cannot be played: %s", index, qPrintable(why));
    eventMenu->markUnplayable(index, why);
    eventMenu->setNotice(skipped ? tr("Entry %1 was skipped: %2.").arg(index).arg(why)
                                 : tr("Entry %1 could not be played: %2.").arg(index).arg(why));
}

void TalViewerMainDialog::closeEvent(QCloseEvent *event)
{
    // A backup still running stops and removes what it began.
    if (smartBackup)
        smartBackup->abort();
    // A running export stops cleanly first; nothing half-written is left.
    exports->abortAll();
    stopThreads();
    // QSettings replaces the file whole or not at all.
    if (!config->save())
        qWarning("%s", qPrintable(config->error()));
    QDialog::closeEvent(event);
}

void TalViewerMainDialog::applySpeedUnit()
{
    bool kmh = config->speedKmh();
    // A record-file card keeps the unit at byte 3384 of its settings image,
    // inside the fourth channel's entry: with fewer channels that byte is
    // no setting and the viewer's own unit holds.
    if (storageMode == 2) {
        const CardSettings card = CardSettings::fromReader(*reader);
        const QByteArray image = card.read ? card.image : settingsImage;
        const quint32 channels = image.size() > 2231 ? quint32(quint8(image[2228])) | quint32(quint8(image[2229])) << 8
                | quint32(quint8(image[2230])) << 16 | quint32(quint8(image[2231])) << 24 : 0;
        if (channels >= 4 && channels <= 8 && image.size() > 3384)
            kmh = image[3384] != 0;
    }
    controlMenu->setSpeedUnitKmh(kmh);
}

void TalViewerMainDialog::openSetup()
{
    const bool wasPaused = commands->isPaused();
    const bool wasPlaying = playback->isRunning();
    if (wasPlaying && !wasPaused)
        commands->pause();
    QString erased;
    if (storageMode == 1) {
        SetupDialog dialog(config.get(), reader.get(), this);
        dialog.exec();
    } else if (storageMode == 2) {
        SetupTessenDialog dialog(pavonaConfig.get(), reader.get(), &settingsImage, this);
        dialog.setStopPlayback([this] { stopThreads(); });
        dialog.exec();
        erased = dialog.erasedRoot();
    }
    applySpeedUnit();
    // An erased card is opened again to show what is left of it.
    if (!erased.isEmpty()) {
        loadPath(erased);
        return;
    }
    if (wasPlaying && !wasPaused && playback->isRunning())
        commands->resume();
}

int TalViewerMainDialog::openSource(const QString &path, SourceKind kind)
{
    switch (kind) {
    case SourceKind::IndexCard:
        return reader->openIndexFile(path) == 0 && reader->loadBanks(path) >= 0 ? 0 : -1;
    case SourceKind::RecordCard:
        return reader->scanCard(path) > 0 ? 0 : -1;
    case SourceKind::Folder:
        return reader->scanFolder(path) > 0 ? 0 : -1;
    case SourceKind::SingleFile:
        return reader->openSingleFile(QString::fromLocal8Bit(path.toLocal8Bit())) > 0 ? 0 : -1;
    case SourceKind::Archive:
        return reader->openIndexFormatFile(path) >= 0 ? 0 : -1;
    default:
        return -1;
    }
}

void TalViewerMainDialog::discoverCard()
{
    if (!drives)
        drives = std::make_unique<DriveList>();
    // A card whose password dialog was closed without a password.
    QString locked;
    for (const QString &root : drives->roots()) {
        const SourceKind kind = recogniseCard(root);
        if (kind == SourceKind::None)
            continue;
        // The camera writes its settings file with the marker; a card
        // without it is not taken at start-up.
        if (kind == SourceKind::RecordCard && reader->locateSettings(root) != 0)
            continue;
        // A card that does not open (a refused password, a damaged index)
        // does not stop the search.
        if (openSource(root, kind) == 0) {
            installOpened(kind);
            return;
        }
        if (locked.isEmpty() && reader->passwordRefused())
            locked = root;
    }
    if (!locked.isEmpty())
        installFallback(tr("The card at %1 is locked and no password was given. Open it again to enter its password.")
                            .arg(QDir::toNativeSeparators(locked)));
    else
        installFallback(tr("No camera card was found. Open a card, a folder or a recording, or drop one here."));
}

int TalViewerMainDialog::loadPath(const QString &path)
{
    const SourceKind kind = recognisePath(path);
    if (kind == SourceKind::None) {
        const bool missing = !QFileInfo::exists(path);
        qCWarning(lcShell, "not a card, folder, recording or archive: %s", qPrintable(path));
        // A drop of some other file changes nothing; a path that cannot be
        // reached at all is said once, without touching the list.
        eventMenu->setNotice(missing ? tr("%1 cannot be accessed.").arg(QDir::toNativeSeparators(path))
                                     : tr("%1 is not a card, folder, recording or archive.")
                                           .arg(QDir::toNativeSeparators(path)));
        return -1;
    }
    const QString shown = QDir::toNativeSeparators(path);
    if (kind == SourceKind::Folder && !QFileInfo(path).isReadable()) {
        stopThreads();
        installFallback(tr("%1 cannot be accessed: no recordings are listed.").arg(shown));
        return -1;
    }
    // The threads read the catalogue that is about to be replaced.
    stopThreads();
    const OpenSource before = reader->source();
    if (openSource(path, kind) == 0) {
        installOpened(kind);
        return 0;
    }
    if (reader->passwordRefused()) {
        // The list still shows the previous source; the Reader must hold it again.
        if (before.kind != SourceKind::None && reader->source().root != before.root)
            openSource(before.root, before.kind);
        eventMenu->setNotice(tr("The password of %1 was refused; nothing was changed.").arg(shown));
        return -1;
    }
    if (kind == SourceKind::IndexCard || kind == SourceKind::RecordCard) {
        installFallback(tr("The %1 at %2 could not be read: no recordings are listed.").arg(describe(kind), shown));
        return -1;
    }
    // Folders, files and archives that do not open leave the catalogue as it was.
    eventMenu->setNotice(tr("No recordings could be read from the %1 %2.").arg(describe(kind), shown));
    return -1;
}

void TalViewerMainDialog::installOpened(SourceKind kind)
{
    storageMode = kind == SourceKind::IndexCard || kind == SourceKind::Archive ? 1 : 2;
    reader->setMode(storageMode);
    if (storageMode == 1) {
        const QVector<BankEntry> banks = reader->banks();
        QVector<CatalogueSpan> spans;
        QVector<int> types;
        for (const BankEntry &bank : banks) {
            spans.append({bank.start, bank.end});
            types.append(indexItemType(bank.status));
        }
        const QVector<int> blocks = catalogueBlocks(spans);
        QVector<EventItem *> items;
        for (int i = 0; i < banks.size(); ++i) {
            auto *item = new EventItem;
            item->index = i;
            // An archive numbers its entries with their own bank serials.
            item->block = kind == SourceKind::Archive ? int(banks[i].bankSeq) : blocks.value(i);
            item->startTime = QDateTime::fromSecsSinceEpoch(banks[i].start);
            item->type = types[i];
            item->entry = banks[i];
            items.append(item);
        }
        eventMenu->setItems(items, sortIndexItems(types));
        commands->setCatalogueSize(banks.size());
        channelCount = reader->headChannelCount();
    } else {
        const QVector<FileRecord> files = reader->files();
        QVector<CatalogueSpan> spans;
        QVector<quint32> kinds, parking;
        for (const FileRecord &file : files) {
            const qint64 start = file.start.toSecsSinceEpoch();
            spans.append({start, start + file.trailer.duration()});
            kinds.append(file.eventKind);
            parking.append(file.parking);
        }
        const QVector<int> blocks = catalogueBlocks(spans);
        QVector<PavonaEventItem *> records;
        for (int i = 0; i < files.size(); ++i) {
            auto *record = new PavonaEventItem;
            record->index = i;
            record->block = blocks.value(i);
            record->startTime = files[i].start;
            record->type = recordItemType(files[i].eventKind, files[i].parking);
            record->record = files[i];
            records.append(record);
        }
        eventMenu->setRecords(records, sortRecordItems(kinds, parking));
        commands->setCatalogueSize(files.size());
        channelCount = reader->largestChannelCount();
    }
    paneSpecs = buildPaneSpecs(channelCount, reader->widths(), reader->heights());
    loadedSource = reader->source();
    telemetry->clear();
    telemetry->setSourceName(loadedSource.root);
    eventMenu->setNotice(eventMenu->allItemList().isEmpty() && eventMenu->allRecordList().isEmpty()
                             ? tr("%1 holds no recordings.").arg(QDir::toNativeSeparators(loadedSource.root))
                             : QString());
    qCDebug(lcShell, "real max channel:%d", channelCount);
    installCatalogue();
}

void TalViewerMainDialog::installFallback(const QString &reason)
{
    qCWarning(lcShell, "%s", qPrintable(reason));
    reader->clear();
    loadedSource = OpenSource();
    eventMenu->setItems({}, IndexItemLists());
    commands->setCatalogueSize(0);
    storageMode = 1;
    reader->setMode(storageMode);
    channelCount = 1;
    paneSpecs = buildPaneSpecs(0, {}, {});
    eventMenu->setNotice(reason);
    telemetry->clear();
    qCDebug(lcShell, "real max channel:%d", channelCount);
    installCatalogue();
}

void TalViewerMainDialog::installCatalogue()
{
    // Nothing of the new catalogue plays yet: no time and no speed to show.
    timeDisplay->clear();
    controlMenu->clearGpsSpeed();
    paneManager->setGeometry(ui->DisplayBaseWidget->rect());
    paneManager->rebuild(paneCapacity(channelCount), paneSpecs);
    paneManager->show();
    topMenu->setChannelCount(channelCount);
    applySpeedUnit();
    fitContentWidgets();
    topMenu->update();
    paneManager->update();
}

void TalViewerMainDialog::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TalViewerMainDialog::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    // Only the first of several dropped items is opened, and only a local one.
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    const QString path = urls.first().toLocalFile();
    // Anything that is not a source is refused before playback is touched.
    if (recognisePath(path) == SourceKind::None) {
        qCDebug(lcShell, "dropped %s: not a recording, folder or archive", qPrintable(path));
        return;
    }
    event->acceptProposedAction();
    loadPath(path);
}
