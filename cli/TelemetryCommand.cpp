#include "TelemetryCommand.h"

#include "CommandLine.h"
#include "RecordingArgs.h"
#include "RouteExport.h"

#include <cstdio>
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

void printJson(const std::vector<GpsFix> &gps, const std::vector<GSensorSample> &gs)
{
    printf("{\"gps\": [");
    for (size_t i = 0; i < gps.size(); ++i) {
        const GpsFix &s = gps[i];
        printf("%s{\"sec\": %u, \"usec\": %u, \"status\": \"%s\", \"valid\": %s, \"lat\": %.7f, \"lon\": %.7f, "
               "\"course\": %.3f, \"speed\": %d}",
               i ? ", " : "", unsigned(s.sec), unsigned(s.usec), qPrintable(statusText(s.status)),
               s.valid ? "true" : "false", s.position.lat, s.position.lon, s.course, int(s.speedKmh));
    }
    printf("], \"gsensor\": [");
    for (size_t i = 0; i < gs.size(); ++i) {
        const GSensorSample &s = gs[i];
        printf("%s{\"sec\": %u, \"usec\": %u, \"x\": %u, \"y\": %u, \"z\": %u}", i ? ", " : "", unsigned(s.sec),
               unsigned(s.usec), unsigned(s.x), unsigned(s.y), unsigned(s.z));
    }
    printf("]}\n");
}

void printCsv(const std::vector<GpsFix> &gps, const std::vector<GSensorSample> &gs)
{
    printf("sec,usec,status,lat,lon,course,speed\n");
    for (const GpsFix &s : gps)
        printf("%u,%u,%s,%.7f,%.7f,%.3f,%d\n", unsigned(s.sec), unsigned(s.usec), qPrintable(statusText(s.status)),
               s.position.lat, s.position.lon, s.course, int(s.speedKmh));
    printf("\nsec,usec,x,y,z\n");
    for (const GSensorSample &s : gs)
        printf("%u,%u,%u,%u,%u\n", unsigned(s.sec), unsigned(s.usec), unsigned(s.x), unsigned(s.y), unsigned(s.z));
}

void printBytes(const QByteArray &bytes)
{
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
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
    // The same normalised track the viewer shows and exports.
    const TelemetrySnapshot track = reader.telemetrySnapshot();
    const std::vector<GSensorSample> gs = reader.gsensorSamples();
    if (a.format == QLatin1String("csv"))
        printCsv(track.gps, gs);
    else if (a.format == QLatin1String("gpx"))
        printBytes(routeGpx(track.gps, routeName(a.source, a.entry)));
    else if (a.format == QLatin1String("kml"))
        printBytes(routeKml(track.gps, routeName(a.source, a.entry)));
    else
        printJson(track.gps, gs);
    return 0;
}
