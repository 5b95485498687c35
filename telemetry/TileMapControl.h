#pragma once
// A street map of tiles with the layers on it: the view (centre and zoom
// level), the tiles of the first layer's source through a TileLoader, a
// route drawn as a line coloured by speed with marks on it, and the image
// points of the layers. Tiles that are not (yet) there are drawn as a
// neutral grid; everything else is drawn regardless. Dragging moves the
// view, the wheel and zoomIn/zoomOut change the level, a click on the route
// reports the time of the route point under it.
#include "MapLayer.h"
#include "TileLoader.h"

#include <QColor>
#include <QPointF>
#include <QVector>
#include <QWidget>

#include <memory>
#include <vector>

class TileMapControl : public QWidget
{
    Q_OBJECT

public:
    struct RoutePoint {
        GeoPoint position;
        int speedKmh = 0;
        qint64 timeMs = 0;   // media time, reported when clicked
    };
    struct RouteMark {
        GeoPoint position;
        QColor colour;
        qint64 timeMs = 0;
    };
    // Consecutive route points further apart in time are not joined.
    static constexpr qint64 RouteGapMs = 10000;
    // A click this close to the route (pixels) picks its nearest point.
    static constexpr int ClickReach = 12;

    explicit TileMapControl(const QSize &size, QWidget *parent = nullptr);

    void setCrosshairsVisible(bool visible);
    // The map keeps the layer; the first layer's source gives the tiles.
    MapLayer *addLayer(std::unique_ptr<MapLayer> layer);
    MapLayer *layer(const QString &name) const;
    // After a layer's source changed.
    void sourceChanged();
    TileLoader *tileLoader() const { return loader; }

    void setView(const GeoPoint &centre);
    GeoPoint view() const { return centre; }
    void setZoom(int zoom);
    int currentZoom() const { return zoomLevel; }
    int minimumZoom() const;
    int maximumZoom() const;

    void setRoute(const QVector<RoutePoint> &points);
    QVector<RoutePoint> route() const { return routePoints; }
    void setRouteMarks(const QVector<RouteMark> &marks);
    // Centre and zoom so that the whole route shows; false without a route.
    bool fitRoute();

    // Where a point is drawn, in widget pixels.
    QPointF screenPosition(const GeoPoint &point) const;
    // Colour of the route at a speed: green when slow through yellow to red from 120 km/h.
    static QColor speedColour(int kmh);

public slots:
    void zoomIn();
    void zoomOut();

signals:
    void routeClicked(qint64 timeMs);
    // The user moved the view by hand.
    void viewDragged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    QPointF origin() const;
    void viewMoved();
    void projectRoute();
    void drawTiles(QPainter &painter, const QPointF &topLeft);
    void drawRoute(QPainter &painter, const QPointF &topLeft);
    void drawPoint(QPainter &painter, const ImagePoint &point);

    TileLoader *loader;
    std::vector<std::unique_ptr<MapLayer>> layers;
    GeoPoint centre;
    int zoomLevel = 0;
    bool crosshairs = false;
    QVector<RoutePoint> routePoints;
    QVector<QPointF> routePixels;   // world pixels at routeZoom
    int routeZoom = -1;
    QVector<RouteMark> marks;
    QPoint pressAt;
    QPointF pressCentre;
    bool pressed = false;
    bool dragging = false;
};
