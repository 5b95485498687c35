#include "TileMapControl.h"

#include "TileMath.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor Neutral(228, 226, 220);
const QColor GridLine(206, 204, 198);
const QColor OutsideWorld(190, 196, 204);
constexpr int SpeedBuckets = 13;   // 0-9, 10-19, ... 120 km/h and more

double worldSize(int zoom)
{
    return double(TileMath::TileSize) * double(TileMath::tilesPerSide(zoom));
}

} // namespace

TileMapControl::TileMapControl(const QSize &size, QWidget *parent)
    : QWidget(parent), loader(new TileLoader(this))
{
    resize(size);
    setMinimumSize(64, 64);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(loader, &TileLoader::tilesChanged, this, qOverload<>(&QWidget::update));
}

void TileMapControl::setCrosshairsVisible(bool visible)
{
    crosshairs = visible;
    update();
}

MapLayer *TileMapControl::addLayer(std::unique_ptr<MapLayer> layer)
{
    layers.push_back(std::move(layer));
    if (layers.size() == 1)
        sourceChanged();
    update();
    return layers.back().get();
}

MapLayer *TileMapControl::layer(const QString &name) const
{
    for (const auto &l : layers)
        if (l->name() == name)
            return l.get();
    return nullptr;
}

void TileMapControl::sourceChanged()
{
    loader->setSource(layers.empty() ? TileSource() : layers.front()->source());
    setZoom(zoomLevel);
    viewMoved();
}

int TileMapControl::minimumZoom() const
{
    return layers.empty() ? TileMath::MinZoom : TileMath::clampZoom(layers.front()->source().minZoom());
}

int TileMapControl::maximumZoom() const
{
    return layers.empty() ? TileMath::MaxZoom : TileMath::clampZoom(layers.front()->source().maxZoom());
}

void TileMapControl::setView(const GeoPoint &point)
{
    if (!point.isValid())
        return;
    const GeoPoint next{TileMath::clampLatitude(point.lat), TileMath::wrapLongitude(point.lon)};
    if (next == centre)
        return;
    centre = next;
    viewMoved();
}

void TileMapControl::setZoom(int zoom)
{
    const int next = qBound(minimumZoom(), zoom, maximumZoom());
    if (next == zoomLevel)
        return;
    zoomLevel = next;
    viewMoved();
}

void TileMapControl::zoomIn()
{
    setZoom(zoomLevel + 1);
}

void TileMapControl::zoomOut()
{
    setZoom(zoomLevel - 1);
}

QPointF TileMapControl::origin() const
{
    const QPointF c = TileMath::worldPixel(centre, zoomLevel);
    return {std::floor(c.x() - width() / 2.0), std::floor(c.y() - height() / 2.0)};
}

// The tiles the view shows, nearest the centre first; asked for only while
// the map is on screen.
void TileMapControl::viewMoved()
{
    update();
    if (!isVisible())
        return;
    const QPointF topLeft = origin();
    const int size = TileMath::TileSize;
    const qint64 n = TileMath::tilesPerSide(zoomLevel);
    const qint64 x0 = qint64(std::floor(topLeft.x() / size)), x1 = qint64(std::floor((topLeft.x() + width() - 1) / size));
    const qint64 y0 = std::max<qint64>(0, qint64(std::floor(topLeft.y() / size)));
    const qint64 y1 = std::min<qint64>(n - 1, qint64(std::floor((topLeft.y() + height() - 1) / size)));
    const QPointF middle = topLeft + QPointF(width() / 2.0, height() / 2.0);
    struct Wanted { TileKey key; double distance; };
    QVector<Wanted> list;
    QSet<TileKey> seen;
    for (qint64 y = y0; y <= y1; ++y) {
        for (qint64 x = x0; x <= x1; ++x) {
            const TileKey key{zoomLevel, int(TileMath::wrapTileX(x, zoomLevel)), int(y)};
            if (seen.contains(key))
                continue;
            seen.insert(key);
            const QPointF c((x + 0.5) * size, (y + 0.5) * size);
            list.append({key, std::hypot(c.x() - middle.x(), c.y() - middle.y())});
        }
    }
    std::sort(list.begin(), list.end(), [](const Wanted &a, const Wanted &b) { return a.distance < b.distance; });
    QVector<TileKey> keys;
    for (const Wanted &w : list)
        keys.append(w.key);
    loader->setWanted(keys);
}

void TileMapControl::setRoute(const QVector<RoutePoint> &points)
{
    routePoints.clear();
    for (const RoutePoint &p : points)
        if (p.position.isValid())
            routePoints.append(p);
    routeZoom = -1;
    update();
}

void TileMapControl::setRouteMarks(const QVector<RouteMark> &list)
{
    marks = list;
    update();
}

