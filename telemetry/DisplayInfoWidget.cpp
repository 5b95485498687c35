#include "DisplayInfoWidget.h"

#include "ui_DisplayInfoWidget.h"

#include <QDateTime>

DisplayInfoWidget::DisplayInfoWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::DisplayInfoWidget)
{
    ui->setupUi(this);
}

DisplayInfoWidget::~DisplayInfoWidget()
{
    delete ui;
}

QString DisplayInfoWidget::infoText(qint64 seconds, int microseconds, int volume, double zoom)
{
    const QString when = QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    return QString::asprintf("%s %06d    Vol : %03d    Zoom : %.1f", qPrintable(when), microseconds, volume, zoom);
}

void DisplayInfoWidget::setInfo(qint64 seconds, int microseconds, int volume)
{
    if (seconds == sec && microseconds == usec && volume == vol)
        return;
    sec = seconds;
    usec = microseconds;
    vol = volume;
    refresh();
}

void DisplayInfoWidget::setZoom(double zoom)
{
    if (zoom == zoomFactor)
        return;
    zoomFactor = zoom;
    refresh();
}

void DisplayInfoWidget::clear()
{
    sec = -1;
    ui->infoLabel->clear();
}

void DisplayInfoWidget::refresh()
{
    if (sec < 0)
        return;
    ui->infoLabel->setText(infoText(sec, usec, vol, zoomFactor));
}

QString DisplayInfoWidget::text() const
{
    return ui->infoLabel->text();
}
