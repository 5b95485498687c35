#pragma once
// The bar above the map: shows or hides the map panel, and exports the
// route of the recording on screen.
#include <QWidget>

namespace Ui {
class MapButtonWidget;
}

class MapButtonWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MapButtonWidget(QWidget *parent = nullptr);
    ~MapButtonWidget() override;

    // The map panel is hidden.
    bool isMapHidden() const { return mapHidden; }
    // Keeps the button's checked state in step with the panel.
    void setMapHidden(bool hidden);
    void setExportEnabled(bool enabled);

public slots:
    void on_MapButton_clicked();
    void on_exportRouteBtn_clicked();

signals:
    void toggleMapRequested();
    void exportRouteRequested();

private:
    Ui::MapButtonWidget *ui;
    bool mapHidden = true;
};
