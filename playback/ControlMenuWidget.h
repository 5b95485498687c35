#pragma once
// The control bar under the panes: transport buttons (the backward commands
// have their own buttons), the speed, brightness and contrast sliders and
// the speed read-out. It only announces what the user asked for; the main
// window carries the commands out.
#include <QWidget>

namespace Ui {
class ControlMenuWidget;
}
class MySlider;

class ControlMenuWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ControlMenuWidget(QWidget *parent = nullptr);
    ~ControlMenuWidget() override;

    // Play speed of a speed-slider value: whole sixteenths of 128 between
    // 48 (0.375) and 192 (1.5).
    static float speedFor(int sliderValue);
    float speed() const;

    MySlider *speedSlider() const;
    MySlider *brightnessSlider() const;
    MySlider *contrastSlider() const;

public slots:
    void on_prevBankBtn_clicked();
    void on_prevFastBtn_clicked();
    void on_prev1FrameBtn_clicked();
    void on_prevBtn_clicked();
    void on_pauseBtn_clicked();
    void on_playBtn_clicked();
    void on_next1FrameBtn_clicked();
    void on_nextFastBtn_clicked();
    void on_nextBankBtn_clicked();
    void sliderValueChangedForSpeed(int value);
    void sliderValueChangedForBrightness(int value);
    void sliderValueChangedForContrast(int value);

    // The factors of the pane that became current (1.0 = slider 128).
    void setPictureFactors(float brightness, float contrast);
    // "Km/h" or "MPH".
    void setSpeedUnitKmh(bool kmh);
    // GPS speed in km/h, shown in the chosen unit.
    void setGpsSpeed(int kmh);
    // No fix to show (none valid, or another catalogue): the read-out shows dashes.
    void clearGpsSpeed();

signals:
    void prevBankRequested();
    void fastBackwardRequested();
    void prevFrameRequested();
    void reverseRequested();
    void pauseRequested();
    void playRequested();
    void nextFrameRequested();
    void fastForwardRequested();
    void nextBankRequested();
    void speedChanged(float speed);
    void brightnessChanged(float factor);
    void contrastChanged(float factor);

private:
    Ui::ControlMenuWidget *ui;
    bool unitKmh = true;
};
