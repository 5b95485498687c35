#include "SmartBackupDialog.h"

#include "EventKind.h"
#include "LogCategories.h"
#include "SmartBackupJob.h"
#include "ui_SmartBackupDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

const char *const ArchiveFilter = "SmartBackUP (*.smb) ;; All files (*.*)";

} // namespace

SmartBackupDialog::SmartBackupDialog(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SmartBackupDialog>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    for (QTableWidget *table : {ui->sourceTable, ui->targetTable}) {
        table->setColumnCount(4);
        table->setHorizontalHeaderLabels({tr("No."), tr("Block"), tr("DateTime"), tr("Event")});
        table->setColumnWidth(0, 45);
        table->setColumnWidth(1, 50);
        table->setColumnWidth(2, 150);
        table->verticalHeader()->setDefaultSectionSize(24);
    }
    ui->btnStart->setDefault(true);
    refreshTarget();
}

SmartBackupDialog::~SmartBackupDialog() = default;

void SmartBackupDialog::setItems(const QList<EventItem *> &items)
{
    QVector<Row> rows;
    for (const EventItem *item : items) {
        rows.append(rowOf(item));
        rows.last().bank = item->entry;
    }
    showSource(1, rows);
}

void SmartBackupDialog::setRecords(const QList<PavonaEventItem *> &records)
{
    QVector<Row> rows;
    for (const PavonaEventItem *item : records) {
        rows.append(rowOf(item));
        rows.last().record = item->record;
    }
    showSource(2, rows);
    // A folder copy keeps the recordings as the camera wrote them: no password.
    ui->checkPassword->setChecked(false);
    ui->checkPassword->setEnabled(false);
}

void SmartBackupDialog::showSource(int mode, const QVector<Row> &rows)
{
    storeMode = mode;
    source = rows;
    target.clear();
    fillTable(ui->sourceTable, source);
    refreshTarget();
    ui->editOutput->setText(defaultOutput());
}

void SmartBackupDialog::setOutputFolder(const QString &path)
{
    folder = QDir::cleanPath(path);
    ui->editOutput->setText(defaultOutput());
}

QString SmartBackupDialog::defaultOutput() const
{
    if (folder.isEmpty())
        return QString();
    const QString name = storeMode == 1 ? SmartBackup::defaultArchiveName(folder) : SmartBackup::defaultFolderName(folder);
    return QDir::toNativeSeparators(QDir(folder).filePath(name));
}

QString SmartBackupDialog::outputPath() const
{
    return QDir::fromNativeSeparators(ui->editOutput->text().trimmed());
}

QString SmartBackupDialog::resolvedOutput() const
{
    QString path = outputPath();
    if (path.isEmpty())
        return path;
    if (QFileInfo(path).isRelative() && !folder.isEmpty())
        path = QDir(folder).filePath(path);
    if (storeMode == 1 && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".smb");
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool SmartBackupDialog::isRunning() const
{
    // Until its end has been shown: the thread may finish before that.
    return job != nullptr;
}

QString SmartBackupDialog::status() const
{
    return ui->statusLabel->text();
}

void SmartBackupDialog::fillTable(QTableWidget *table, const QVector<Row> &rows)
{
    table->clearContents();
    table->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const Row &row = rows[r];
        const QString cells[] = {QString::number(row.index), QString::number(row.block),
                                 row.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), eventKindName(row.type)};
        for (int c = 0; c < 4; ++c) {
            auto *cell = new QTableWidgetItem(cells[c]);
            cell->setTextAlignment(Qt::AlignCenter);
            table->setItem(r, c, cell);
        }
    }
}

void SmartBackupDialog::refreshTarget()
{
    fillTable(ui->targetTable, target);
    ui->countLabel->setText(QStringLiteral("%1 / %2").arg(target.size()).arg(SmartBackup::MaxItems));
    ui->btnStart->setEnabled(!target.isEmpty() && !isRunning());
}

void SmartBackupDialog::setStatus(const QString &text, bool error)
{
    ui->statusLabel->setStyleSheet(error ? QStringLiteral("color: rgb(255, 96, 96);") : QString());
    ui->statusLabel->setText(text);
}

void SmartBackupDialog::addRows(const QList<int> &sourceRows)
{
    bool full = false;
    for (int r : sourceRows) {
        if (r < 0 || r >= source.size())
            continue;
        const Row &row = source[r];
        const bool chosen = std::any_of(target.cbegin(), target.cend(), [&](const Row &t) { return t.index == row.index; });
        if (chosen)
            continue;
        if (target.size() >= SmartBackup::MaxItems) {
            full = true;
            break;
        }
        target.append(row);
    }
    refreshTarget();
    if (full)
        setStatus(tr("At most %1 recordings go into one Smart Backup.").arg(SmartBackup::MaxItems), true);
    else
        setStatus(QString());
}

