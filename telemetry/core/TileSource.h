#pragma once
// Where map tiles come from: a server's base URL and the path of each tile
// under it ("/%1/%2/%3.png": zoom, column, row), 256-pixel tiles at zoom
// levels 0 to 18. A source without a usable http or https base is offline:
// the map draws its grid and the vehicle, and asks no server.
#include <QString>
#include <QUrl>

class TileSource
{
public:
    static constexpr const char *DefaultPathTemplate = "/%1/%2/%3.png";
    static constexpr const char *EnvironmentVariable = "ZIDAVOVA_TILE_URL";
    // The public OpenStreetMap tile server.
    static QString defaultServer();
    // The base URL to use: the environment's when it is set, else the
    // viewer setting's when it is set, else the default. A null string means
    // "not set"; an empty one switches online tiles off.
    static QString chooseServer(const QString &environment, const QString &setting);
    // The same with the environment of this process.
    static QString chooseServer(const QString &setting);

    TileSource() = default;
    explicit TileSource(const QString &baseUrl, const QString &pathTemplate = QLatin1String(DefaultPathTemplate),
                        int tileSize = 256, int minZoom = 0, int maxZoom = 18);

    bool isOnline() const { return online; }
    QString baseUrl() const { return base; }
    int tileSize() const { return size; }
    int minZoom() const { return zoomMin; }
    int maxZoom() const { return zoomMax; }
    // The tile's address; an invalid URL when offline or the zoom is outside the levels.
    QUrl tileUrl(int zoom, int x, int y) const;
    // The default server's tiles carry a licence that asks for a credit line.
    bool needsOpenStreetMapCredit() const;

private:
    QString base;
    QString pathTemplate = QLatin1String(DefaultPathTemplate);
    QUrl baseParsed;
    int size = 256;
    int zoomMin = 0;
    int zoomMax = 18;
    bool online = false;
};
