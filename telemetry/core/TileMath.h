#pragma once
// Web Mercator as tile servers cut it: at zoom z the world is a square of
// 2^z x 2^z tiles of TileSize pixels, x growing east from 180 W, y growing
// south from 85.0511 N. Latitudes beyond the square are clamped to its
// edge; longitudes wrap around the date line.
#include "GeoPoint.h"

#include <QPoint>
#include <QPointF>

namespace TileMath {

constexpr int TileSize = 256;
constexpr int MinZoom = 0;
constexpr int MaxZoom = 18;
// Where the square world ends: atan(sinh(pi)) in degrees.
constexpr double MaxLatitude = 85.0511287798066;

double clampLatitude(double lat);
// Into [-180, 180).
double wrapLongitude(double lon);
int clampZoom(int zoom);
// Tiles along one side at zoom.
qint64 tilesPerSide(int zoom);
// Tile column wrapped into [0, tilesPerSide).
qint64 wrapTileX(qint64 x, int zoom);

// Pixel coordinates of a point in the whole world at zoom: x in
// [0, TileSize * 2^zoom), y likewise.
QPointF worldPixel(const GeoPoint &point, int zoom);
GeoPoint pointAtWorldPixel(const QPointF &pixel, int zoom);
// The tile holding a point.
QPoint tileFor(const GeoPoint &point, int zoom);

// The largest zoom (at most maxZoom) at which the box from south-west to
// north-east fits into a view of width x height pixels.
int zoomToFit(const GeoPoint &southWest, const GeoPoint &northEast, int width, int height, int maxZoom = MaxZoom);

} // namespace TileMath
