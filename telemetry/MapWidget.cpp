#include "MapWidget.h"

#include "TileMapControl.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

const GeoPoint StartPoint{37.4350678, 127.1748886};
const GeoPoint DemonstrationStart{25.06334876641631, 121.6330941952765};

QColor eventColour(HarshEvent::Kind kind)
{
    switch (kind) {
    case HarshEvent::Braking: return QColor(230, 40, 40);
    case HarshEvent::Acceleration: return QColor(40, 170, 70);
    case HarshEvent::Impact: return QColor(200, 40, 200);
    }
    return Qt::white;
}

QPushButton *overlayButton(const QString &text, const QString &tip, int width, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFixedSize(width, 22);
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    // Readable over any tile; a pressed toggle shows blue.
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgba(40,40,40,190); border: 1px solid rgba(255,255,255,90);"
        " border-radius: 3px; padding: 0px 2px; }"
        "QPushButton:checked { background: rgba(30,110,230,220); }"));
    return button;
}

} // namespace

MapWidget::MapWidget(QWidget *parent)
    : QWidget(parent), map(new TileMapControl(QSize(400, 250), this))
{
    map->setCrosshairsVisible(false);
    auto layer = std::make_unique<MapLayer>(QStringLiteral("Custom Layer"), TileSource());
    auto marker = std::make_unique<ImagePoint>(StartPoint, QPixmap(QStringLiteral(":/resource/location_picker.PNG")),
                                               QStringLiteral("GPS"));
    gps = layer->addPoint(std::move(marker));
    map->addLayer(std::move(layer));

    auto *fill = new QHBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(map);

    zoomInButton = overlayButton(QStringLiteral("+"), tr("Zoom in"), 28, map);
    zoomOutButton = overlayButton(QStringLiteral("-"), tr("Zoom out"), 28, map);
    testButton = overlayButton(QStringLiteral("test"), tr("Demonstration drive"), 50, map);
    testButton->setCheckable(true);
    followButton = overlayButton(tr("Follow"), tr("Keep the vehicle in the middle of the map"), 56, map);
    followButton->setCheckable(true);
    followButton->setChecked(true);
    fitButton = overlayButton(tr("Fit"), tr("Show the whole route"), 56, map);
    fitButton->setCheckable(true);
    label = new QLabel(map);
    label->setFont(QFont(QStringLiteral("Arial"), 10));
    label->setStyleSheet(QStringLiteral("color: rgb(30,30,30); background: rgba(255,255,255,170); padding: 1px 3px;"));
    label->hide();
    auto *overlay = new QVBoxLayout(map);
    overlay->setContentsMargins(4, 4, 4, 4);
    overlay->setSpacing(3);
    for (QPushButton *b : {zoomInButton, zoomOutButton, testButton, followButton, fitButton})
        overlay->addWidget(b, 0, Qt::AlignLeft);
    overlay->addStretch();
    overlay->addWidget(label, 0, Qt::AlignLeft);

    connect(zoomInButton, &QPushButton::clicked, map, &TileMapControl::zoomIn);
    connect(zoomOutButton, &QPushButton::clicked, map, &TileMapControl::zoomOut);
    connect(testButton, &QPushButton::clicked, this, &MapWidget::test);
    connect(&demonstration, &QTimer::timeout, this, &MapWidget::timeUpdate);
    demonstration.setInterval(DemonstrationStepMs);
    // Follow and fit exclude each other; moving the map by hand ends both.
    connect(followButton, &QPushButton::toggled, this, [this](bool on) {
        if (!on)
            return;
        fitButton->setChecked(false);
        if (gps->coordinate.isValid() && everHadFix)
            map->setView(gps->coordinate);
    });
    connect(fitButton, &QPushButton::toggled, this, [this](bool on) {
        if (!on)
            return;
        followButton->setChecked(false);
        map->fitRoute();
    });
    connect(map, &TileMapControl::viewDragged, this, [this] {
        followButton->setChecked(false);
        fitButton->setChecked(false);
    });
    connect(map, &TileMapControl::routeClicked, this, &MapWidget::routeClicked);

    map->setView(StartPoint);
    map->setZoom(StartZoom);
    showStatus();
}

void MapWidget::setTileServer(const QString &baseUrl)
{
    MapLayer *layer = map->layer(QStringLiteral("Custom Layer"));
    layer->setSource(TileSource(baseUrl));
    tilesOnline = layer->source().isOnline();
    map->sourceChanged();
    showStatus();
}

QString MapWidget::status() const
{
    return label->isHidden() ? QString() : label->text();
}

