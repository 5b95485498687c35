#include "TelemetryCommand.h"

#include "CommandLine.h"
#include "GprmcParser.h"
#include "RecordingArgs.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

int fail(const QString &message)
{
    return failCommand("telemetry", message);
}

QString statusText(qint32 status)
{
    return status > 32 && status < 127 ? QString(QChar(char(status))) : QString();
}

// ISO 8601 UTC with milliseconds, as GPX wants it.
QString isoTime(quint32 sec, quint32 usec)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(sec) * 1000 + usec / 1000, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

// The GPS samples handed out by forward reading, normalised as the read
// thread does: record files convert the camera's units, index stores parse
// their NMEA text (and take the time of its entry).
std::vector<GpsSample> gpsSamples(Reader &reader, bool recordFile)
{
    constexpr size_t capacity = FrameBuffer::RecordFileCapacity + 4096;
    std::unique_ptr<uint8_t[]> data(new uint8_t[capacity]);
    GprmcParser parser;
    std::vector<GpsSample> out;
    FrameIndexEntry e;
    int len = 0;
    while ((len = reader.nextFrame(e, data.get(), capacity)) > 0) {
        if (e.marker != FrameIndexEntry::Gps)
            continue;
        if (recordFile) {
            if (len >= GpsSample::Size)
                out.push_back(normaliseRecordGps(GpsSample::load(data.get())));
            continue;
        }
        GpsSample s = parser.feed(reinterpret_cast<const char *>(data.get()), len);
        if (s.status == 0)
            continue;
        s.sec = e.sec;
        s.usec = e.usec;
        out.push_back(s);
    }
    return out;
}

void printJson(const std::vector<GpsSample> &gps, const std::vector<GSensorSample> &gs)
{
    printf("{\"gps\": [");
    for (size_t i = 0; i < gps.size(); ++i) {
        const GpsSample &s = gps[i];
        printf("%s{\"sec\": %u, \"usec\": %u, \"status\": \"%s\", \"lat\": %.7f, \"lon\": %.7f, \"course\": %.3f, "
               "\"speed\": %d}",
               i ? ", " : "", unsigned(s.sec), unsigned(s.usec), qPrintable(statusText(s.status)), double(s.lat),
               double(s.lon), double(s.course), int(s.speed));
    }
    printf("], \"gsensor\": [");
    for (size_t i = 0; i < gs.size(); ++i) {
        const GSensorSample &s = gs[i];
        printf("%s{\"sec\": %u, \"usec\": %u, \"x\": %u, \"y\": %u, \"z\": %u}", i ? ", " : "", unsigned(s.sec),
               unsigned(s.usec), unsigned(s.x), unsigned(s.y), unsigned(s.z));
    }
    printf("]}\n");
}

void printCsv(const std::vector<GpsSample> &gps, const std::vector<GSensorSample> &gs)
{
    printf("sec,usec,status,lat,lon,course,speed\n");
    for (const GpsSample &s : gps)
        printf("%u,%u,%s,%.7f,%.7f,%.3f,%d\n", unsigned(s.sec), unsigned(s.usec), qPrintable(statusText(s.status)),
               double(s.lat), double(s.lon), double(s.course), int(s.speed));
    printf("\nsec,usec,x,y,z\n");
    for (const GSensorSample &s : gs)
        printf("%u,%u,%u,%u,%u\n", unsigned(s.sec), unsigned(s.usec), unsigned(s.x), unsigned(s.y), unsigned(s.z));
}

// Text for an XML element: markup characters escaped, and the characters
// XML 1.0 cannot hold at all (control characters, lone surrogates that
// stand for undecodable file-name bytes) dropped.
QString xmlText(const QString &text)
{
    QString kept;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            kept.append(c);
            kept.append(text[++i]);
            continue;
        }
        const ushort u = c.unicode();
        if ((u >= 0x20 && !c.isSurrogate() && u != 0xFFFE && u != 0xFFFF) || u == '\t' || u == '\n' || u == '\r')
            kept.append(c);
    }
    return kept.toHtmlEscaped();
}

// A GPX 1.1 track of the valid fixes. Speed (m/s) goes in a <speed>
// element after the time, where GPX readers such as gpsbabel take it; the
// Garmin extension form is kept by them but not read as a speed.
void printGpx(const std::vector<GpsSample> &gps, const QString &name)
{
    printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"zidavova-tool\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
           ">\n"
           "<trk><name>%s</name><trkseg>\n",
           xmlText(name).toUtf8().constData());
    for (const GpsSample &s : gps) {
        if (s.status != 'A' || !std::isfinite(s.lat) || !std::isfinite(s.lon) || std::fabs(s.lat) > 90 ||
            std::fabs(s.lon) > 180)
            continue;
        printf("<trkpt lat=\"%.7f\" lon=\"%.7f\"><time>%s</time><speed>%.3f</speed></trkpt>\n",
               double(s.lat), double(s.lon), qPrintable(isoTime(s.sec, s.usec)), s.speed / 3.6);
    }
    printf("</trkseg></trk>\n</gpx>\n");
}

} // namespace

int telemetryCommand(const QStringList &args)
{
    RecordingArgs a;
    QString error = parseRecordingArgs(args, {"--entry", "--format", "--password", "--mf2-keys"}, &a);
    if (!error.isEmpty())
        return refuseArguments("telemetry", error);
    Reader reader;
    bool recordFile = false;
    error = loadRecording(reader, a, &recordFile);
    if (!error.isEmpty())
        return fail(error);
    const std::vector<GpsSample> gps = gpsSamples(reader, recordFile);
    const std::vector<GSensorSample> gs = reader.gsensorSamples();
    if (a.format == QLatin1String("csv"))
        printCsv(gps, gs);
    else if (a.format == QLatin1String("gpx"))
        printGpx(gps, QStringLiteral("%1 entry %2").arg(a.source).arg(a.entry));
    else
        printJson(gps, gs);
    return 0;
}
