#include "MySlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <cmath>

MySlider::MySlider(QWidget *parent)
    : MySlider(Qt::Horizontal, parent)
{
}

MySlider::MySlider(Qt::Orientation orientation, QWidget *parent)
    : QSlider(orientation, parent)
{
    setTracking(false);
}

QRect MySlider::handleRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

int MySlider::valueAt(const QPoint &position) const
{
    const bool horizontal = orientation() == Qt::Horizontal;
    const int length = horizontal ? width() : height();
    if (length <= 0)
        return minimum();
    const int along = horizontal ? position.x() : height() - position.y();
    // Double precision: the time bar's range reaches microseconds of a whole
    // recording, beyond what single precision holds exactly.
    const double span = double(maximum()) - double(minimum());
    return int(minimum() + std::trunc(along * span / length));
}

void MySlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (!handleRect().contains(event->pos())) {
            int v = qBound(minimum(), valueAt(event->pos()), maximum());
            if (invertedAppearance())
                v = maximum() - v + minimum();
            setValue(v);
            event->accept();
            lastEmitted = v;
            emit myValueChanged(v);
            // QSlider would page-step towards the click while the button is
            // held and move the handle away from the chosen place.
            return;
        }
        handleGrabbed = true;
    }
    QSlider::mousePressEvent(event);
}

void MySlider::mouseReleaseEvent(QMouseEvent *event)
{
    handleGrabbed = false;
    if (event->button() == Qt::LeftButton) {
        const int v = qBound(minimum(), valueAt(event->pos()), maximum());
        event->accept();
        if (v != lastEmitted) {
            lastEmitted = v;
            setValue(v);
            emit myValueChanged(v);
        }
    }
    QSlider::mouseReleaseEvent(event);
}