void MapWidget::showStatus()
{
    QString text;
    if (demonstration.isActive())
        text = tr("Demonstration drive");
    else if (!fix.valid && fix.catalogueIndex >= 0)
        text = everHadFix ? tr("No GPS: last known position") : tr("No GPS");
    if (!tilesOnline)
        text += (text.isEmpty() ? QString() : QStringLiteral(" \u00b7 ")) + tr("Map tiles off");
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

bool MapWidget::isFollowing() const
{
    return followButton->isChecked();
}

void MapWidget::setFollowing(bool follow)
{
    followButton->setChecked(follow);
}

void MapWidget::setFix(const GpsFix &next)
{
    fix = next;
    fixShown = false;
    if (isVisible())
        applyFix();
}

void MapWidget::applyFix()
{
    fixShown = true;
    if (fix.valid) {
        everHadFix = true;
        gps->coordinate = fix.position;
        gps->hasHeading = fix.hasCourse && fix.speedKmh > 2;
        gps->heading = fix.course;
        gps->stale = false;
        if (isFollowing())
            map->setView(fix.position);
    } else {
        // The last valid position stays, marked as no longer current.
        gps->stale = true;
    }
    map->update();
    showStatus();
}

void MapWidget::setPosition(const GeoPoint &point)
{
    if (!point.isValid())
        return;
    gps->coordinate = point;
    gps->stale = false;
    map->setView(point);
    map->update();
}

void MapWidget::setRoute(const TelemetrySnapshot &snapshot, const std::vector<HarshEvent> &events)
{
    QVector<TileMapControl::RoutePoint> route;
    for (const GpsFix &f : snapshot.gps)
        if (f.valid)
            route.append({f.position, f.speedKmh, f.timeMs});
    map->setRoute(route);
    QVector<TileMapControl::RouteMark> marks;
    for (const HarshEvent &e : events) {
        const int at = snapshot.nearestValidFix(e.peakUs);
        if (at >= 0)
            marks.append({snapshot.gps[size_t(at)].position, eventColour(e.kind), snapshot.gps[size_t(at)].timeMs});
    }
    map->setRouteMarks(marks);
    // A new recording starts with its marker unknown until its first fix.
    fix = GpsFix();
    fix.catalogueIndex = snapshot.catalogueIndex;
    if (fitButton->isChecked()) {
        map->fitRoute();
    } else if (!route.isEmpty() && isFollowing()) {
        gps->coordinate = route.first().position;
        map->setView(route.first().position);
        if (map->currentZoom() < RouteZoom)
            map->setZoom(RouteZoom);
    }
    showStatus();
}

QVector<GeoPoint> MapWidget::demonstrationRoute()
{
    // A drive through the streets near the start: a second a point, turning
    // gently, between town and road speeds.
    constexpr double Pi = 3.14159265358979323846;
    constexpr double MetresPerDegree = 111320.0;
    QVector<GeoPoint> route;
    GeoPoint p = DemonstrationStart;
    double heading = 60.0;
    for (int i = 0; i < DemonstrationPoints; ++i) {
        route.append(p);
        const double speed = 9.0 + 5.0 * std::sin(i / 17.0);   // m/s
        heading += 6.0 * std::sin(i / 23.0) + (i % 65 == 40 ? 90.0 : 0.0);
        const double rad = heading * Pi / 180.0;
        p.lat += speed * std::cos(rad) / MetresPerDegree;
        p.lon += speed * std::sin(rad) / (MetresPerDegree * std::cos(p.lat * Pi / 180.0));
    }
    return route;
}

void MapWidget::test()
{
    if (demonstration.isActive()) {
        stopDemonstration();
        return;
    }
    demoRoute = demonstrationRoute();
    demoIndex = 0;
    QVector<TileMapControl::RoutePoint> route;
    for (int i = 0; i < demoRoute.size(); ++i)
        route.append({demoRoute[i], 30, qint64(i) * DemonstrationStepMs});
    map->setRoute(route);
    map->setRouteMarks({});
    testButton->setChecked(true);
    demonstration.start();
    timeUpdate();
    showStatus();
}

void MapWidget::stopDemonstration()
{
    demonstration.stop();
    testButton->setChecked(false);
    showStatus();
}

void MapWidget::timeUpdate()
{
    if (demoRoute.isEmpty())
        return;
    if (demoIndex >= demoRoute.size())
        demoIndex = 0;
    const GeoPoint here = demoRoute[demoIndex];
    const GeoPoint next = demoRoute[(demoIndex + 1) % demoRoute.size()];
    gps->hasHeading = true;
    gps->heading = std::fmod(std::atan2((next.lon - here.lon) * std::cos(here.lat * 3.14159265358979 / 180.0),
                                        next.lat - here.lat) * 180.0 / 3.14159265358979 + 360.0, 360.0);
    setPosition(here);
    ++demoIndex;
}

void MapWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!fixShown)
        applyFix();
}
