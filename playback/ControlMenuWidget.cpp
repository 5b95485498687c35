#include "ControlMenuWidget.h"

#include "LogCategories.h"
#include "MySlider.h"
#include "TelemetryTrack.h"
#include "ui_ControlMenuWidget.h"

#include <QSignalBlocker>

ControlMenuWidget::ControlMenuWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::ControlMenuWidget)
{
    ui->setupUi(this);
    connect(ui->playSpeedSlider, &MySlider::myValueChanged, this, &ControlMenuWidget::sliderValueChangedForSpeed);
    connect(ui->brightSlider, &MySlider::myValueChanged, this, &ControlMenuWidget::sliderValueChangedForBrightness);
    connect(ui->contrastSlider, &MySlider::myValueChanged, this, &ControlMenuWidget::sliderValueChangedForContrast);
    for (MySlider *slider : {ui->playSpeedSlider, ui->brightSlider, ui->contrastSlider}) {
        const QSignalBlocker blocker(slider);
        slider->setValue(128);
    }
}

ControlMenuWidget::~ControlMenuWidget()
{
    delete ui;
}

MySlider *ControlMenuWidget::speedSlider() const { return ui->playSpeedSlider; }
MySlider *ControlMenuWidget::brightnessSlider() const { return ui->brightSlider; }
MySlider *ControlMenuWidget::contrastSlider() const { return ui->contrastSlider; }

float ControlMenuWidget::speedFor(int sliderValue)
{
    const int v = qBound(48, sliderValue / 16 * 16, 192);
    return 0.0078125f * v;
}

float ControlMenuWidget::speed() const
{
    return speedFor(ui->playSpeedSlider->value());
}

void ControlMenuWidget::on_prevBankBtn_clicked() { emit prevBankRequested(); }
void ControlMenuWidget::on_prevFastBtn_clicked() { emit fastBackwardRequested(); }
void ControlMenuWidget::on_prev1FrameBtn_clicked() { emit prevFrameRequested(); }
void ControlMenuWidget::on_prevBtn_clicked() { emit reverseRequested(); }
void ControlMenuWidget::on_pauseBtn_clicked() { emit pauseRequested(); }
void ControlMenuWidget::on_playBtn_clicked() { emit playRequested(); }
void ControlMenuWidget::on_next1FrameBtn_clicked() { emit nextFrameRequested(); }
void ControlMenuWidget::on_nextFastBtn_clicked() { emit fastForwardRequested(); }
void ControlMenuWidget::on_nextBankBtn_clicked() { emit nextBankRequested(); }

void ControlMenuWidget::sliderValueChangedForSpeed(int value)
{
    {
        // The slider rests on the multiple of 16 (or its minimum 50).
        const QSignalBlocker blocker(ui->playSpeedSlider);
        ui->playSpeedSlider->setValue(value / 16 * 16);
    }
    const float factor = speedFor(value);
    qCDebug(lcPlayback, "SpeedValue %f", double(factor));
    emit speedChanged(factor);
}

void ControlMenuWidget::sliderValueChangedForBrightness(int value)
{
    emit brightnessChanged(value / 128.0f);
}

void ControlMenuWidget::sliderValueChangedForContrast(int value)
{
    emit contrastChanged(value / 128.0f);
}

void ControlMenuWidget::setPictureFactors(float brightness, float contrast)
{
    const QSignalBlocker brightBlocker(ui->brightSlider);
    const QSignalBlocker contrastBlocker(ui->contrastSlider);
    ui->brightSlider->setValue(int(brightness * 128));
    ui->contrastSlider->setValue(int(contrast * 128));
}

void ControlMenuWidget::setSpeedUnitKmh(bool kmh)
{
    unitKmh = kmh;
    ui->kmLabel->setText(kmh ? QStringLiteral("Km/h") : QStringLiteral("MPH"));
}

void ControlMenuWidget::setGpsSpeed(int kmh)
{
    ui->KmNumber->display(speedInUnit(kmh, unitKmh));
}

void ControlMenuWidget::clearGpsSpeed()
{
    ui->KmNumber->display(QStringLiteral("--"));
}

