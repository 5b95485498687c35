#pragma once
// A slider with two handles, the lower and upper end of a range, and the
// span between them coloured. Handles are dragged with the mouse; a press
// beside them pages by a tenth of the range.
#include <QWidget>

class RangeSlider : public QWidget
{
    Q_OBJECT

public:
    static constexpr int HandleSize = 11;
    static constexpr int Margin = 24; // width not usable by the handles' travel

    explicit RangeSlider(QWidget *parent = nullptr);

    int minimum() const { return mMinimum; }
    int maximum() const { return mMaximum; }
    int lowerValue() const { return mLowerValue; }
    int upperValue() const { return mUpperValue; }
    QColor spanColor() const;
    // Left edges of the two handles.
    int lowerHandleX() const;
    int upperHandleX() const;

    QSize minimumSizeHint() const override;

signals:
    void lowerValueChanged(int aLowerValue);
    void upperValueChanged(int aUpperValue);
    void rangeChanged(int aMin, int aMax);

public slots:
    // Clamped to [minimum, maximum]; the handles may pass each other here.
    void setLowerValue(int aLowerValue);
    void setUpperValue(int aUpperValue);
    // Both reset the values to the new ends.
    void setMinimum(int aMinimum);
    void setMaximum(int aMaximum);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum class Handle { None, Lower, Upper };

    int usableLength() const { return qMax(1, width() - Margin); }
    int interval() const { return qMax(1, mMaximum - mMinimum); }
    QRect handleRect(int x) const;
    void resetValues();

    int mMinimum = 0;
    int mMaximum = 100;
    int mLowerValue = 0;
    int mUpperValue = 100;
    Handle dragging = Handle::None;
    int dragOffset = 0;
    QColor mSpanColor;
};
