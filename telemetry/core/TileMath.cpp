#include "TileMath.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
}

namespace TileMath {

double clampLatitude(double lat)
{
    if (!std::isfinite(lat))
        return 0.0;
    return qBound(-MaxLatitude, lat, MaxLatitude);
}

double wrapLongitude(double lon)
{
    if (!std::isfinite(lon))
        return 0.0;
    double wrapped = std::fmod(lon + 180.0, 360.0);
    if (wrapped < 0)
        wrapped += 360.0;
    return wrapped - 180.0;
}

int clampZoom(int zoom)
{
    return qBound(MinZoom, zoom, MaxZoom);
}

qint64 tilesPerSide(int zoom)
{
    return qint64(1) << clampZoom(zoom);
}

qint64 wrapTileX(qint64 x, int zoom)
{
    const qint64 n = tilesPerSide(zoom);
    const qint64 r = x % n;
    return r < 0 ? r + n : r;
}

QPointF worldPixel(const GeoPoint &point, int zoom)
{
    const double size = double(TileSize) * double(tilesPerSide(zoom));
    const double lon = wrapLongitude(point.lon);
    const double lat = clampLatitude(point.lat) * Pi / 180.0;
    const double x = (lon + 180.0) / 360.0 * size;
    const double y = (1.0 - std::log(std::tan(lat) + 1.0 / std::cos(lat)) / Pi) / 2.0 * size;
    return {x, qBound(0.0, y, size)};
}

GeoPoint pointAtWorldPixel(const QPointF &pixel, int zoom)
{
    const double size = double(TileSize) * double(tilesPerSide(zoom));
    const double lon = wrapLongitude(pixel.x() / size * 360.0 - 180.0);
    const double n = Pi * (1.0 - 2.0 * qBound(0.0, pixel.y(), size) / size);
    const double lat = std::atan(std::sinh(n)) * 180.0 / Pi;
    return {clampLatitude(lat), lon};
}

QPoint tileFor(const GeoPoint &point, int zoom)
{
    const QPointF p = worldPixel(point, zoom);
    const qint64 last = tilesPerSide(zoom) - 1;
    const qint64 x = std::min<qint64>(qint64(std::floor(p.x() / TileSize)), last);
    const qint64 y = std::min<qint64>(qint64(std::floor(p.y() / TileSize)), last);
    return {int(wrapTileX(x, zoom)), int(std::max<qint64>(0, y))};
}

int zoomToFit(const GeoPoint &southWest, const GeoPoint &northEast, int width, int height, int maxZoom)
{
    for (int zoom = clampZoom(maxZoom); zoom > MinZoom; --zoom) {
        const QPointF a = worldPixel(southWest, zoom);
        const QPointF b = worldPixel(northEast, zoom);
        if (std::fabs(b.x() - a.x()) <= width && std::fabs(a.y() - b.y()) <= height)
            return zoom;
    }
    return MinZoom;
}

} // namespace TileMath
