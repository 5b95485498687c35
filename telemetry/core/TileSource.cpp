#include "TileSource.h"

#include "LogCategories.h"

#include <QtGlobal>

QString TileSource::defaultServer()
{
    return QStringLiteral("https://tile.openstreetmap.org");
}

QString TileSource::chooseServer(const QString &environment, const QString &setting)
{
    if (!environment.isNull())
        return environment.trimmed();
    if (!setting.isNull())
        return setting.trimmed();
    return defaultServer();
}

QString TileSource::chooseServer(const QString &setting)
{
    const QString environment =
        qEnvironmentVariableIsSet(EnvironmentVariable) ? qEnvironmentVariable(EnvironmentVariable, QStringLiteral(""))
                                                       : QString();
    return chooseServer(environment, setting);
}

TileSource::TileSource(const QString &baseUrl, const QString &tilePath, int tileSize, int minZoom, int maxZoom)
    : base(baseUrl.trimmed()), pathTemplate(tilePath), size(tileSize), zoomMin(minZoom), zoomMax(maxZoom)
{
    baseParsed = QUrl(base, QUrl::StrictMode);
    const QString scheme = baseParsed.scheme().toLower();
    online = baseParsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
             !baseParsed.host().isEmpty() && baseParsed.query().isEmpty() && baseParsed.fragment().isEmpty();
    if (!online && !base.isEmpty())
        qCWarning(lcTelemetry, "tile server \"%s\" is not an http or https address: online map tiles are off", qPrintable(base));
}

QUrl TileSource::tileUrl(int zoom, int x, int y) const
{
    if (!online || zoom < zoomMin || zoom > zoomMax)
        return QUrl();
    QUrl url = baseParsed;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + pathTemplate.arg(zoom).arg(x).arg(y));
    return url;
}

bool TileSource::needsOpenStreetMapCredit() const
{
    return online && baseParsed.host().endsWith(QLatin1String("openstreetmap.org"));
}
