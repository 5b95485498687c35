#pragma once
// The overlay line above the time bar: date and time of the frame on screen
// with its microseconds, the sound volume and the zoom factor of the
// selected pane.
#include <QWidget>

namespace Ui {
class DisplayInfoWidget;
}

class DisplayInfoWidget : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayInfoWidget(QWidget *parent = nullptr);
    ~DisplayInfoWidget() override;

    // "yyyy/MM/dd HH:mm:ss uuuuuu    Vol : vvv    Zoom : z.z", local time.
    static QString infoText(qint64 seconds, int microseconds, int volume, double zoom);
    // The frame on screen (seconds since 1970 and microseconds) and the volume (0..128).
    void setInfo(qint64 seconds, int microseconds, int volume);
    void setZoom(double zoom);
    // No frame on screen: the line is empty until the next setInfo.
    void clear();
    double zoom() const { return zoomFactor; }
    QString text() const;

private:
    void refresh();

    Ui::DisplayInfoWidget *ui;
    double zoomFactor = 1.0;
    qint64 sec = -1;
    int usec = 0;
    int vol = 0;
};
