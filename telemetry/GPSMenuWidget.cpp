#include "GPSMenuWidget.h"

#include "ui_GPSMenuWidget.h"

#include <QLabel>

#include <cmath>

namespace {
const QString NoValue = QStringLiteral("\u2014");
}

GPSMenuWidget::GPSMenuWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::GPSMenuWidget)
{
    ui->setupUi(this);
    setEventCount(0);
}

GPSMenuWidget::~GPSMenuWidget()
{
    delete ui;
}

QString GPSMenuWidget::latitudeText(double lat)
{
    return QStringLiteral("%1\u00b0 %2").arg(std::fabs(lat), 0, 'f', 6).arg(lat < 0 ? QLatin1Char('S') : QLatin1Char('N'));
}

QString GPSMenuWidget::longitudeText(double lon)
{
    return QStringLiteral("%1\u00b0 %2").arg(std::fabs(lon), 0, 'f', 6).arg(lon < 0 ? QLatin1Char('W') : QLatin1Char('E'));
}

QString GPSMenuWidget::headingText(double degrees)
{
    const int whole = int(std::lround(degrees)) % 360;
    return QStringLiteral("%1\u00b0").arg(whole < 0 ? whole + 360 : whole, 3, 10, QLatin1Char('0'));
}

void GPSMenuWidget::setGSensor(int x, int y, int z)
{
    ui->gsense_x->setText(QString::asprintf("%d", x));
    ui->gsense_y->setText(QString::asprintf("%d", y));
    ui->gsense_z->setText(QString::asprintf("%d", z));
}

void GPSMenuWidget::clearGSensor()
{
    for (QLabel *l : {ui->gsense_x, ui->gsense_y, ui->gsense_z})
        l->setText(NoValue);
}

void GPSMenuWidget::setGPS(const GeoPoint &position, double heading, bool hasHeading)
{
    ui->latitude->setText(latitudeText(position.lat));
    ui->longitude->setText(longitudeText(position.lon));
    ui->direction->setText(hasHeading ? headingText(heading) : NoValue);
}

void GPSMenuWidget::clearGPS()
{
    for (QLabel *l : {ui->latitude, ui->longitude, ui->direction})
        l->setText(NoValue);
}

void GPSMenuWidget::setEventCount(int count)
{
    ui->eventLabel->setText(count == 1 ? tr("1 harsh event") : tr("%1 harsh events").arg(count));
    ui->prevEventBtn->setEnabled(count > 0);
    ui->nextEventBtn->setEnabled(count > 0);
}

QString GPSMenuWidget::text(const char *labelName) const
{
    const QLabel *l = findChild<QLabel *>(QLatin1String(labelName));
    return l ? l->text() : QString();
}

void GPSMenuWidget::on_plusBtn_clicked()
{
    if (zoomed)
        return;
    zoomed = true;
    emit chartZoomChanged(true);
}

void GPSMenuWidget::on_minusBtn_clicked()
{
    if (!zoomed)
        return;
    zoomed = false;
    emit chartZoomChanged(false);
}

void GPSMenuWidget::on_prevEventBtn_clicked()
{
    emit previousEventRequested();
}

void GPSMenuWidget::on_nextEventBtn_clicked()
{
    emit nextEventRequested();
}

void GPSMenuWidget::on_thresholdsBtn_clicked()
{
    emit thresholdsRequested();
}
