#pragma once
// The viewer's main window: toolbar strip on top, the display area with the
// read-out panels below it, and the event list with the map on the right.
// The form holds the base widgets; each content widget is placed on the full
// rectangle of its base widget. Every catalogue load goes through one path:
// recognise the source, open it once in the Reader, install its entries.
#include "CatalogueItems.h"
#include "DriveList.h"
#include "OpenSource.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QVector>

#include <memory>

class Config;
class ControlMenuWidget;
class DisplayInfoWidget;
class EventMenuWidget;
class ExportCommands;
class GPSMenuWidget;
class GpsDetailInfoWidget;
class MapButtonWidget;
class MapWidget;
class PaneManager;
class PavonaConfig;
class H26xFrameItem;
class PlaybackHost;
class SmartBackupDialog;
struct EventItem;
struct PavonaEventItem;
class Reader;
class TelemetryFeed;
class TimeDisplayWidget;
class TopMenuWidget;
class Transport;

namespace Ui {
class TalViewerMainDialog;
}

class TalViewerMainDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TalViewerMainDialog(QWidget *parent = nullptr);
    ~TalViewerMainDialog() override;

    // The one main window, for the GUI-side callers that reach it directly;
    // null while none exists.
    static TalViewerMainDialog *instance();

    // Card root, folder, recording file or archive named on the command line;
    // opened on the first show instead of the drive search when it can be.
    void setStartPath(const QString &path);
    QString startPath() const;
    // Catalogue entry to play once the start path is open (-1: none).
    void setStartEntry(int index) { startEntry = index; }
    // The volumes the start-up search walks (the computer's own by default).
    void setDriveList(const DriveList &drives);

    // Start-up search: the first drive holding a card that opens is loaded;
    // without one the single empty pane is installed.
    void discoverCard();
    // Opens whatever path is (card, folder, recording file, archive) as the
    // new catalogue. 0 when it was loaded; -1 when it was not, with the
    // reason shown under the event list.
    int loadPath(const QString &path);

    PaneManager *paneGrid() const { return paneManager; }
    Config *viewerConfig() const { return config.get(); }
    // The toolbar's Setup: the setup dialog of the open store, modal, with
    // playback paused; the speed unit is read again afterwards.
    void openSetup();
    // The control bar's speed unit from the settings of the open store.
    void applySpeedUnit();
    TopMenuWidget *toolbar() const { return topMenu; }
    EventMenuWidget *eventList() const { return eventMenu; }
    Reader *catalogue() const { return reader.get(); }
    PlaybackHost *playbackHost() const { return playback.get(); }
    ControlMenuWidget *controlBar() const { return controlMenu; }
    TimeDisplayWidget *timeBar() const { return timeDisplay; }
    GPSMenuWidget *gpsReadOut() const { return gpsMenu; }
    GpsDetailInfoWidget *gsensorChart() const { return gpsDetail; }
    DisplayInfoWidget *overlayLine() const { return displayInfo; }
    MapButtonWidget *mapBar() const { return mapButton; }
    MapWidget *map() const { return mapWidget; }
    TelemetryFeed *telemetryFeed() const { return telemetry; }
    bool isMapShown() const;
    Transport *transport() const { return commands; }
    ExportCommands *exportCommands() const { return exports; }
    int loadedChannelCount() const { return channelCount; }
    int loadedStorageMode() const { return storageMode; }
    QVector<PaneSpec> loadedPaneSpecs() const { return paneSpecs; }
    // The Smart Backup dialog while it is open, else null.
    SmartBackupDialog *smartBackupDialog() const;
    // Where Smart Backup archives go unless the user chooses otherwise.
    QString smartBackupFolder() const;
    // How often the first-show set-up ran (1 after any number of shows).
    int firstShowCount() const { return firstShows; }

