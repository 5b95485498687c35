#include "TileLoader.h"

#include "LogCategories.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <memory>

namespace {

// How long a tile may be kept when its server says nothing about it.
constexpr qint64 DefaultFreshSeconds = 7 * 24 * 3600;

QPixmap decodeTile(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QDateTime expiryOf(QNetworkReply *reply)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString control = QString::fromLatin1(reply->rawHeader("Cache-Control"));
    const QRegularExpressionMatch maxAge = QRegularExpression(QStringLiteral("max-age=(\\d+)")).match(control);
    if (maxAge.hasMatch())
        return now.addSecs(qMin<qint64>(maxAge.captured(1).toLongLong(), 365LL * 24 * 3600));
    const QDateTime expires = QDateTime::fromString(QString::fromLatin1(reply->rawHeader("Expires")), Qt::RFC2822Date);
    if (expires.isValid())
        return expires.toUTC();
    return now.addSecs(DefaultFreshSeconds);
}

} // namespace

TileLoader::TileLoader(QObject *parent)
    : QObject(parent), network(new QNetworkAccessManager(this)), disk(new QNetworkDiskCache(this)),
      memory(MemoryTiles)
{
    disk->setMaximumCacheSize(DiskCacheBytes);
    setCacheDirectory(QString());
    clock.start();
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &TileLoader::schedule);
    // Disk look-ups run a few at a time from the event loop, never in a burst.
    diskTimer.setSingleShot(true);
    diskTimer.setInterval(0);
    connect(&diskTimer, &QTimer::timeout, this, &TileLoader::lookUpDisk);
}

TileLoader::~TileLoader()
{
    abortAll();
}

QByteArray TileLoader::userAgent()
{
    return QByteArrayLiteral("ZidavOvaViewer/1.0 (dash camera recording viewer; Qt/" QT_VERSION_STR ")");
}

void TileLoader::setSource(const TileSource &source)
{
    abortAll();
    tiles = source;
    memory.clear();
    failures.clear();
    notOnDisk.clear();
    refreshed.clear();
    diskQueue.clear();
    schedule();
}

void TileLoader::setCacheDirectory(const QString &directory)
{
    QString dir = directory;
    if (dir.isEmpty()) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        dir = QDir(base.isEmpty() ? QDir::tempPath() : base).filePath(QStringLiteral("tiles"));
    }
    disk->setCacheDirectory(dir);
    notOnDisk.clear();
}

QString TileLoader::cacheDirectory() const
{
    return disk->cacheDirectory();
}

void TileLoader::setTransferTimeout(int ms)
{
    timeoutMs = qMax(1, ms);
}

void TileLoader::setWanted(const QVector<TileKey> &keys)
{
    wanted = keys;
    schedule();
}

void TileLoader::setActive(bool on)
{
    if (active == on)
        return;
    active = on;
    if (!active)
        abortAll();
    schedule();
}

QPixmap TileLoader::tile(const TileKey &key) const
{
    const QPixmap *p = memory.object(key);
    return p ? *p : QPixmap();
}

