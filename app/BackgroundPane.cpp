#include "BackgroundPane.h"

#include "LogCategories.h"
#include "ui_BackgroundPane.h"

#include <QDebug>
#include <QPainter>
#include <QPixmap>

BackgroundPane::BackgroundPane(int index, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::BackgroundPane)
    , paneIndex(index)
    , logo(QStringLiteral(":/resource/nologo_bg.PNG"))
{
    ui->setupUi(this);
}

BackgroundPane::~BackgroundPane()
{
    delete ui;
}

void BackgroundPane::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), logo);
    painter.end();
    QWidget::paintEvent(event);
}

void BackgroundPane::mousePressEvent(QMouseEvent *)
{
    emit clicked(paneIndex);
}

void BackgroundPane::mouseDoubleClickEvent(QMouseEvent *)
{
    qCDebug(lcShell, "mouseDoubleClickEvent\n");
    emit doubleClicked(paneIndex);
}
