#pragma once
// The time bar: position slider and "elapsed/duration" label of the
// recording playing, zoom buttons and the volume slider. It follows playback
// unless the user holds the handle; only the user's own slider moves become
// seek requests.
#include <QWidget>

namespace Ui {
class TimeDisplayWidget;
}
class MySlider;

class TimeDisplayWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TimeDisplayWidget(QWidget *parent = nullptr);
    ~TimeDisplayWidget() override;

    // Slider steps per second: microseconds while the whole recording fits
    // the slider's int range, milliseconds beyond (recordings over 35 min).
    static int unitsPerSecond(qint64 durationSeconds);
    // "hh:mm:ss" of a number of seconds.
    static QString clockText(qint64 seconds);

    int recordingIndex() const { return index; }
    qint64 startTime() const { return start; }
    qint64 endTime() const { return end; }
    MySlider *timeSlider() const;
    MySlider *volumeSlider() const;
    QString label() const;

public slots:
    // A recording (catalogue index, start and end in seconds) starts.
    void setRange(int recordingIndex, qint64 startSeconds, qint64 endSeconds);
    // No recording: "00:00:00/00:00:00", the slider at its start, no seeks.
    void clear();
    // A frame of the leading channel at seconds.microseconds was shown.
    void updateTime(int recordingIndex, qint64 seconds, int microseconds);
    void sliderValueChanged(int value);
    void volSliderValueChanged(int value);
    void on_zoomInBtn_clicked();
    void on_zoomInitBtn_clicked();
    void on_zoomOutBtn_clicked();
    void on_volBtn_clicked();

signals:
    // A frame of another recording arrived: the receiver gives its range
    // through setRange.
    void recordingChanged(int recordingIndex);
    // The user moved the slider: play recordingIndex from this second on.
    void seekRequested(int recordingIndex, qint64 targetSecond);
    void volumeChanged(int percent);
    void zoomInRequested();
    void zoomInitRequested();
    void zoomOutRequested();

private:
    Ui::TimeDisplayWidget *ui;
    int index = -1;
    qint64 start = 0;
    qint64 end = 0;
    qint64 duration = 0;
    qint64 position = 0;
    int units = 1000000;
    bool muted = false;
};
