#pragma once
// What became of each channel of a video backup.
#include <QString>

struct ChannelResult {
    enum class Status { Written, Skipped, Failed, Stopped };

    int channel = 0;
    Status status = Status::Failed;
    QString path;         // the Matroska file
    QString subtitlePath; // the SAMI file, empty when none was written
    qint64 packets = 0;   // video and audio packets written
    QString reason;       // why it was skipped, failed or stopped

    static QString statusName(Status s)
    {
        switch (s) {
        case Status::Written:
            return QStringLiteral("written");
        case Status::Skipped:
            return QStringLiteral("skipped");
        case Status::Stopped:
            return QStringLiteral("stopped");
        case Status::Failed:
            break;
        }
        return QStringLiteral("failed");
    }
};