bool TileMapControl::fitRoute()
{
    if (routePoints.isEmpty())
        return false;
    double south = 90, north = -90, west = 180, east = -180;
    for (const RoutePoint &p : routePoints) {
        south = std::min(south, p.position.lat);
        north = std::max(north, p.position.lat);
        west = std::min(west, p.position.lon);
        east = std::max(east, p.position.lon);
    }
    // A margin of a tenth on every side keeps the ends off the border.
    const int zoom = TileMath::zoomToFit({south, west}, {north, east}, width() * 8 / 10, height() * 8 / 10, maximumZoom());
    const QPointF a = TileMath::worldPixel({south, west}, zoom), b = TileMath::worldPixel({north, east}, zoom);
    const GeoPoint middle = TileMath::pointAtWorldPixel((a + b) / 2.0, zoom);
    zoomLevel = qBound(minimumZoom(), zoom, maximumZoom());
    centre = {TileMath::clampLatitude(middle.lat), middle.lon};
    viewMoved();
    return true;
}

QPointF TileMapControl::screenPosition(const GeoPoint &point) const
{
    const QPointF p = TileMath::worldPixel(point, zoomLevel) - origin();
    // The world repeats sideways: the copy nearest the middle of the view.
    const double w = worldSize(zoomLevel);
    double x = p.x();
    while (x - width() / 2.0 > w / 2.0)
        x -= w;
    while (width() / 2.0 - x > w / 2.0)
        x += w;
    return {x, p.y()};
}

QColor TileMapControl::speedColour(int kmh)
{
    const int bucket = qBound(0, kmh / 10, SpeedBuckets - 1);
    return QColor::fromHsv(120 - bucket * 10, 230, 225);
}

void TileMapControl::projectRoute()
{
    if (routeZoom == zoomLevel)
        return;
    routePixels.clear();
    routePixels.reserve(routePoints.size());
    for (const RoutePoint &p : routePoints)
        routePixels.append(TileMath::worldPixel(p.position, zoomLevel));
    routeZoom = zoomLevel;
}

void TileMapControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    viewMoved();
}

void TileMapControl::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    loader->setActive(true);
    viewMoved();
}

void TileMapControl::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    loader->setActive(false);
}

void TileMapControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPointF topLeft = origin();
    drawTiles(painter, topLeft);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRoute(painter, topLeft);
    for (const auto &l : layers)
        for (const auto &point : l->imagePoints())
            drawPoint(painter, *point);
    if (crosshairs) {
        painter.setPen(QPen(QColor(60, 60, 60), 1));
        const QPointF c(width() / 2.0, height() / 2.0);
        painter.drawLine(c - QPointF(10, 0), c + QPointF(10, 0));
        painter.drawLine(c - QPointF(0, 10), c + QPointF(0, 10));
    }
    if (!layers.empty() && layers.front()->source().needsOpenStreetMapCredit()) {
        const QString credit = QStringLiteral("\u00a9 OpenStreetMap contributors");
        QFont font = painter.font();
        font.setPointSize(7);
        painter.setFont(font);
        const QRect box = painter.fontMetrics().boundingRect(credit).adjusted(-3, -1, 3, 1);
        const QRect at(width() - box.width(), height() - box.height(), box.width(), box.height());
        painter.fillRect(at, QColor(255, 255, 255, 190));
        painter.setPen(QColor(40, 40, 40));
        painter.drawText(at, Qt::AlignCenter, credit);
    }
}

void TileMapControl::drawTiles(QPainter &painter, const QPointF &topLeft)
{
    painter.fillRect(rect(), Neutral);
    const int size = TileMath::TileSize;
    const qint64 n = TileMath::tilesPerSide(zoomLevel);
    const qint64 x0 = qint64(std::floor(topLeft.x() / size)), x1 = qint64(std::floor((topLeft.x() + width() - 1) / size));
    const qint64 y0 = qint64(std::floor(topLeft.y() / size)), y1 = qint64(std::floor((topLeft.y() + height() - 1) / size));
    for (qint64 y = y0; y <= y1; ++y) {
        for (qint64 x = x0; x <= x1; ++x) {
            const QRect cell(int(x * size - qint64(topLeft.x())), int(y * size - qint64(topLeft.y())), size, size);
            if (y < 0 || y >= n) {
                painter.fillRect(cell, OutsideWorld);
                continue;
            }
            const QPixmap tile = loader->tile({zoomLevel, int(TileMath::wrapTileX(x, zoomLevel)), int(y)});
            if (!tile.isNull()) {
                painter.drawPixmap(cell, tile);
                continue;
            }
            painter.setPen(QPen(GridLine, 1));
            for (int step = 0; step < size; step += size / 4) {
                painter.drawLine(cell.left() + step, cell.top(), cell.left() + step, cell.bottom());
                painter.drawLine(cell.left(), cell.top() + step, cell.right(), cell.top() + step);
            }
        }
    }
}

