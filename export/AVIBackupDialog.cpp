#include "AVIBackupDialog.h"

#include "ExportLog.h"
#include "SaveToFileThread.h"
#include "ui_AVIBackupDialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QSignalBlocker>

namespace {

const QString NameFormat = QStringLiteral("yyyyMMdd_HHmmss");

} // namespace

AVIBackupDialog::AVIBackupDialog(Reader *reader, int channelCount, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AVIBackupDialog)
    , reader(reader)
    , channelCount(qBound(1, channelCount, SaveToFileThread::MaxChannels))
{
    ui->setupUi(this);
    connect(ui->rangeSlider, &RangeSlider::lowerValueChanged, this, &AVIBackupDialog::lowerChanged);
    connect(ui->rangeSlider, &RangeSlider::upperValueChanged, this, &AVIBackupDialog::upperChanged);
    // Only channels the catalogue has can be chosen.
    for (int c = 1; c < 4; ++c)
        channelBox(c)->setEnabled(c < this->channelCount);
    for (QCheckBox *box : {ui->checkBoxFront, ui->checkBoxBack, ui->checkBoxLeft, ui->checkBoxRight, ui->checkBoxAll})
        connect(box, &QCheckBox::toggled, this, &AVIBackupDialog::showChannelCount);
    ui->stopBtn->setEnabled(false);
    showChannelCount();
}

AVIBackupDialog::~AVIBackupDialog()
{
    // Deleting a thread stops it and waits: its part files go with it.
    delete ui;
}

QCheckBox *AVIBackupDialog::channelBox(int channel) const
{
    QCheckBox *const boxes[4] = {ui->checkBoxFront, ui->checkBoxBack, ui->checkBoxLeft, ui->checkBoxRight};
    return boxes[qBound(0, channel, 3)];
}

void AVIBackupDialog::setRange(const QDateTime &minimum, const QDateTime &maximum, const QDateTime &start,
                               const QDateTime &end, const QString &fileName)
{
    rangeMinimum = minimum;
    rangeMaximum = maximum.isValid() && minimum.isValid() && maximum > minimum ? maximum : minimum;
    const qint64 span = rangeMinimum.isValid() ? rangeMinimum.secsTo(rangeMaximum) : 0;
    {
        const QSignalBlocker blocker(ui->rangeSlider);
        ui->rangeSlider->setMinimum(0);
        ui->rangeSlider->setMaximum(int(qBound<qint64>(0, span, INT_MAX)));
        ui->rangeSlider->setLowerValue(int(qBound<qint64>(0, start.isValid() ? rangeMinimum.secsTo(start) : 0, span)));
        ui->rangeSlider->setUpperValue(int(qBound<qint64>(0, end.isValid() ? rangeMinimum.secsTo(end) : span, span)));
    }
    // Nothing to choose from an empty span: the slider stays still.
    ui->rangeSlider->setEnabled(span > 0);
    ui->makeAVIBtn->setEnabled(rangeMinimum.isValid());
    showStart(rangeMinimum.addSecs(ui->rangeSlider->lowerValue()));
    showEnd(rangeMinimum.addSecs(ui->rangeSlider->upperValue()));
    ui->lineEditFileName->setText(fileName);
}

void AVIBackupDialog::setFolder(const QString &folder)
{
    ui->lineEditPath->setText(QDir::toNativeSeparators(folder));
}

QString AVIBackupDialog::folder() const
{
    return QDir::fromNativeSeparators(ui->lineEditPath->text());
}

QDateTime AVIBackupDialog::rangeStart() const
{
    return QDateTime(ui->startDateEdit->date(), ui->startTimeEdit->time());
}

QDateTime AVIBackupDialog::rangeEnd() const
{
    return QDateTime(ui->endDateEdit->date(), ui->endTimeEdit->time());
}

void AVIBackupDialog::showStart(const QDateTime &t)
{
    const QSignalBlocker date(ui->startDateEdit), time(ui->startTimeEdit);
    ui->startDateEdit->setDate(t.date());
    ui->startTimeEdit->setTime(t.time());
}