public slots:
    void changeLayout1X1_1();
    void changeLayout1X1_2();
    void changeLayout1X1_3();
    void changeLayout1X1_4();
    void changeLayout1X1_5();
    void changeLayout1X1_6();
    void changeLayout1X1_7();
    void changeLayout1X1_8();
    void changeLayout2X1();
    void changeLayout2X2();
    void changeLayout3X3();
    // Shows or hides the map below the event list; the list takes its room.
    void toggleMap();
    void toggleFullScreen();
    // Every pane as its own page of one print job.
    void printPanes();
    // The Smart Backup dialog with the catalogue's recordings, playback
    // paused while it is open; the archive it wrote (or chose) is opened.
    void openSmartBackup();
    // Opens an archive; password (typed for it at backup) is tried before
    // the user is asked.
    int loadArchive(const QString &path, const QString &password);
    // Plays the chosen entry with every channel in the grid; playback runs
    // on across recordings.
    void playDBItem(EventItem *item);
    void playPavonaItem(PavonaEventItem *item);
    // Render, decode and read threads, in that order.
    void stopThreads();
    // Reads the viewer's settings again: the speed unit of the read-out and
    // the chart, the overspeed line, the map's tile server.
    void applyViewerSettings();

signals:
    // A frame of the leading channel reached the panes (media time in ms).
    void leadingFrameShown(int recordingIndex, qint64 mediaMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Opens path as kind in the Reader: 0 or -1.
    int openSource(const QString &path, SourceKind kind);
    // Makes the event-list items, pane list and channel count of the source
    // just opened and installs them.
    void installOpened(SourceKind kind);
    // One empty pane and an empty list; reason tells the user why.
    void installFallback(const QString &reason);
    void installCatalogue();
    // Gives every content widget its base widget's full rectangle.
    void fitContentWidgets();
    void firstShow();
    // Opens entry index, builds the panes from its own channel table and
    // plays it in direction (Transport::Forward or Backward). An entry that
    // cannot be played leaves empty panes and time bar, and says why.
    void playEntry(int index, int direction);
    void showUnplayable(int index, const QString &reason, bool skipped);
    void connectControls();
    void installShortcuts();
    // Time bar, overlay line, chart, read-outs and map follow the frames of
    // the leading channel: the shown one in the single pane, channel 0 in a grid.
    void followFrame(const H26xFrameItem *item);
    void connectTelemetry();
    void zoomCurrentView(int step);

    bool fullScreen = false;
    bool initialised = false;
    int firstShows = 0;
    PaneManager *paneManager = nullptr;
    TopMenuWidget *topMenu = nullptr;
    EventMenuWidget *eventMenu = nullptr;
    ControlMenuWidget *controlMenu = nullptr;
    TimeDisplayWidget *timeDisplay = nullptr;
    GPSMenuWidget *gpsMenu = nullptr;
    GpsDetailInfoWidget *gpsDetail = nullptr;
    DisplayInfoWidget *displayInfo = nullptr;
    MapButtonWidget *mapButton = nullptr;
    MapWidget *mapWidget = nullptr;
    TelemetryFeed *telemetry = nullptr;
    Transport *commands = nullptr;
    ExportCommands *exports = nullptr;
    std::unique_ptr<Reader> reader;
    std::unique_ptr<PlaybackHost> playback;
    std::unique_ptr<Config> config;
    std::unique_ptr<PavonaConfig> pavonaConfig;
    // The record-file camera's settings image shown when no card has one
    // (the viewer's copy), replaced by each save.
    QByteArray settingsImage;
    QVector<PaneSpec> paneSpecs;
    int channelCount = 0;
    // 1 index store, 2 record-file store.
    int storageMode = 1;
    // The source behind the list shown; reopened when a new one is refused.
    OpenSource loadedSource;
    QString startPathArgument;
    int startEntry = -1;
    std::unique_ptr<DriveList> drives;
    QPointer<SmartBackupDialog> smartBackup;
    Ui::TalViewerMainDialog *ui = nullptr;

    static TalViewerMainDialog *self;
};
