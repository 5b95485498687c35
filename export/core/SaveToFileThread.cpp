#include "SaveToFileThread.h"

#include "ChannelExporter.h"
#include "ExportLog.h"
#include "GprmcParser.h"
#include "ParameterSets.h"
#include "Reader.h"
#include "StreamConfig.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include <memory>
#include <vector>

namespace {

constexpr size_t PacketBufferSize = 8 << 20;
constexpr int FallbackFrameRate = 30;

// One channel of the export and what became of it.
struct Lane {
    std::unique_ptr<ChannelExporter> exporter;
    ChannelResult result;
    bool active = false;  // set up, neither skipped nor failed
    bool started = false; // its first key frame in range was written
};

// Everything one run holds, so that run() reads as the steps it takes.
class ExportRun
{
public:
    ExportRun(Reader *reader, SaveToFileThread *thread) : reader(reader), thread(thread) {}

    std::vector<Lane> lanes;
    QVector<ChannelResult> results() const
    {
        QVector<ChannelResult> out;
        for (const Lane &l : lanes)
            out.append(l.result);
        return out;
    }

    void failAll(const QString &reason)
    {
        for (Lane &l : lanes) {
            if (l.result.status == ChannelResult::Status::Skipped)
                continue;
            if (l.exporter)
                l.exporter->abandon();
            l.active = false;
            l.result.status = ChannelResult::Status::Failed;
            l.result.reason = reason;
        }
    }

    // Loads the items of the range one after the other and hands out their packets.
    void copy(qint64 from, qint64 to, bool saveAudio)
    {
        const int mode = reader->mode();
        rangeFrom = from;
        rangeTo = to;
        audioWanted = saveAudio;
        recordStore = mode == 2;
        const int count = reader->selectRange(mode, from, to);
        if (count <= 0) {
            failAll(QStringLiteral("no recording in the range"));
            return;
        }
        const QVector<BankEntry> banks = recordStore ? QVector<BankEntry>() : reader->exportBanks();
        const QVector<FileRecord> files = recordStore ? reader->exportFiles() : QVector<FileRecord>();
        qCDebug(lcExport, "BK startTime: %s", qPrintable(QDateTime::fromSecsSinceEpoch(from).toString(Qt::ISODate)));
        qCDebug(lcExport, "BK endTime: %s", qPrintable(QDateTime::fromSecsSinceEpoch(to).toString(Qt::ISODate)));
        buffer.reset(new uint8_t[PacketBufferSize]);
        const int items = recordStore ? files.size() : banks.size();
        for (int i = 0; i < items && !thread->isStopped(); ++i) {
            qCDebug(lcExport, "New data read!!.....:%d.....start", i);
            const bool loaded = recordStore ? reader->loadFileForExport(i, files[i], i > 0) > 0
                                            : reader->loadBankForExport(banks[i], i > 0) == 0;
            qCDebug(lcExport, "New data read!!.....:%d......end", i);
            if (!loaded) {
                qCWarning(lcExport, "[%s::%d]export: item %d of the range cannot be read; skipped", "SaveToFileThread::run",
                         __LINE__, i);
                continue;
            }
            join.reset();
            joinAdts = recordStore && !files[i].isMF2;
            tracks = recordStore ? reader->exportVideoTracks() : std::vector<VideoTrack>();
            readItem(i, items);
        }
        qCDebug(lcExport, "Play end!!!!!!!");
    }

    // Ends every lane: finalised and renamed, or removed when stopped.
    void finish(bool stopped)
    {
        for (Lane &l : lanes) {
            if (!l.active)
                continue;
            if (stopped) {
                l.exporter->abandon();
                l.result.status = ChannelResult::Status::Stopped;
                l.result.reason = QStringLiteral("stopped before the end; nothing kept");
                continue;
            }
            if (!l.started) {
                l.result.status = ChannelResult::Status::Failed;
                l.result.reason = QStringLiteral("no key frame of channel %1 in the range").arg(l.result.channel);
                continue;
            }
            QString reason;
            l.result.packets = l.exporter->packets();
            if (l.exporter->closeMuxer(gps, &reason)) {
                l.result.status = ChannelResult::Status::Written;
                if (l.exporter->wantsSubtitles())
                    l.result.subtitlePath = l.exporter->subtitlePath();
            } else {
                l.result.status = ChannelResult::Status::Failed;
                l.result.reason = reason;
            }
        }
    }

private:
    void readItem(int item, int items)
    {
        const size_t total = std::max<size_t>(reader->exportIndexSize(), 1);
        size_t read = 0;
        FrameIndexEntry e;
        while (!thread->isStopped()) {
            const int n = reader->nextFrameExport(buffer.get(), PacketBufferSize, e);
            if (n <= 0)
                break;
            ++read;
            progress(int((double(item) + double(read) / double(total)) * 100.0 / items));
            // A running video backup that fails on every channel has nothing left to do.
            if (!anyLaneActive())
                return;
            if (qint64(e.sec) < rangeFrom || qint64(e.sec) > rangeTo)
                continue;
            switch (e.marker) {
            case FrameIndexEntry::Video:
                video(e, n);
                break;
            case FrameIndexEntry::Audio:
                if (audioWanted)
                    audio(e, n);
                break;
            case FrameIndexEntry::Gps:
                telemetry(e, n);
                break;
            default:
                break; // G-sensor groups and entries whose time ran backward
            }
        }
    }

