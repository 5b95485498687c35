#pragma once
// The video backup worker: copies a time range of the catalogue, channel by
// channel, into Matroska files (base-<channel>.mkv) with SAMI subtitles
// (base-<channel>.smi), packets as recorded, nothing decoded. It reads the
// export load of the shared Reader (one export per Reader at a time), hands
// each packet to the ChannelExporter of its channel, and reports progress
// and, once finished, the result of every channel.
#include "ExportResult.h"

#include <QMutex>
#include <QThread>
#include <QVector>

#include <atomic>

class Reader;

class SaveToFileThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int MaxChannels = 9; // channels 0-8, one exporter each

    explicit SaveToFileThread(Reader *reader, QObject *parent = nullptr);
    // Stops a running export and waits for it.
    ~SaveToFileThread() override;

    void setDateTime(bool on) { dateTime = on; }
    void setSpeed(bool on) { speed = on; }
    void setLocation(bool on) { location = on; }
    void setSaveAudio(bool on) { saveAudio = on; }
    void setOverwrite(bool on) { overwrite = on; }

    // base: folder and file name without extension; from and to in seconds
    // since 1970 (both included). Channels outside 0-8 and repeats are
    // dropped. Starts the thread.
    void start(const QString &base, qint64 from, qint64 to, const QVector<int> &channels);
    // Asks the run to stop after the packet at hand; does not wait.
    void stop();
    bool isStopped() const;

    // After finished(): one result per channel asked, in the order asked.
    QVector<ChannelResult> results() const;
    // After finished(): true when every channel was written or skipped.
    bool succeeded() const;

signals:
    // Percent done, emitted only when it changes.
    void updateProgress(int percent);

protected:
    void run() override;

private:
    Reader *reader;
    QString basePath;
    qint64 rangeFrom = 0;
    qint64 rangeTo = 0;
    QVector<int> channelList;
    bool dateTime = false;
    bool speed = false;
    bool location = false;
    bool saveAudio = false;
    bool overwrite = false;
    bool claimed = false; // this export holds the Reader's export load

    mutable QMutex stateLock; // the stop flag and the results
    bool stopRequested = false;
    QVector<ChannelResult> outcome;
};
