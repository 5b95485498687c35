#include "MapButtonWidget.h"

#include "ui_MapButtonWidget.h"

MapButtonWidget::MapButtonWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::MapButtonWidget)
{
    ui->setupUi(this);
    setMapHidden(true);
    setExportEnabled(false);
}

MapButtonWidget::~MapButtonWidget()
{
    delete ui;
}

void MapButtonWidget::setMapHidden(bool hidden)
{
    mapHidden = hidden;
    ui->MapButton->setChecked(!hidden);
}

void MapButtonWidget::setExportEnabled(bool enabled)
{
    ui->exportRouteBtn->setEnabled(enabled);
}

void MapButtonWidget::on_MapButton_clicked()
{
    // The main window shows or hides the panel and reports the new state.
    ui->MapButton->setChecked(!mapHidden);
    emit toggleMapRequested();
}

void MapButtonWidget::on_exportRouteBtn_clicked()
{
    emit exportRouteRequested();
}