    bool anyLaneActive() const
    {
        for (const Lane &l : lanes)
            if (l.active)
                return true;
        return false;
    }

    Lane *lane(int channel)
    {
        for (Lane &l : lanes)
            if (l.result.channel == channel && l.active)
                return &l;
        return nullptr;
    }

    void progress(int percent)
    {
        percent = std::clamp(percent, 0, 99); // 100 is for a finished export
        if (percent != lastPercent) {
            lastPercent = percent;
            emit thread->updateProgress(percent);
        }
    }

    void video(const FrameIndexEntry &e, int n)
    {
        Lane *l = lane(e.channel);
        if (!l)
            return;
        const bool key = e.gop == 0;
        if (!l->started) {
            // Only the channel's own key frame starts it: what comes before cannot be decoded.
            if (!key || !open(*l, e, n))
                return;
            l->started = true;
        }
        if (l->exporter->writePacket(0, buffer.get(), n, e, key ? 1 : 0) != 0)
            failLane(*l);
    }

    void audio(const FrameIndexEntry &e, int n)
    {
        const uint8_t *data = buffer.get();
        int size = n;
        QByteArray joined;
        if (joinAdts) {
            joined = join.feed(data, n);
            if (joined.isEmpty())
                return;
            data = reinterpret_cast<const uint8_t *>(joined.constData());
            size = joined.size();
        }
        for (Lane &l : lanes)
            if (l.active && l.started && l.exporter->hasAudio() && l.exporter->writePacket(1, data, size, e, 1) != 0)
                failLane(l);
    }

    // Every channel's subtitles take the fixes: the recording tags them with channel 0 only.
    void telemetry(const FrameIndexEntry &e, int n)
    {
        GpsSample fix;
        if (!recordStore)
            fix = nmea.feed(reinterpret_cast<const char *>(buffer.get()), n);
        else if (n >= GpsSample::Size)
            fix = normaliseRecordGps(GpsSample::load(buffer.get()));
        else
            return;
        gps.add(qint64(e.sec), fix);
    }

    void failLane(Lane &l)
    {
        QString reason;
        l.exporter->closeMuxer(gps, &reason);
        l.active = false;
        l.result.status = ChannelResult::Status::Failed;
        l.result.reason = reason;
        l.result.packets = l.exporter->packets();
    }

    bool failOpen(Lane &l, const QString &reason)
    {
        l.active = false;
        l.result.status = ChannelResult::Status::Failed;
        l.result.reason = reason;
        qCDebug(lcExport, "can not open file [%s]: %s", qPrintable(l.exporter->videoPath()), qPrintable(reason));
        return false;
    }

    // Describes the channel from its first key frame in range and the
    // recording it belongs to, and opens its file.
    bool open(Lane &l, const FrameIndexEntry &e, int n)
    {
        const int c = l.result.channel;
        const VideoTrack *track = recordStore && size_t(c) < tracks.size() ? &tracks[size_t(c)] : nullptr;
        const bool hevc = track ? track->codec == VideoCodec::Hevc : false;
        const QSize known = track ? QSize(int(track->width), int(track->height))
                                  : QSize(reader->widths().value(c), reader->heights().value(c));
        const QByteArray frame(reinterpret_cast<const char *>(buffer.get()), n);

        QByteArray sets = StreamConfig::parameterSets(buffer.get(), size_t(n), hevc);
        if (!StreamConfig::complete(sets, hevc) && track)
            sets = StreamConfig::parameterSets(reinterpret_cast<const uint8_t *>(track->config.constData()),
                                               size_t(track->config.size()), hevc);
        if (!StreamConfig::complete(sets, hevc)) {
            // A built-in set of the camera's encoder, only when it describes this very picture.
            const ParameterSet builtIn = hevc ? ParameterSets::h265ForSize(known.width(), known.height())
                                              : ParameterSets::forHeader(e.res);
            const QByteArray candidate(reinterpret_cast<const char *>(builtIn.data), int(builtIn.size));
            if (builtIn.data && StreamConfig::pictureSize(candidate + frame, hevc) == known)
                sets = candidate;
        }
        if (!StreamConfig::complete(sets, hevc))
            return failOpen(l, QStringLiteral("channel %1 carries no parameter sets").arg(c));
        QSize size = StreamConfig::pictureSize(sets + frame, hevc);
        if (size.isEmpty())
            size = known;
        if (size.isEmpty())
            return failOpen(l, QStringLiteral("the picture size of channel %1 is unknown").arg(c));

        ReaderMuxSettings s;
        s.width = size.width();
        s.height = size.height();
        s.hevc = hevc;
        const int fps = reader->exportFrameRate(c);
        s.framesPerSecond = fps > 0 ? fps : FallbackFrameRate;
        s.videoConfig = sets;
        if (l.exporter->saveAudio())
            describeAudio(s);
        if (!l.exporter->openMuxer(s))
            return failOpen(l, QStringLiteral("cannot create %1").arg(l.exporter->partPath()));
        return true;
    }