void TileMapControl::drawRoute(QPainter &painter, const QPointF &topLeft)
{
    if (routePoints.size() >= 2) {
        projectRoute();
        const QRectF visible = QRectF(topLeft, QSizeF(size())).adjusted(-8, -8, 8, 8);
        QPainterPath outline;
        QPainterPath buckets[SpeedBuckets];
        for (int i = 1; i < routePixels.size(); ++i) {
            if (routePoints[i].timeMs - routePoints[i - 1].timeMs > RouteGapMs)
                continue;
            const QPointF a = routePixels[i - 1], b = routePixels[i];
            if (!visible.intersects(QRectF(a, b).normalized().adjusted(-1, -1, 1, 1)))
                continue;
            const int bucket = qBound(0, routePoints[i].speedKmh / 10, SpeedBuckets - 1);
            outline.moveTo(a - topLeft);
            outline.lineTo(b - topLeft);
            buckets[bucket].moveTo(a - topLeft);
            buckets[bucket].lineTo(b - topLeft);
        }
        painter.strokePath(outline, QPen(QColor(0, 0, 0, 120), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (int b = 0; b < SpeedBuckets; ++b)
            if (!buckets[b].isEmpty())
                painter.strokePath(buckets[b], QPen(speedColour(b * 10), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    for (const RouteMark &mark : marks) {
        const QPointF at = screenPosition(mark.position);
        if (!rect().adjusted(-10, -10, 10, 10).contains(at.toPoint()))
            continue;
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(mark.colour);
        painter.drawEllipse(at, 6, 6);
    }
}

void TileMapControl::drawPoint(QPainter &painter, const ImagePoint &point)
{
    if (!point.coordinate.isValid())
        return;
    const QPointF at = screenPosition(point.coordinate);
    painter.save();
    if (point.stale)
        painter.setOpacity(0.55);
    if (point.hasHeading && !point.stale) {
        // An arrow just outside the marker, pointing where the vehicle goes.
        const double radius = std::max(point.image.width(), point.image.height()) / 2.0;
        painter.translate(at);
        painter.rotate(point.heading);
        QPolygonF arrow;
        arrow << QPointF(0, -radius - 11) << QPointF(-7, -radius + 1) << QPointF(7, -radius + 1);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor(20, 90, 210));
        painter.drawPolygon(arrow);
        painter.resetTransform();
    }
    if (!point.image.isNull())
        painter.drawPixmap(at - QPointF(point.image.width() / 2.0, point.image.height() / 2.0), point.image);
    painter.restore();
    if (point.stale) {
        const QString text = tr("no GPS");
        const QRect box = painter.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
        const QRect label(int(at.x()) - box.width() / 2, int(at.y()) + point.image.height() / 2 + 2, box.width(),
                          box.height());
        painter.fillRect(label, QColor(40, 40, 40, 200));
        painter.setPen(Qt::white);
        painter.drawText(label, Qt::AlignCenter, text);
    }
}

void TileMapControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    pressed = true;
    dragging = false;
    pressAt = event->pos();
    pressCentre = TileMath::worldPixel(centre, zoomLevel);
    event->accept();
}

void TileMapControl::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressed || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    const QPoint delta = event->pos() - pressAt;
    if (!dragging && delta.manhattanLength() <= 3)
        return;
    if (!dragging) {
        dragging = true;
        emit viewDragged();
    }
    const GeoPoint next = TileMath::pointAtWorldPixel(pressCentre - QPointF(delta), zoomLevel);
    centre = {TileMath::clampLatitude(next.lat), next.lon};
    viewMoved();
    event->accept();
}

void TileMapControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !pressed)
        return QWidget::mouseReleaseEvent(event);
    pressed = false;
    event->accept();
    if (dragging)
        return;
    int nearest = -1;
    double best = ClickReach;
    for (int i = 0; i < routePoints.size(); ++i) {
        const QPointF p = screenPosition(routePoints[i].position);
        const double d = std::hypot(p.x() - event->pos().x(), p.y() - event->pos().y());
        if (d <= best) {
            best = d;
            nearest = i;
        }
    }
    if (nearest >= 0)
        emit routeClicked(routePoints[nearest].timeMs);
}

void TileMapControl::wheelEvent(QWheelEvent *event)
{
    if (event->angleDelta().y() > 0)
        zoomIn();
    else if (event->angleDelta().y() < 0)
        zoomOut();
    event->accept();
}