void SmartBackupDialog::on_btnAdd_clicked()
{
    // In the order the rows were selected.
    QList<int> rows;
    for (const QModelIndex &index : ui->sourceTable->selectionModel()->selectedRows())
        rows.append(index.row());
    addRows(rows);
}

void SmartBackupDialog::on_sourceTable_cellDoubleClicked(int row, int)
{
    if (!isRunning())
        addRows({row});
}

void SmartBackupDialog::on_btnRemove_clicked()
{
    QList<int> rows;
    for (const QModelIndex &index : ui->targetTable->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int r : rows)
        target.remove(r);
    refreshTarget();
    setStatus(QString());
}

void SmartBackupDialog::on_targetTable_cellDoubleClicked(int row, int)
{
    if (isRunning() || row < 0 || row >= target.size())
        return;
    target.remove(row);
    refreshTarget();
}

void SmartBackupDialog::on_checkPassword_toggled(bool on)
{
    ui->editPassword->setEnabled(on);
    if (on)
        ui->editPassword->setFocus();
}

void SmartBackupDialog::on_editOutput_textEdited(const QString &)
{
    confirmedOverwrite.clear();
}

void SmartBackupDialog::on_btnBrowse_clicked()
{
    const QString current = resolvedOutput().isEmpty() ? folder : resolvedOutput();
    if (storeMode == 1) {
        // The save dialog asks before an existing file is chosen.
        const QString chosen = QFileDialog::getSaveFileName(this, tr("Save a file"), current, tr(ArchiveFilter));
        if (chosen.isEmpty())
            return;
        ui->editOutput->setText(QDir::toNativeSeparators(chosen));
        confirmedOverwrite = QFileInfo::exists(resolvedOutput()) ? resolvedOutput() : QString();
    } else {
        const QString chosen = QFileDialog::getExistingDirectory(this, tr("Open Directory"), current);
        if (!chosen.isEmpty())
            ui->editOutput->setText(QDir::toNativeSeparators(chosen));
    }
}

void SmartBackupDialog::on_btnOpenArchive_clicked()
{
    if (isRunning())
        return;
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Open a file"), folder, tr(ArchiveFilter));
    if (chosen.isEmpty())
        return;
    archive = chosen;
    password.clear();
    written = false;
    accept();
}

void SmartBackupDialog::on_btnStart_clicked()
{
    if (isRunning())
        return;
    if (target.isEmpty()) {
        setStatus(tr("Choose at least one recording to back up."), true);
        return;
    }
    const QString output = resolvedOutput();
    if (output.isEmpty()) {
        setStatus(tr("Give the output %1.").arg(storeMode == 1 ? tr("file") : tr("folder")), true);
        return;
    }
    if (storeMode == 1)
        startArchive(output);
    else
        startFolder(output);
}

