#pragma once
// What the tile map shows on its tiles: a named layer on a tile source,
// carrying image points (the vehicle's marker is the point named "GPS").
#include "GeoPoint.h"
#include "TileSource.h"

#include <QPixmap>
#include <QString>

#include <memory>
#include <vector>

class ImagePoint
{
public:
    ImagePoint(const GeoPoint &coordinate, const QPixmap &image, const QString &name)
        : coordinate(coordinate), image(image), name(name)
    {
    }

    GeoPoint coordinate;
    QPixmap image;
    QString name;
    // Direction of travel, degrees clockwise from north; drawn as an arrow.
    double heading = 0;
    bool hasHeading = false;
    // The position is the last one known, not a current fix: drawn faded
    // with the words "no GPS".
    bool stale = false;
};

class MapLayer
{
public:
    MapLayer(const QString &name, const TileSource &source) : layerName(name), tiles(source) {}

    QString name() const { return layerName; }
    const TileSource &source() const { return tiles; }
    void setSource(const TileSource &source) { tiles = source; }
    // The layer keeps the point.
    ImagePoint *addPoint(std::unique_ptr<ImagePoint> point)
    {
        points.push_back(std::move(point));
        return points.back().get();
    }
    const std::vector<std::unique_ptr<ImagePoint>> &imagePoints() const { return points; }

private:
    QString layerName;
    TileSource tiles;
    std::vector<std::unique_ptr<ImagePoint>> points;
};