void TileLoader::abortAll()
{
    const QHash<TileKey, QNetworkReply *> pending = inFlight;
    inFlight.clear();
    for (QNetworkReply *reply : pending) {
        // Nothing of this loader may run for a reply it gave up.
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    diskQueue.clear();
    retryTimer.stop();
    diskTimer.stop();
}

void TileLoader::abortUnwanted()
{
    const QSet<TileKey> keep(wanted.begin(), wanted.end());
    for (auto it = inFlight.begin(); it != inFlight.end();) {
        if (keep.contains(it.key())) {
            ++it;
            continue;
        }
        QNetworkReply *reply = it.value();
        it = inFlight.erase(it);
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    diskQueue.erase(std::remove_if(diskQueue.begin(), diskQueue.end(),
                                   [&keep](const TileKey &k) { return !keep.contains(k); }),
                    diskQueue.end());
}

void TileLoader::schedule()
{
    if (!active || !tiles.isOnline()) {
        abortAll();
        return;
    }
    abortUnwanted();
    const qint64 now = clock.elapsed();
    for (const TileKey &key : wanted) {
        if (inFlight.contains(key) || memory.contains(key))
            continue;
        if (!notOnDisk.contains(key)) {
            if (!diskQueue.contains(key))
                diskQueue.append(key);
            continue;
        }
        const auto failure = failures.constFind(key);
        if (failure != failures.constEnd() && failure->retryAtMs > now)
            continue;
        request(key);
    }
    if (!diskQueue.isEmpty() && !diskTimer.isActive())
        diskTimer.start();
    armRetry();
}

void TileLoader::armRetry()
{
    qint64 earliest = -1;
    for (const TileKey &key : wanted) {
        const auto failure = failures.constFind(key);
        if (failure == failures.constEnd() || memory.contains(key) || inFlight.contains(key))
            continue;
        if (earliest < 0 || failure->retryAtMs < earliest)
            earliest = failure->retryAtMs;
    }
    if (earliest < 0) {
        retryTimer.stop();
        return;
    }
    retryTimer.start(int(qBound<qint64>(1, earliest - clock.elapsed(), LongestRetryMs)));
}

void TileLoader::lookUpDisk()
{
    for (int n = 0; n < DiskLookupsPerRound && !diskQueue.isEmpty(); ++n) {
        const TileKey key = diskQueue.takeFirst();
        const QUrl url = tiles.tileUrl(key.zoom, key.x, key.y);
        const QNetworkCacheMetaData meta = disk->metaData(url);
        std::unique_ptr<QIODevice> device(meta.isValid() ? disk->data(url) : nullptr);
        const QPixmap pixmap = device ? decodeTile(device->readAll()) : QPixmap();
        if (pixmap.isNull()) {
            if (meta.isValid())
                disk->remove(url);
            notOnDisk.insert(key);
            continue;
        }
        memory.insert(key, new QPixmap(pixmap));
        // A copy past its time is shown and asked for anew, once.
        if (meta.expirationDate().isValid() && meta.expirationDate() < QDateTime::currentDateTimeUtc() &&
            !refreshed.contains(key)) {
            refreshed.insert(key);
            request(key);
        }
        emit tilesChanged();
    }
    schedule();
}

void TileLoader::request(const TileKey &key)
{
    const QUrl url = tiles.tileUrl(key.zoom, key.x, key.y);
    if (!url.isValid() || inFlight.contains(key))
        return;
    QNetworkRequest req(url);
    req.setRawHeader("User-Agent", userAgent());
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Only tiles that decode reach the disk cache, and this loader puts them there.
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = network->get(req);
    inFlight.insert(key, reply);
    connect(reply, &QNetworkReply::finished, this, [this, key, reply] { finished(key, reply); });
}

void TileLoader::finished(const TileKey &key, QNetworkReply *reply)
{
    reply->deleteLater();
    if (inFlight.value(key) != reply)
        return;
    inFlight.remove(key);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray bytes = reply->readAll();
    if (reply->error() == QNetworkReply::NoError && status == 200 && store(key, bytes, reply)) {
        failures.remove(key);
        emit tilesChanged();
    } else {
        Failure &f = failures[key];
        ++f.attempts;
        const bool missing = status == 404 || status == 410;
        const qint64 pause =
            missing ? MissingTileRetryMs : qMin(LongestRetryMs, FirstRetryMs << qMin(f.attempts - 1, 10));
        f.retryAtMs = clock.elapsed() + pause;
        qCDebug(lcTelemetry, "map tile %d/%d/%d failed (HTTP %d, %s); next try in %lld s", key.zoom, key.x, key.y, status,
               qPrintable(reply->errorString()), static_cast<long long>(pause / 1000));
    }
    schedule();
}

bool TileLoader::store(const TileKey &key, const QByteArray &bytes, QNetworkReply *reply)
{
    const QPixmap pixmap = decodeTile(bytes);
    if (pixmap.isNull())
        return false;
    memory.insert(key, new QPixmap(pixmap));
    notOnDisk.remove(key);
    QNetworkCacheMetaData meta;
    meta.setUrl(tiles.tileUrl(key.zoom, key.x, key.y));
    meta.setSaveToDisk(true);
    meta.setLastModified(reply->header(QNetworkRequest::LastModifiedHeader).toDateTime());
    meta.setExpirationDate(expiryOf(reply));
    QNetworkCacheMetaData::RawHeaderList headers;
    headers.append({QByteArrayLiteral("Content-Type"), reply->rawHeader("Content-Type")});
    meta.setRawHeaders(headers);
    if (QIODevice *device = disk->prepare(meta)) {
        if (device->write(bytes) == bytes.size())
            disk->insert(device);
        else
            disk->remove(meta.url());
    }
    return true;
}
