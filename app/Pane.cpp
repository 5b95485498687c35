#include "Pane.h"

#include "TalGLWidget.h"

#include <QResizeEvent>

Pane::Pane(int channel, int width, int height, QWidget *parent)
    : QWidget(parent)
    , glView(new TalGLWidget(channel, width, height, this))
{
}

void Pane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    glView->applySize(event->size().width(), event->size().height());
}
