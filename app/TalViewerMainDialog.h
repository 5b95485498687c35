#pragma once
// The viewer's main window: toolbar strip on top, the display area with the
// read-out panels below it, and the event list with the map on the right.
// The form holds the base widgets; each content widget is placed on the full
// rectangle of its base widget.
#include <QDialog>
#include <QString>

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

    // Card root, folder, recording file or archive named on the command line.
    // Kept as given: whether it exists is for whoever opens it to report.
    void setStartPath(const QString &path);
    QString startPath() const;

public slots:
    // Shows or hides the map below the event list; the list takes its room.
    void toggleMap();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool fullScreen = false;
    bool initialised = false;
    int channelCount = 0;
    // 1 index store, 2 record-file store.
    int storageMode = 1;
    QString startPathArgument;
    Ui::TalViewerMainDialog *ui = nullptr;

    static TalViewerMainDialog *self;
};