    // The sound as the recording stores it: raw PCM in an index store, AAC
    // described by its first ADTS header in record files. None when the
    // recording has no sound.
    void describeAudio(ReaderMuxSettings &s)
    {
        uint8_t head[16];
        const int got = reader->exportFirstAudio(head, sizeof head);
        if (got <= 0)
            return;
        if (!recordStore) {
            s.audio = ReaderMuxSettings::Audio::Pcm;
            s.sampleRate = AudioDescription::IndexStorePcmRate;
            s.audioChannels = 1;
            return;
        }
        StreamConfig::Adts adts;
        if (!StreamConfig::parseAdts(head, size_t(got), &adts) || adts.channelConfig == 0) {
            qCWarning(lcExport, "[%s::%d]export: the recording's sound is not framed as ADTS; no audio track",
                     "SaveToFileThread::run", __LINE__);
            return;
        }
        s.audio = ReaderMuxSettings::Audio::Aac;
        s.sampleRate = adts.sampleRate;
        s.audioChannels = adts.channels;
        s.audioConfig = StreamConfig::audioSpecificConfig(adts);
        s.adts = true;
    }

    Reader *reader;
    SaveToFileThread *thread;
    std::unique_ptr<uint8_t[]> buffer;
    qint64 rangeFrom = 0, rangeTo = 0;
    bool audioWanted = false;
    bool recordStore = false;
    bool joinAdts = false;
    StreamConfig::AdtsJoin join;
    std::vector<VideoTrack> tracks;
    GprmcParser nmea; // the export's own: playback's parser state is not touched
    GpsTimeline gps;
    int lastPercent = -1;
};

} // namespace

SaveToFileThread::SaveToFileThread(Reader *reader, QObject *parent) : QThread(parent), reader(reader) {}

SaveToFileThread::~SaveToFileThread()
{
    stop();
    wait();
}

void SaveToFileThread::start(const QString &base, qint64 from, qint64 to, const QVector<int> &channels)
{
    if (isRunning())
        return;
    basePath = base;
    rangeFrom = from;
    rangeTo = to;
    channelList.clear();
    for (int c : channels)
        if (c >= 0 && c < MaxChannels && !channelList.contains(c))
            channelList.append(c);
    {
        QMutexLocker locker(&stateLock);
        stopRequested = false;
        outcome.clear();
    }
    // Claimed here, on the starting thread: a second export started right
    // after this one is refused, whichever thread runs first.
    claimed = !channelList.isEmpty() && reader->beginExport();
    QThread::start(QThread::InheritPriority);
}

void SaveToFileThread::stop()
{
    QMutexLocker locker(&stateLock);
    stopRequested = true;
}

bool SaveToFileThread::isStopped() const
{
    QMutexLocker locker(&stateLock);
    return stopRequested;
}

QVector<ChannelResult> SaveToFileThread::results() const
{
    QMutexLocker locker(&stateLock);
    return outcome;
}

bool SaveToFileThread::succeeded() const
{
    QMutexLocker locker(&stateLock);
    if (outcome.isEmpty())
        return false;
    for (const ChannelResult &r : outcome)
        if (r.status != ChannelResult::Status::Written && r.status != ChannelResult::Status::Skipped)
            return false;
    return true;
}

void SaveToFileThread::run()
{
    qCDebug(lcExport, "SaveToFileThread::run...start");
    ExportRun job(reader, this);
    const QFileInfo base(basePath);
    const QString folder = base.path();
    for (int c : qAsConst(channelList)) {
        Lane l;
        l.result.channel = c;
        l.exporter = std::make_unique<ChannelExporter>(c);
        l.exporter->setBase(QDir(folder).filePath(QStringLiteral("%1-%2").arg(base.fileName()).arg(c)));
        l.exporter->setSubtitleItems(dateTime, speed, location);
        l.exporter->setSaveAudio(saveAudio);
        l.result.path = l.exporter->videoPath();
        const bool exists = QFileInfo::exists(l.exporter->videoPath())
            || (l.exporter->wantsSubtitles() && QFileInfo::exists(l.exporter->subtitlePath()));
        if (exists && !overwrite) {
            l.result.status = ChannelResult::Status::Skipped;
            l.result.reason = QStringLiteral("%1 exists and overwrite is off").arg(l.exporter->videoPath());
        } else {
            l.active = true;
        }
        job.lanes.push_back(std::move(l));
    }

    if (channelList.isEmpty() || base.fileName().isEmpty()) {
        job.failAll(QStringLiteral("no channel or no file name given"));
    } else if (!claimed) {
        job.failAll(QStringLiteral("another export of this catalogue is running"));
    } else {
        if (!QDir().mkpath(folder))
            job.failAll(QStringLiteral("cannot create the folder %1").arg(folder));
        else
            job.copy(rangeFrom, rangeTo, saveAudio);
        job.finish(isStopped());
    }
    if (claimed)
        reader->endExport();
    claimed = false;
    QMutexLocker locker(&stateLock);
    outcome = job.results();
}
