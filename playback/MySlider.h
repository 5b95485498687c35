#pragma once
// A slider that jumps to where it is clicked and reports the user's choices
// through its own signal: myValueChanged fires for a click beside the
// handle and for a release at another place than the last reported value,
// never for setValue, so programmatic updates cannot turn into commands.
#include <QSlider>

class MySlider : public QSlider
{
    Q_OBJECT

public:
    explicit MySlider(QWidget *parent = nullptr);
    explicit MySlider(Qt::Orientation orientation, QWidget *parent = nullptr);

    // True while the user holds the handle.
    bool isHandleGrabbed() const { return handleGrabbed; }
    // The value at a position in the widget, from the range and the length
    // along the slider (not inverted).
    int valueAt(const QPoint &position) const;
    // Where the style draws the handle.
    QRect handleRect() const;

signals:
    void myValueChanged(int value);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool handleGrabbed = false;
    int lastEmitted = 0;
};
