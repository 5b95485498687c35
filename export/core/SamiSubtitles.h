#pragma once
// The SAMI subtitles of an exported channel: once per second of recording,
// its date and time, the vehicle's speed and position, timed on the clock of
// the channel's written video so each line starts with a picture of the file.
#include "TelemetryRecords.h"

#include <QString>
#include <QStringList>

#include <vector>

// The GPS fixes of an export in decimal degrees and km/h, looked up by the
// second they were taken, whatever order they arrived in.
class GpsTimeline
{
public:
    // A fix older than this stands for no fix: after a tunnel the subtitles
    // do not show where the vehicle was minutes before.
    static constexpr qint64 MaxAgeSeconds = 10;

    struct Fix {
        qint64 sec = 0;
        float lat = 0;
        float lon = 0;
        qint32 speed = 0;
    };

    // Keeps only valid fixes (status 'A').
    void add(qint64 sec, const GpsSample &fix);
    // The latest fix taken at or before sec and not older than MaxAgeSeconds;
    // null when there is none.
    const Fix *at(qint64 sec) const;
    bool isEmpty() const { return fixes.empty(); }

private:
    mutable std::vector<Fix> fixes;
    mutable bool sorted = true;
};

class SamiSubtitles
{
public:
    void setItems(bool dateTime, bool speed, bool location);
    bool anyItem() const { return dateTime || speed || location; }
    // Forgets the seconds collected; the items stay.
    void clear() { seconds.clear(); }

    // A video packet of source second sec (seconds since 1970) went into
    // the file at clockMs (never earlier than the one before).
    void videoFrame(qint64 clockMs, qint64 sec);

    // The <SYNC> lines of the body: one per second of video, and a blank
    // line after the last picture of a second followed by a gap of more
    // than a second, and after the last picture of all.
    QStringList bodyLines(const GpsTimeline &gps) const;

    // Writes the whole file through a part file renamed into place; false
    // with error set when it cannot. Nothing is written without an item.
    bool write(const QString &path, const GpsTimeline &gps, QString *error) const;

private:
    QString text(qint64 sec, const GpsTimeline &gps) const;

    struct Second {
        qint64 sec;
        qint64 firstClockMs;
        qint64 lastClockMs;
    };
    std::vector<Second> seconds;
    bool dateTime = false;
    bool speed = false;
    bool location = false;
};
