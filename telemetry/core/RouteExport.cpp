#include "RouteExport.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

namespace {

QString isoTime(const GpsFix &f)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(f.sec) * 1000 + f.usec / 1000, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QByteArray number(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

} // namespace

QString routeName(const QString &source, int entry)
{
    return QStringLiteral("%1 entry %2").arg(source).arg(entry);
}

QString xmlText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const QVector<uint> codes = text.toUcs4();
    for (uint c : codes) {
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed)
            continue;
        switch (c) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&apos;"); break;
        default: out += QString::fromUcs4(&c, 1); break;
        }
    }
    return out;
}

QByteArray routeGpx(const std::vector<GpsFix> &fixes, const QString &name)
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<gpx version=\"1.1\" creator=\"ZidavOva Viewer\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                     "<trk><name>" + xmlText(name).toUtf8() + "</name><trkseg>\n";
    for (const GpsFix &f : fixes) {
        if (!f.valid)
            continue;
        out += "<trkpt lat=\"" + number(f.position.lat, 7) + "\" lon=\"" + number(f.position.lon, 7) + "\"><time>" +
               isoTime(f).toLatin1() + "</time><speed>" + number(f.speedKmh / 3.6, 3) + "</speed></trkpt>\n";
    }
    out += "</trkseg></trk>\n</gpx>\n";
    return out;
}

QByteArray routeKml(const std::vector<GpsFix> &fixes, const QString &name)
{
    QByteArray coordinates;
    const GpsFix *first = nullptr, *last = nullptr;
    int count = 0;
    for (const GpsFix &f : fixes) {
        if (!f.valid)
            continue;
        coordinates += number(f.position.lon, 7) + ',' + number(f.position.lat, 7) + ",0\n";
        if (!first)
            first = &f;
        last = &f;
        ++count;
    }
    const QByteArray title = xmlText(name).toUtf8();
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                     "<Document><name>" + title + "</name>\n";
    if (count > 0) {
        out += "<Placemark><name>" + title + "</name>\n<TimeSpan><begin>" + isoTime(*first).toLatin1() +
               "</begin><end>" + isoTime(*last).toLatin1() + "</end></TimeSpan>\n";
        if (count == 1)
            out += "<Point><coordinates>" + coordinates.trimmed() + "</coordinates></Point>\n";
        else
            out += "<LineString><tessellate>1</tessellate><coordinates>\n" + coordinates +
                   "</coordinates></LineString>\n";
        out += "</Placemark>\n";
    }
    out += "</Document>\n</kml>\n";
    return out;
}

bool writeFileReplacing(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("%1 could not be written whole: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("%1 could not be saved: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