void AVIBackupDialog::showEnd(const QDateTime &t)
{
    const QSignalBlocker date(ui->endDateEdit), time(ui->endTimeEdit);
    ui->endDateEdit->setDate(t.date());
    ui->endTimeEdit->setTime(t.time());
}

void AVIBackupDialog::lowerChanged(int value)
{
    const QDateTime t = rangeMinimum.addSecs(value);
    showStart(t);
    ui->lineEditFileName->setText(t.toString(NameFormat));
}

void AVIBackupDialog::upperChanged(int value)
{
    showEnd(rangeMinimum.addSecs(value));
}

void AVIBackupDialog::startEdited(const QDateTime &c)
{
    QDateTime start = c;
    if (c < rangeMinimum)
        start = rangeMinimum;
    else if (rangeMinimum.secsTo(c) <= ui->rangeSlider->upperValue())
        start = c > rangeMaximum ? rangeMaximum.addSecs(-1) : c;
    else
        start = rangeMinimum.addSecs(ui->rangeSlider->upperValue() - 1);
    start = qMax(start, rangeMinimum);
    showStart(start);
    {
        const QSignalBlocker blocker(ui->rangeSlider);
        ui->rangeSlider->setLowerValue(int(rangeMinimum.secsTo(start)));
    }
    ui->lineEditFileName->setText(start.toString(NameFormat));
}

void AVIBackupDialog::endEdited(const QDateTime &c)
{
    QDateTime end = c;
    if (c < rangeMinimum)
        end = rangeMinimum.addSecs(1);
    else if (rangeMinimum.secsTo(c) >= ui->rangeSlider->lowerValue())
        end = c > rangeMaximum ? rangeMaximum : c;
    else
        end = rangeMinimum.addSecs(ui->rangeSlider->lowerValue() + 1);
    end = qMin(end, rangeMaximum);
    showEnd(end);
    const QSignalBlocker blocker(ui->rangeSlider);
    ui->rangeSlider->setUpperValue(int(rangeMinimum.secsTo(end)));
}

void AVIBackupDialog::on_startDateEdit_dateChanged(const QDate &date)
{
    startEdited(QDateTime(date, ui->startTimeEdit->time()));
}

void AVIBackupDialog::on_startTimeEdit_timeChanged(const QTime &time)
{
    startEdited(QDateTime(ui->startDateEdit->date(), time));
}

void AVIBackupDialog::on_endDateEdit_dateChanged(const QDate &date)
{
    endEdited(QDateTime(date, ui->endTimeEdit->time()));
}

void AVIBackupDialog::on_endTimeEdit_timeChanged(const QTime &time)
{
    endEdited(QDateTime(ui->endDateEdit->date(), time));
}

void AVIBackupDialog::on_checkBoxAll_toggled(bool)
{
    showChannelCount();
}

QVector<int> AVIBackupDialog::channels() const
{
    QVector<int> list;
    if (ui->checkBoxAll->isChecked()) {
        for (int c = 0; c < channelCount; ++c)
            list.append(c);
        return list;
    }
    for (int c = 0; c < 4 && c < channelCount; ++c)
        if (channelBox(c)->isChecked())
            list.append(c);
    return list;
}

void AVIBackupDialog::showChannelCount()
{
    ui->labelSelectChannel->setText(QStringLiteral("%1/%2").arg(channels().size()).arg(channelCount));
}

void AVIBackupDialog::on_saveToBtn_clicked()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("Browse For Folder"), folder());
    if (chosen.isEmpty())
        return;
    setFolder(chosen);
    emit folderChosen(chosen);
}

void AVIBackupDialog::setRunning(bool on)
{
    running = on;
    ui->makeAVIBtn->setEnabled(!on);
    ui->closeBtn->setEnabled(!on);
    ui->saveToBtn->setEnabled(!on);
    ui->stopBtn->setEnabled(on);
}

