#include "TimeDisplayWidget.h"

#include "LogCategories.h"
#include "MySlider.h"
#include "ui_TimeDisplayWidget.h"

#include <QDateTime>
#include <QDebug>
#include <QSignalBlocker>

#include <climits>

TimeDisplayWidget::TimeDisplayWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::TimeDisplayWidget)
{
    ui->setupUi(this);
    connect(ui->horizontalSlider, &MySlider::myValueChanged, this, &TimeDisplayWidget::sliderValueChanged);
    ui->volSlider->setRange(0, 100);
    connect(ui->volSlider, &MySlider::myValueChanged, this, &TimeDisplayWidget::volSliderValueChanged);
    const QSignalBlocker blocker(ui->volSlider);
    ui->volSlider->setValue(64);
}

TimeDisplayWidget::~TimeDisplayWidget()
{
    delete ui;
}

MySlider *TimeDisplayWidget::timeSlider() const { return ui->horizontalSlider; }
MySlider *TimeDisplayWidget::volumeSlider() const { return ui->volSlider; }
QString TimeDisplayWidget::label() const { return ui->timeLabel->text(); }

int TimeDisplayWidget::unitsPerSecond(qint64 durationSeconds)
{
    return durationSeconds * 1000000 <= INT_MAX ? 1000000 : 1000;
}

QString TimeDisplayWidget::clockText(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void TimeDisplayWidget::setRange(int recordingIndex, qint64 startSeconds, qint64 endSeconds)
{
    index = recordingIndex;
    start = startSeconds;
    end = endSeconds;
    duration = qMax<qint64>(0, end - start);
    position = start;
    units = unitsPerSecond(duration);
    const QSignalBlocker blocker(ui->horizontalSlider);
    ui->horizontalSlider->setRange(0, int(duration * units));
    ui->horizontalSlider->setValue(0);
    ui->timeLabel->setText(clockText(duration) + QStringLiteral("/00:00:00"));
}

void TimeDisplayWidget::clear()
{
    setRange(-1, 0, 0);
}

void TimeDisplayWidget::updateTime(int recordingIndex, qint64 seconds, int microseconds)
{
    if (recordingIndex != index) {
        emit recordingChanged(recordingIndex);
        if (recordingIndex != index)
            return;
    }
    if (ui->horizontalSlider->isHandleGrabbed())
        return;
    position = seconds;
    const QSignalBlocker blocker(ui->horizontalSlider);
    if (seconds > start) {
        const qint64 elapsed = qMin(seconds - start, duration);
        const qint64 fraction = qint64(microseconds) * units / 1000000;
        ui->horizontalSlider->setValue(int(qMin(elapsed * units + fraction, qint64(duration) * units)));
        ui->timeLabel->setText(clockText(duration) + QLatin1Char('/') + clockText(elapsed));
    } else {
        ui->horizontalSlider->setValue(0);
    }
}

void TimeDisplayWidget::sliderValueChanged(int value)
{
    if (start == 0 || end == 0)
        return;
    const qint64 target = start + value / units;
    qCDebug(lcPlayback).noquote() << "moveTime = "
                       << QDateTime::fromSecsSinceEpoch(target).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    emit seekRequested(index, target);
}

void TimeDisplayWidget::volSliderValueChanged(int value)
{
    muted = false;
    emit volumeChanged(value);
}

void TimeDisplayWidget::on_zoomInBtn_clicked() { emit zoomInRequested(); }
void TimeDisplayWidget::on_zoomInitBtn_clicked() { emit zoomInitRequested(); }
void TimeDisplayWidget::on_zoomOutBtn_clicked() { emit zoomOutRequested(); }
// Mutes, and gives back the slider's volume on the next click.
void TimeDisplayWidget::on_volBtn_clicked()
{
    muted = !muted;
    emit volumeChanged(muted ? 0 : ui->volSlider->value());
}
