#pragma once
// Fetches map tiles for the view, on the GUI thread and without ever waiting:
// one QNetworkAccessManager, an in-memory cache of decoded tiles, and a
// size-capped QNetworkDiskCache under the user's cache folder that keeps
// only tiles that decoded. One request per tile at a time; requests for
// tiles that left the view are aborted; each has a transfer timeout; failed
// tiles are retried with growing pauses (a tile the server does not have,
// after ten minutes). While inactive (the map hidden) nothing is requested.
#include "TileSource.h"

#include <QCache>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QTimer>
#include <QVector>

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;

struct TileKey {
    int zoom = 0;
    int x = 0;
    int y = 0;
    bool operator==(const TileKey &o) const { return zoom == o.zoom && x == o.x && y == o.y; }
};
inline uint qHash(const TileKey &k, uint seed = 0)
{
    return ::qHash((quint64(quint32(k.zoom)) << 48) ^ (quint64(quint32(k.x)) << 24) ^ quint64(quint32(k.y)), seed);
}

class TileLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int MemoryTiles = 160;
    static constexpr qint64 DiskCacheBytes = 64 * 1024 * 1024;
    static constexpr int DefaultTransferTimeoutMs = 15000;
    static constexpr int DiskLookupsPerRound = 4;
    static constexpr qint64 FirstRetryMs = 2000;
    static constexpr qint64 LongestRetryMs = 60000;
    static constexpr qint64 MissingTileRetryMs = 600000;

    explicit TileLoader(QObject *parent = nullptr);
    ~TileLoader() override;

    // A new source forgets the tiles of the old one and aborts its requests.
    void setSource(const TileSource &source);
    const TileSource &source() const { return tiles; }
    // Default: "tiles" in the user's cache folder.
    void setCacheDirectory(const QString &directory);
    QString cacheDirectory() const;
    void setTransferTimeout(int ms);
    // The tiles the view shows now, most wanted first.
    void setWanted(const QVector<TileKey> &keys);
    void setActive(bool active);
    bool isActive() const { return active; }

    // The decoded tile when it is in memory; a null pixmap otherwise.
    QPixmap tile(const TileKey &key) const;
    int requestsInFlight() const { return inFlight.size(); }
    static QByteArray userAgent();

signals:
    // Tiles arrived; the view repaints.
    void tilesChanged();

private:
    struct Failure {
        int attempts = 0;
        qint64 retryAtMs = 0;
    };

    void schedule();
    void request(const TileKey &key);
    void finished(const TileKey &key, QNetworkReply *reply);
    void lookUpDisk();
    void abortAll();
    void abortUnwanted();
    void armRetry();
    bool store(const TileKey &key, const QByteArray &bytes, QNetworkReply *reply);

    TileSource tiles;
    QNetworkAccessManager *network = nullptr;
    QNetworkDiskCache *disk = nullptr;
    QCache<TileKey, QPixmap> memory;
    QHash<TileKey, QNetworkReply *> inFlight;
    QHash<TileKey, Failure> failures;
    QSet<TileKey> notOnDisk;    // looked for in the disk cache and not found
    QSet<TileKey> refreshed;    // stale disk copies already asked for anew
    QVector<TileKey> wanted;
    QVector<TileKey> diskQueue;
    QTimer retryTimer;
    QTimer diskTimer;
    QElapsedTimer clock;
    int timeoutMs = DefaultTransferTimeoutMs;
    bool active = false;
};
