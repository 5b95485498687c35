#pragma once
// Smart Backup: the catalogue's recordings on the left, up to 50 chosen ones
// on the right, an optional password and the output (an archive for an
// index store or an archive, a folder for a record-file store). The backup
// runs on its own thread with progress; the window stays usable and the
// backup can be cancelled. An archive written completely (or one chosen with
// Open Archive) is handed back to be opened.
#include "EventItem.h"
#include "PavonaEventItem.h"
#include "SmartBackup.h"

#include <QDialog>
#include <QList>
#include <QVector>

#include <memory>

class QTableWidget;
class SmartBackupJob;

namespace Ui {
class SmartBackupDialog;
}

class SmartBackupDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SmartBackupDialog(QWidget *parent = nullptr);
    ~SmartBackupDialog() override;

    // The catalogue of an index store or archive (mode 1) or of a
    // record-file store (mode 2); the items are copied.
    void setItems(const QList<EventItem *> &items);
    void setRecords(const QList<PavonaEventItem *> &records);
    // The folder of the default output, made when a backup starts there.
    void setOutputFolder(const QString &folder);

    int mode() const { return storeMode; }
    int chosenCount() const { return target.size(); }
    QString outputPath() const;
    bool isRunning() const;
    // The archive to open after the dialog closed: one written completely
    // or one chosen with Open Archive; empty otherwise.
    QString archivePath() const { return archive; }
    // True when archivePath() is an archive this dialog wrote.
    bool archiveWritten() const { return written; }
    // The password the written archive was given (empty without one).
    QString archivePassword() const { return password; }
    QString status() const;

    // Stops a running backup, waits until its partial output is gone and
    // closes the dialog.
    void abort();

public slots:
    void reject() override;

private slots:
    void on_btnAdd_clicked();
    void on_btnRemove_clicked();
    void on_btnBrowse_clicked();
    void on_btnStart_clicked();
    void on_btnClose_clicked();
    void on_btnOpenArchive_clicked();
    void on_checkPassword_toggled(bool on);
    void on_sourceTable_cellDoubleClicked(int row, int column);
    void on_targetTable_cellDoubleClicked(int row, int column);
    void on_editOutput_textEdited(const QString &text);

private:
    struct Row {
        int index = 0;
        int block = 0;
        QDateTime start;
        int type = 0;
        BankEntry bank;
        FileRecord record;
    };
    // A catalogue row's shared columns; the store's own entry is added by the caller.
    template <typename Item> static Row rowOf(const Item *item)
    {
        Row row;
        row.index = item->index;
        row.block = item->block;
        row.start = item->startTime;
        row.type = item->type;
        return row;
    }
    void showSource(int mode, const QVector<Row> &rows);

    void addRows(const QList<int> &sourceRows);
    void fillTable(QTableWidget *table, const QVector<Row> &rows);
    void refreshTarget();
    void setStatus(const QString &text, bool error = false);
    void setRunning(bool running);
    QString defaultOutput() const;
    // The output as it will be written: relative names go into the output
    // folder, archives get ".smb".
    QString resolvedOutput() const;
    void startArchive(const QString &output);
    void startFolder(const QString &folder);
    void jobProgressed(int percent, int item, int count);
    void jobFinished();

    std::unique_ptr<Ui::SmartBackupDialog> ui;
    std::unique_ptr<SmartBackupJob> job;
    int storeMode = 1;
    QVector<Row> source, target;
    QString folder;
    // The output the save dialog already confirmed replacing.
    QString confirmedOverwrite;
    QString runningOutput, runningPassword;
    QString archive, password;
    bool written = false;
    bool aborting = false;
};