void SmartBackupDialog::startArchive(const QString &output)
{
    SmartBackup::ArchiveRequest request;
    for (const Row &row : qAsConst(target))
        request.banks.append(row.bank);
    request.output = output;
    request.usePassword = ui->checkPassword->isChecked();
    request.password = request.usePassword ? ui->editPassword->text() : QString();
    if (request.usePassword && request.password.isEmpty()) {
        setStatus(tr("Type the password, or clear Use Password."), true);
        return;
    }
    const QString parent = QFileInfo(output).absolutePath();
    if (!QFileInfo(parent).isDir() && !QDir().mkpath(parent)) {
        setStatus(tr("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(parent)), true);
        return;
    }
    if (QFileInfo(output).isFile() && confirmedOverwrite != output) {
        const auto answer = QMessageBox::question(this, windowTitle(),
                                                  tr("%1 exists already. Replace it?").arg(QDir::toNativeSeparators(output)),
                                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    request.overwrite = QFileInfo(output).isFile();
    const QString why = SmartBackup::refusal(request);
    if (!why.isEmpty()) {
        setStatus(tr("Smart Backup refused: %1.").arg(why), true);
        return;
    }
    runningOutput = output;
    runningPassword = request.password;
    job = std::make_unique<SmartBackupJob>();
    job->setArchiveRequest(request);
    setRunning(true);
}

void SmartBackupDialog::startFolder(const QString &output)
{
    SmartBackup::FolderRequest request;
    for (const Row &row : qAsConst(target))
        request.records.append(row.record);
    request.folder = output;
    const QString why = SmartBackup::refusal(request);
    if (!why.isEmpty()) {
        setStatus(tr("Smart Backup refused: %1.").arg(why), true);
        return;
    }
    int existing = 0;
    for (const FileRecord &r : qAsConst(request.records))
        existing += QFileInfo::exists(QDir(output).filePath(QFileInfo(r.path).fileName())) ? 1 : 0;
    if (existing > 0) {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        tr("%1 of the chosen recordings are in %2 already.").arg(existing).arg(QDir::toNativeSeparators(output)),
                        QMessageBox::NoButton, this);
        QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::AcceptRole);
        QPushButton *skip = box.addButton(tr("Skip"), QMessageBox::RejectRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(skip);
        box.exec();
        if (box.clickedButton() != replace && box.clickedButton() != skip)
            return;
        request.overwrite = box.clickedButton() == replace;
    }
    runningOutput = output;
    runningPassword.clear();
    job = std::make_unique<SmartBackupJob>();
    job->setFolderRequest(request);
    setRunning(true);
}

void SmartBackupDialog::setRunning(bool running)
{
    for (QWidget *w : {static_cast<QWidget *>(ui->sourceTable), static_cast<QWidget *>(ui->targetTable),
                       static_cast<QWidget *>(ui->btnAdd), static_cast<QWidget *>(ui->btnRemove),
                       static_cast<QWidget *>(ui->editOutput), static_cast<QWidget *>(ui->btnBrowse),
                       static_cast<QWidget *>(ui->btnOpenArchive)})
        w->setEnabled(!running);
    ui->checkPassword->setEnabled(!running && storeMode == 1);
    ui->editPassword->setEnabled(!running && ui->checkPassword->isChecked());
    ui->btnStart->setEnabled(!running && !target.isEmpty());
    ui->btnClose->setText(running ? tr("Cancel") : tr("Close"));
    if (!running)
        return;
    ui->progressBar->setValue(0);
    setStatus(tr("Backing up %1 recordings to %2 ...").arg(target.size()).arg(QDir::toNativeSeparators(runningOutput)));
    connect(job.get(), &SmartBackupJob::progressed, this, &SmartBackupDialog::jobProgressed);
    connect(job.get(), &QThread::finished, this, &SmartBackupDialog::jobFinished);
    job->start();
}

void SmartBackupDialog::jobProgressed(int percent, int item, int count)
{
    ui->progressBar->setValue(percent);
    setStatus(tr("Backing up recording %1 of %2 to %3 ...").arg(item + 1).arg(count).arg(QDir::toNativeSeparators(runningOutput)));
}

void SmartBackupDialog::jobFinished()
{
    if (!job || aborting)
        return;
    const SmartBackup::Result r = job->result();
    job.reset();
    setRunning(false);
    const QString where = QDir::toNativeSeparators(runningOutput);
    switch (r.status) {
    case SmartBackup::Result::Done:
        ui->progressBar->setValue(100);
        if (storeMode == 1) {
            qCDebug(lcShell, "Smart Backup written to %s", qPrintable(runningOutput));
            setStatus(tr("Smart Backup written to %1.").arg(where));
            archive = runningOutput;
            password = runningPassword;
            written = true;
            accept();
            return;
        } else {
            QStringList lines{tr("%1 of %2 recordings copied to %3.").arg(r.written.size()).arg(target.size()).arg(where)};
            for (const SmartBackup::Skipped &s : r.skipped)
                lines.append(tr("Not copied: %1 (%2)").arg(QDir::toNativeSeparators(s.source), s.reason));
            setStatus(lines.join(QLatin1Char('\n')), !r.skipped.isEmpty());
        }
        break;
    case SmartBackup::Result::Cancelled:
        ui->progressBar->setValue(0);
        setStatus(storeMode == 1 ? tr("Smart Backup cancelled; nothing was written.")
                                 : tr("Smart Backup cancelled: %1.").arg(r.error));
        break;
    default:
        ui->progressBar->setValue(0);
        qCWarning(lcShell, "Smart Backup to %s failed: %s", qPrintable(runningOutput), qPrintable(r.error));
        setStatus(storeMode == 1 ? tr("Smart Backup failed: %1. No archive was written.").arg(r.error)
                                 : tr("Smart Backup failed: %1.").arg(r.error),
                  true);
        break;
    }
}

void SmartBackupDialog::on_btnClose_clicked()
{
    if (isRunning()) {
        job->cancel();
        setStatus(tr("Cancelling ..."));
        return;
    }
    reject();
}

void SmartBackupDialog::abort()
{
    aborting = true;
    if (job) {
        job->cancel();
        job->wait();
        job.reset();
    }
    archive.clear();
    password.clear();
    written = false;
    QDialog::reject();
}

void SmartBackupDialog::reject()
{
    // Closing the window stops the backup; what it began is removed.
    if (isRunning()) {
        abort();
        return;
    }
    QDialog::reject();
}