void AVIBackupDialog::on_makeAVIBtn_clicked()
{
    if (running)
        return;
    const QString name = ui->lineEditFileName->text().trimmed();
    const QVector<int> list = channels();
    QString refusal;
    if (folder().isEmpty())
        refusal = tr("Choose a folder to save to.");
    else if (name.isEmpty() || name.contains(QLatin1Char('/')))
        refusal = tr("Enter a file name (without folders).");
    else if (list.isEmpty())
        refusal = tr("Choose at least one channel.");
    else if (rangeEnd() < rangeStart())
        refusal = tr("The end lies before the start.");
    if (!refusal.isEmpty()) {
        ui->labelStatus->setText(refusal);
        return;
    }
    // The previous export has finished (nothing runs now): its thread can go.
    delete thread;
    thread = new SaveToFileThread(reader, this);
    // What an older thread still has queued is ignored.
    const QPointer<SaveToFileThread> current(thread);
    connect(thread, &QThread::finished, this, [this, current] {
        if (current && current == thread)
            backupFinished();
    });
    connect(thread, &SaveToFileThread::updateProgress, this, [this, current](int value) {
        if (current && current == thread)
            updateProgress(value);
    });
    thread->setDateTime(ui->checkBoxDateTime->isChecked());
    thread->setSpeed(ui->checkBoxSpeed->isChecked());
    thread->setLocation(ui->checkBoxLocation->isChecked());
    thread->setSaveAudio(ui->checkBoxSaveAudio->isChecked());
    thread->setOverwrite(ui->checkBoxOverwrite->isChecked());
    progress = 0;
    updateProgressImpl();
    ui->labelStatus->setText(tr("Exporting..."));
    setRunning(true);
    thread->start(QDir(folder()).filePath(name), rangeStart().toSecsSinceEpoch(), rangeEnd().toSecsSinceEpoch(), list);
}

void AVIBackupDialog::on_stopBtn_clicked()
{
    if (!running || !thread)
        return;
    // The worker checks its flag once per packet; finished() tells when it is done.
    thread->stop();
    ui->stopBtn->setEnabled(false);
    ui->labelStatus->setText(tr("Stopping..."));
}

void AVIBackupDialog::abortExport()
{
    if (!thread)
        return;
    thread->stop();
    thread->wait();
    if (running)
        backupFinished();
}

void AVIBackupDialog::on_closeBtn_clicked()
{
    if (!running)
        accept();
}

void AVIBackupDialog::reject()
{
    if (!running)
        QDialog::reject();
}

void AVIBackupDialog::closeEvent(QCloseEvent *event)
{
    if (running)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void AVIBackupDialog::backupFinished()
{
    // Handled once, when the current thread has really finished.
    if (!thread || !running || !thread->isFinished())
        return;
    qCDebug(lcExport, "AVIBackupDialog::backupFinished()");
    setRunning(false);
    QStringList written, skipped, failed;
    bool stopped = false;
    for (const ChannelResult &r : thread->results()) {
        const QString name = QDir::toNativeSeparators(r.path);
        switch (r.status) {
        case ChannelResult::Status::Written:
            written.append(name);
            break;
        case ChannelResult::Status::Skipped:
            skipped.append(tr("%1 (exists)").arg(name));
            break;
        case ChannelResult::Status::Stopped:
            stopped = true;
            break;
        case ChannelResult::Status::Failed:
            failed.append(tr("channel %1: %2").arg(r.channel).arg(r.reason));
            break;
        }
    }
    QStringList lines;
    if (stopped)
        lines.append(tr("Stopped: no file was kept."));
    if (!written.isEmpty())
        lines.append(tr("Written: %1").arg(written.join(QStringLiteral(", "))));
    if (!skipped.isEmpty())
        lines.append(tr("Skipped: %1").arg(skipped.join(QStringLiteral(", "))));
    if (!failed.isEmpty())
        lines.append(tr("Failed: %1").arg(failed.join(QStringLiteral("; "))));
    ui->labelStatus->setText(lines.join(QLatin1Char('\n')));
    // Full only when the export did what was asked.
    const bool succeeded = thread->succeeded() && !stopped;
    progress = succeeded ? 100 : 0;
    updateProgressImpl();
    emit exportFinished(succeeded);
}

void AVIBackupDialog::updateProgress(int value)
{
    progress = value;
    updateProgressImpl();
}

void AVIBackupDialog::updateProgressImpl()
{
    ui->progressBar->setValue(progress);
    qCDebug(lcExport, "progress : %d value:%d", progress, ui->progressBar->value());
}
