#include "RangeSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

RangeSlider::RangeSlider(QWidget *parent) : QWidget(parent), mSpanColor(30, 144, 255)
{
    setMouseTracking(true);
}

QSize RangeSlider::minimumSizeHint() const
{
    return QSize(Margin + 2 * HandleSize, HandleSize + 4);
}

QColor RangeSlider::spanColor() const
{
    return mSpanColor;
}

int RangeSlider::lowerHandleX() const
{
    return int(double(mLowerValue - mMinimum) / interval() * usableLength() + 1);
}

int RangeSlider::upperHandleX() const
{
    return int(double(mUpperValue - mMinimum) / interval() * usableLength() + 1 + HandleSize);
}

QRect RangeSlider::handleRect(int x) const
{
    return QRect(x, (height() - HandleSize) / 2, HandleSize, HandleSize);
}

void RangeSlider::setLowerValue(int value)
{
    mLowerValue = qBound(mMinimum, value, mMaximum);
    emit lowerValueChanged(mLowerValue);
    update();
}

void RangeSlider::setUpperValue(int value)
{
    mUpperValue = qBound(mMinimum, value, mMaximum);
    emit upperValueChanged(mUpperValue);
    update();
}

void RangeSlider::resetValues()
{
    setLowerValue(mMinimum);
    setUpperValue(mMaximum);
    emit rangeChanged(mMinimum, mMaximum);
}

void RangeSlider::setMinimum(int value)
{
    if (value <= mMaximum) {
        mMinimum = value;
    } else {
        mMinimum = mMaximum;
        mMaximum = value;
    }
    resetValues();
}

void RangeSlider::setMaximum(int value)
{
    if (value >= mMinimum) {
        mMaximum = value;
    } else {
        mMaximum = mMinimum;
        mMinimum = value;
    }
    resetValues();
}

void RangeSlider::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        mSpanColor = isEnabled() ? QColor(30, 144, 255) : QColor(Qt::darkGray);
        update();
    }
    QWidget::changeEvent(event);
}

void RangeSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF groove(1, (height() - 5) / 2.0, width() - 2, 5);
    painter.setPen(QPen(Qt::gray, 0.8));
    painter.setBrush(QColor(208, 208, 208));
    painter.drawRoundedRect(groove, 1, 1);

    const QRect lower = handleRect(lowerHandleX()), upper = handleRect(upperHandleX());
    painter.setPen(Qt::NoPen);
    painter.setBrush(mSpanColor);
    painter.drawRect(QRectF(lower.center().x(), groove.top(), upper.center().x() - lower.center().x(), groove.height()));

    painter.setPen(QPen(Qt::darkGray, 1));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRoundedRect(lower, 2, 2);
    painter.drawRoundedRect(upper, 2, 2);
}

void RangeSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int x = event->pos().x();
    const QRect lower = handleRect(lowerHandleX()), upper = handleRect(upperHandleX());
    if (upper.contains(event->pos())) {
        dragging = Handle::Upper;
        dragOffset = x - (upper.x() + 5);
        return;
    }
    if (lower.contains(event->pos())) {
        dragging = Handle::Lower;
        dragOffset = x - (lower.x() + 5);
        return;
    }
    if (qAbs(event->pos().y() - height() / 2) > HandleSize / 2 + 1)
        return;
    // A press beside the handles pages toward it, never past the other handle.
    const int step = qMax(1, interval() / 10);
    if (x < lower.left()) {
        setLowerValue(mLowerValue - step);
    } else if (x > upper.right()) {
        setUpperValue(mUpperValue + step);
    } else if (x - lower.right() < upper.left() - x) {
        setLowerValue(qMin(mLowerValue + step, mUpperValue));
    } else {
        setUpperValue(qMax(mUpperValue - step, mLowerValue));
    }
}

void RangeSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging == Handle::None)
        return;
    const int x = event->pos().x() - dragOffset;
    const double perPixel = double(interval()) / usableLength();
    if (dragging == Handle::Lower) {
        if (x + 5 >= upperHandleX())
            setLowerValue(mUpperValue);
        else
            setLowerValue(mMinimum + int((x - 6) * perPixel));
    } else {
        if (x >= lowerHandleX() + 16.5)
            setUpperValue(mMinimum + int((x - 17) * perPixel));
        else
            setUpperValue(mLowerValue);
    }
}

void RangeSlider::mouseReleaseEvent(QMouseEvent *)
{
    dragging = Handle::None;
}
