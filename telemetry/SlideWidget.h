#pragma once
// The chart's time cursor: a yellow line as wide as the widget.
#include <QWidget>

class SlideWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SlideWidget(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
