#pragma once
// One cell of the grid: a thin holder of the channel's GL video view that
// passes its size on to the view.
#include <QWidget>

class TalGLWidget;

class Pane : public QWidget
{
    Q_OBJECT

public:
    Pane(int channel, int width, int height, QWidget *parent = nullptr);

    TalGLWidget *view() const { return glView; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    TalGLWidget *glView;
};
