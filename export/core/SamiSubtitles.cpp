#include "SamiSubtitles.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>

void GpsTimeline::add(qint64 sec, const GpsSample &fix)
{
    if (fix.status != 'A')
        return;
    if (!fixes.empty() && sec < fixes.back().sec)
        sorted = false;
    fixes.push_back({sec, fix.lat, fix.lon, fix.speed});
}

const GpsTimeline::Fix *GpsTimeline::at(qint64 sec) const
{
    if (!sorted) {
        std::stable_sort(fixes.begin(), fixes.end(), [](const Fix &a, const Fix &b) { return a.sec < b.sec; });
        sorted = true;
    }
    auto after = std::upper_bound(fixes.begin(), fixes.end(), sec, [](qint64 s, const Fix &f) { return s < f.sec; });
    if (after == fixes.begin())
        return nullptr;
    const Fix &fix = *(after - 1);
    return sec - fix.sec <= MaxAgeSeconds ? &fix : nullptr;
}

void SamiSubtitles::setItems(bool d, bool s, bool l)
{
    dateTime = d;
    speed = s;
    location = l;
}

void SamiSubtitles::videoFrame(qint64 clockMs, qint64 sec)
{
    if (!seconds.empty() && seconds.back().sec == sec) {
        seconds.back().lastClockMs = clockMs;
        return;
    }
    seconds.push_back({sec, clockMs, clockMs});
}

QString SamiSubtitles::text(qint64 sec, const GpsTimeline &gps) const
{
    const GpsTimeline::Fix *fix = gps.at(sec);
    QString line;
    if (dateTime)
        line = QDateTime::fromSecsSinceEpoch(sec).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    if (speed)
        line += QStringLiteral(" %1 KM").arg(fix ? fix->speed : 0);
    // QString::number always writes a decimal point, whatever the locale.
    if (location)
        line += QLatin1Char(' ') + QString::number(fix ? double(fix->lon) : 0.0, 'f', 6) + QLatin1Char(' ')
            + QString::number(fix ? double(fix->lat) : 0.0, 'f', 6);
    return line;
}

QStringList SamiSubtitles::bodyLines(const GpsTimeline &gps) const
{
    QStringList lines;
    if (!anyItem())
        return lines;
    for (size_t i = 0; i < seconds.size(); ++i) {
        const Second &s = seconds[i];
        lines.append(QStringLiteral("<SYNC Start=%1><P Class=KRCC>%2<BR>").arg(s.firstClockMs).arg(text(s.sec, gps)));
        const bool last = i + 1 == seconds.size();
        const bool gapFollows = !last && seconds[i + 1].firstClockMs - s.lastClockMs > 1000;
        // Cleared with the second's last picture, so only when it has more than one.
        if ((last || gapFollows) && s.lastClockMs > s.firstClockMs)
            lines.append(QStringLiteral("<SYNC Start=%1><P Class=KRCC>&nbsp;").arg(s.lastClockMs));
    }
    return lines;
}

bool SamiSubtitles::write(const QString &path, const GpsTimeline &gps, QString *error) const
{
    if (!anyItem())
        return true;
    // FFmpeg's reader knows a SAMI file by the upper-case tag on its first line.
    QByteArray out = "<SAMI>\n"
                     "<head>\n"
                     "<title></title>\n"
                     "<STYLE TYPE=text/css>\n"
                     "<!--\n"
                     "P { margin-left:2pt; margin-right:2pt; margin-bottom:1pt;\n"
                     "    margin-top:1pt; font-size:1pt; text-align:center;\n"
                     "    font-family:gothic, Sans-serif; font-weight:bold; color:white;\n"
                     "    }\n"
                     ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\n"
                     "-->\n"
                     "</STYLE>\n"
                     "</head>\n"
                     "<body>\n";
    for (const QString &line : bodyLines(gps))
        out += line.toUtf8() + '\n';
    out += "</body>\n</SAMI>\n";
    // Written beside the target and renamed over it only when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}
