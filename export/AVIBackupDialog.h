#pragma once
// The "Video Backup" window: the catalogue's span on two date and time edits
// and a range slider, the output folder and base name, channels, subtitle
// items, audio and overwrite. "Export MKV" runs a SaveToFileThread; the
// window shows its progress, can stop it without waiting, says at the end
// what was written, what failed and why, and cannot be closed while it runs.
#include <QDateTime>
#include <QDialog>
#include <QVector>

class QCheckBox;
class Reader;
class SaveToFileThread;

namespace Ui {
class AVIBackupDialog;
}

class AVIBackupDialog : public QDialog
{
    Q_OBJECT

public:
    // channelCount: channels of the loaded catalogue (the boxes beyond it are off).
    AVIBackupDialog(Reader *reader, int channelCount, QWidget *parent = nullptr);
    ~AVIBackupDialog() override;

    // The span offered (minimum .. maximum), the range preselected and the base name.
    void setRange(const QDateTime &minimum, const QDateTime &maximum, const QDateTime &start, const QDateTime &end,
                  const QString &fileName);
    void setFolder(const QString &folder);
    QString folder() const;
    QDateTime rangeStart() const;
    QDateTime rangeEnd() const;
    // Channel numbers the boxes choose, in order.
    QVector<int> channels() const;
    bool isRunning() const { return running; }
    SaveToFileThread *exportThread() const { return thread; }
    // Stops a running export and waits for it: its part files are removed.
    // For a closing main window; the GUI otherwise never waits.
    void abortExport();

signals:
    // The user chose another output folder (to be kept in the settings).
    void folderChosen(const QString &folder);
    // An export ended; succeeded when every channel was written or skipped.
    void exportFinished(bool succeeded);

public slots:
    void reject() override;
    void lowerChanged(int value);
    void upperChanged(int value);
    void backupFinished();
    void updateProgress(int value);
    void updateProgressImpl();

private slots:
    void on_saveToBtn_clicked();
    void on_makeAVIBtn_clicked();
    void on_stopBtn_clicked();
    void on_closeBtn_clicked();
    void on_startDateEdit_dateChanged(const QDate &date);
    void on_endDateEdit_dateChanged(const QDate &date);
    void on_startTimeEdit_timeChanged(const QTime &time);
    void on_endTimeEdit_timeChanged(const QTime &time);
    void on_checkBoxAll_toggled(bool checked);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startEdited(const QDateTime &candidate);
    void endEdited(const QDateTime &candidate);
    void showStart(const QDateTime &t);
    void showEnd(const QDateTime &t);
    void setRunning(bool on);
    void showChannelCount();
    QCheckBox *channelBox(int channel) const;

    Ui::AVIBackupDialog *ui;
    Reader *reader;
    int channelCount;
    QDateTime rangeMinimum;
    QDateTime rangeMaximum;
    SaveToFileThread *thread = nullptr; // the current export; older ones are deleted once finished
    bool running = false;
    int progress = 0;
};
